// Compiled (not run) by the test uniform_block_wrong_size_fails: with
// WIDE_COMBINE_RECORD defined it declares a 40-byte fs_combine_params, which must
// not compile; without it the file must compile, so the failure is the check's.
#include "render/uniform_blocks.h"

#ifdef WIDE_COMBINE_RECORD
namespace wide {
struct fs_combine_params {
    vec2 HalfPixel;
    float Glow;
    float Vignette;
    float VignetteSize;
    float _pad20[5];
};
VELMO_UNIFORM_BLOCK(fs_combine_params, 32);
}  // namespace wide
#endif

int main() { return 0; }

// The graphics layer's description rules, apart from GL: what a zero field of
// a description means (defaults) and what is refused (validate), one pair per
// kind of object. The layer runs every init through both; tests run them
// without a display. Part of src/gfx, not of its contract (gfx.h).
//
// validate expects a description that has been through defaults. Where a rule
// depends on the driver or on other objects, the caller passes what it found:
// the driver's limits, whether a pipeline's shader is Valid, the attachments'
// image info. On refusal it returns false and says why in `why`, naming the
// object's label.
#pragma once
#include <cstddef>

#include "gfx/gfx.h"

namespace gfx::rules {

struct Refusal {
    char text[512];
};

struct Limits {
    int max_texture_size;
    bool msaa_render_targets;
};

BufferDesc defaults(const BufferDesc& desc);
bool validate(const BufferDesc& desc, Refusal* why);

ImageDesc defaults(const ImageDesc& desc);
bool validate(const ImageDesc& desc, const Limits& limits, Refusal* why);

ShaderDesc defaults(const ShaderDesc& desc);
bool validate(const ShaderDesc& desc, Refusal* why);

// Offsets and strides left zero are packed in attribute order.
PipelineDesc defaults(const PipelineDesc& desc);
bool validate(const PipelineDesc& desc, bool shader_valid, Refusal* why);

// color and depth: the attachments' info, null where the image is not Valid
// (for depth also where none is given).
PassDesc defaults(const PassDesc& desc);
bool validate(const PassDesc& desc, const ImageInfo* color, const ImageInfo* depth, Refusal* why);

// ---- the pieces the rules are made of, shared with the GL side

int bytes_per_pixel(PixelFormat format);  // 0 for Default and None
int vertex_format_bytes(VertexFormat format);
bool is_depth_format(PixelFormat format);
bool is_color_format(PixelFormat format);
int mip_extent(int size, int level);
size_t level_bytes(int width, int height, PixelFormat format, int level);
int full_mip_chain(int width, int height);  // levels down to 1 x 1

// Every level of `data` that is given must have its exact size; with
// all_required every one of num_mipmaps levels must be given.
bool check_levels(int width, int height, int num_mipmaps, PixelFormat format, const ImageData& data,
                  bool all_required, const char* label, Refusal* why);

// A uniform block the linked program uses, against the declared sizes
// (declared[stage][slot], 0: none): it must sit at a binding where a block is
// declared (vertex slot k at k, fragment slot k at MAX_SHADERSTAGE_UBS + k) and
// take no more than the declared bytes.
bool check_uniform_block(const size_t (&declared)[2][MAX_SHADERSTAGE_UBS], int binding, size_t size,
                         const char* block_name, const char* label, Refusal* why);

}  // namespace gfx::rules

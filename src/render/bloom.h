// Bloom and composite: the picture in the window.
//
// Each frame run_post_chain ends the off-screen pass, blurs the colour image
// down through four levels (1/2 .. 1/16 of the 16:9 target size, dual-filter
// downsampling) and back up to level 0 (three upsampling passes), then draws
// into the window's default pass, inside present_rect: the sharp image plus
// the bloom scaled by Glow, darkened towards the corners by a smoothstep
// vignette (Vignette blends it in, VignetteSize is its reach in uv units).
// Outside the rectangle the window is cleared to (0, 0, 0, 0).
//
// Contract
// - rebuild_blur_levels and create_post_pipelines are called by resize_targets;
//   the pipelines are made once, the levels on every rebuild.
// - The frame driver writes composite_params each frame after resize_targets
//   (from "post:glow" and "post:vignette", VignetteSize 1) and zeroes all three
//   when the frame draws no content, so the composite shows the clear colour
//   untouched.
// - run_post_chain is called once per frame with the off-screen pass open and
//   leaves no pass open; commit is the caller's.
// - A target under 16 pixels on a side still gets blur levels of at least 1 × 1.
#pragma once
#include <cstdint>

#include "gfx/gfx.h"
#include "render/uniform_blocks.h"

constexpr int blur_level_count = 4;

struct BloomChain {
    gfx::Image blur_image[blur_level_count];  // "blur-%d"
    gfx::Pass blur_pass[blur_level_count];    // "blur-pass-%d"
    int32_t blur_width[blur_level_count];     // the size each level was made with
    int32_t blur_height[blur_level_count];
    gfx::Shader down_shader, up_shader, combine_shader;
    gfx::Pipeline down_pipeline, up_pipeline, combine_pipeline;
};

struct CompositeParams {
    float Glow;
    float Vignette;
    float VignetteSize;
};

extern BloomChain bloom_chain;
extern CompositeParams composite_params;  // starts at 0, 0, 0

struct ImageSize {
    int32_t width, height;
};

// Level i of a target_width × target_height target: each side / (2 << i), at least 1.
ImageSize blur_level_size(int32_t target_width, int32_t target_height, int level);

// (0.5 / width, 0.5 / height) of a source image.
vec2 half_pixel(int32_t width, int32_t height);

// Every uniform record of one run of the chain, from the current targets and parameters.
struct PostChainUniforms {
    fs_down_params down[blur_level_count];   // pass i reads the colour image (i = 0) or level i − 1
    fs_up_params up[blur_level_count - 1];   // up[i] writes level i from level i + 1
    vs_combine_params combine_vs;
    fs_combine_params combine_fs;
};
PostChainUniforms post_chain_uniforms();

void rebuild_blur_levels();
void create_post_pipelines();
void run_post_chain();

// Render targets and the frame's passes.
//
// Everything visible is drawn into one window-sized off-screen colour and depth
// target (offscreen_pass); the post chain (render/bloom.h) blurs it and maps the
// whole image onto `present_rect`, the 16:9 rectangle centred in the window.
// Before that the scene renders light-space depth into the fixed 2048 × 2048
// shadow map. The unit-square quad the post chain and the 2D layers draw with
// lives here too.
//
// Contract
// - resize_targets(width, height) is the only entry. Call it once after
//   gfx::setup and before any other module makes a pipeline (they read
//   target_sample_count), then once per frame before any pass begins.
// - present_rect is recomputed on every call. The targets are rebuilt only when
//   the rectangle's pixel size changes: off-screen images and pass, the bloom
//   levels, the shadow images and pass. Programs, pipelines and the quad are
//   made once, at the first build.
// - When the window changes size but the rectangle keeps its pixel size, the
//   window-sized images and the off-screen pass are remade at the new window
//   size, so window_width/height always name the current window (the composite
//   divides by them).
// - Pipelines drawing into offscreen_pass use colour BGRA8, depth DepthStencil
//   and target_sample_count; it depends on the device and on antialias_requested
//   only, so it never changes between rebuilds.
// - Creation results are never examined: the graphics layer skips what failed.
#pragma once
#include <cstdint>

#include "gfx/gfx.h"

// "Antialias" in the setup dialog; set before app_init. Off-screen targets are
// 4-sample only when it is set and the device has multisampled render targets.
extern bool antialias_requested;

struct Rect {
    float x, y, w, h;
};

struct RenderTargets {
    int32_t window_width, window_height;  // window size the off-screen images were made for
    int32_t target_width, target_height;  // 16:9 rectangle at the last rebuild; 0 before the first
    Rect present_rect;                    // window pixels, origin top-left; every call
    int32_t target_sample_count;          // 4 or 1
    gfx::Image color_image;               // "color-image"
    gfx::Image depth_image;               // "depth-image"
    gfx::Pass offscreen_pass;             // "offscreen-pass"
    // How often the targets were remade: full rebuilds (the rectangle's size
    // changed) and window-only rebuilds (the window changed, the rectangle not).
    int32_t rebuild_count;
    int32_t window_rebuild_count;
};

constexpr int32_t shadow_map_size = 2048;

struct ShadowMap {
    gfx::Image color_image;  // R32F: light-space z/w of the nearest surface, 1.0 where empty
    gfx::Image depth_image;  // "shadow-map-depth-image"
    gfx::Pass pass;
    gfx::PassAction pass_action;  // colour (1, 1, 1, 1), depth 1.0, stencil 0
    gfx::Shader shader;           // "shadow_shader"
    gfx::Pipeline pipeline;       // "shadow-map-pipeline"
};

// Unit square, corners (0, 1), (1, 1), (1, 0), (0, 0); the position doubles as
// the texture coordinate. Users copy `bindings` and fill the image slots.
struct FullscreenQuad {
    gfx::Buffer vertex_buffer;
    gfx::Buffer index_buffer;
    gfx::Bindings bindings;
};
constexpr int fullscreen_quad_index_count = 6;

extern RenderTargets render_targets;
extern ShadowMap shadow_map;
extern FullscreenQuad fullscreen_quad;

// The 16:9 rectangle inside a width × height window, in single precision: the
// derived side is rounded half away from zero and kept at least 64 pixels (so
// it may reach past a tiny window); the offset is floored.
Rect compute_present_rect(int32_t width, int32_t height);

// Each value is raised to at least 1.
void resize_targets(int32_t width, int32_t height);

// Forgets every handle of the targets, the shadow map, the quad and the bloom
// chain, back to the unbuilt state. Call it after gfx::shutdown (which released
// them all), so that a later start-up on a new graphics context builds afresh.
void forget_render_targets();

// Off-screen pass action: colour cleared to rgba, depth to 1.0, stencil to 0.
gfx::PassAction offscreen_pass_action(const float rgba[4]);

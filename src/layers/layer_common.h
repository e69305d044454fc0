// What the 2D layers share: the show's palette, the reading of a track value
// as a whole number, and the 512 spectrum bars that the background and the
// shape effect both draw.
#pragma once
#include <cstdint>

#include "gfx/gfx.h"
#include "render/math3d.h"

constexpr vec4 rgba255(float r, float g, float b, float a = 255.0f) {
    return {r / 255.0f, g / 255.0f, b / 255.0f, a / 255.0f};
}

inline constexpr vec4 golden = rgba255(247, 173, 40);
inline constexpr vec4 terracotta = rgba255(221, 108, 66);
inline constexpr vec4 cream = rgba255(250, 236, 191);
inline constexpr vec4 sage = rgba255(202, 225, 169);
inline constexpr vec4 near_black = rgba255(20, 12, 25);
inline constexpr vec4 rose = rgba255(221, 87, 122);

// The five tints that captions and triangles are chosen from by a mode or
// "param" value 0 … 4; opaque.
inline constexpr vec4 tint_palette[5] = {cream, golden, terracotta, sage, near_black};

// A track value truncated toward zero, held inside the 32-bit range; NaN reads 0.
inline int32_t track_int(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int32_t>(v);
}

constexpr int spectrum_bar_count = 512;

// The spectrum as 512 vertical bars of `colour`, one per bin, side by side
// across x in [−1, 1) of world space, bin i of height spectrum[i] centred on
// y = 0, seen through wvp. The instance data is built in scratch (matrices,
// then colours). Nothing is drawn without a spectrum or scratch memory.
void draw_spectrum_bars(const mat4& wvp, const float* spectrum, vec4 colour, uint8_t* scratch);

// look_at((0, 0, 1), (0, 0, 0), (0, 1, 0)) through a 90° projection of that
// aspect, near 0.0625, far 16: the camera of the bars and the triangles.
mat4 flat_camera(float aspect);

// The fixed state of every 2D layer pipeline in the off-screen pass: location
// 0 a float2 in vertex buffer 0, colour BGRA8 (alpha-blended or not), depth
// compare always without writes, no culling, 16-bit indices, the off-screen
// sample count.
gfx::PipelineDesc layer_pipeline_desc(gfx::Shader shader, bool alpha_blended);

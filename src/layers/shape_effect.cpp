#include "layers/shape_effect.h"

#include <cmath>

#include <stb/stb_perlin.h>

#include "layers/layer_common.h"
#include "layers/shape_renderer.h"

namespace {
constexpr vec4 bar_colour = {250.0f / 255.0f, 236.0f / 255.0f, 191.0f / 255.0f, 1.0f};
// The triangles' instances overwrite the start of the bars' data once the bars are appended.
constexpr size_t tunnel_colour_offset = tunnel_slots * sizeof(mat4);  // 4096
}  // namespace

vec4 tunnel_tint(double param) {
    static constexpr float alphas[5] = {191.0f / 255.0f, 191.0f / 255.0f, 191.0f / 255.0f, 1.0f, 100.0f / 255.0f};
    int32_t k = track_int(param);
    if (k < 0 || k >= 5) return {rose.x, rose.y, rose.z, 0.0f};
    vec4 tint = tint_palette[k];
    tint.w = alphas[k];
    return tint;
}

int build_triangle_tunnel(float time, vec4 tint, mat4 matrices[tunnel_slots], vec4 colours[tunnel_slots]) {
    // Two triangles a row: 200 / 30 rows a second.
    const float b = 2.0f * (time * 200.0f / 30.0f);
    int count = 0;
    for (int i = 0; i < tunnel_slots; ++i) {
        float a = (b - static_cast<float>(i)) * (1.0f / 64.0f);
        float f = std::fmod(a, 1.0f);
        if (f < 0.0f) continue;  // not yet used this early in the run
        float g = std::floor(a) * 64.0f + static_cast<float>(i);  // generation, unique over the run
        float angle = g * 15.0f + time * 5.0f;
        float size = 0.01f * std::exp(16.0f * std::fabs(f));
        float z0 = (time * 0.25f + g) * 0.1f;
        float x = 0.25f * stb_perlin_noise3(5.9383f, 0.0f, z0, 0, 0, 0);
        float y = 0.25f * stb_perlin_noise3(-0.9383f, z0, 2.22345f, 0, 0, 0);
        matrices[count] = translate({x, y, 0.0f}) * rotate(angle, {0.0f, 0.0f, 1.0f}) * scale({size, size, size});
        colours[count] = tint;
        ++count;
    }
    return count;
}

mat4 shape_effect_view_projection(float width, float height) { return flat_camera(width / height); }

void draw_shape_effect(const FrameInfo& info, double param, const float* spectrum, uint8_t* scratch) {
    if (info.shadow_pass || !scratch) return;
    const mat4 wvp = shape_effect_view_projection(info.width, info.height);
    draw_spectrum_bars(wvp, spectrum, bar_colour, scratch);

    mat4* matrices = reinterpret_cast<mat4*>(scratch);
    vec4* colours = reinterpret_cast<vec4*>(scratch + tunnel_colour_offset);
    int count = build_triangle_tunnel(static_cast<float>(info.time), tunnel_tint(param), matrices, colours);
    draw_shapes(SHAPE_TRIANGLE, wvp, {0.0f, 0.0f, 1.0f}, static_cast<float>(M_PI) / 2.0f, 0.1f, count, matrices,
                colours);
}

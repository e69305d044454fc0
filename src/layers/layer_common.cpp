#include "layers/layer_common.h"

#include <cmath>

#include "layers/shape_renderer.h"

mat4 flat_camera(float aspect) {
    return perspective(90.0f, aspect, 0.0625f, 16.0f) * look_at({0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f});
}

void draw_spectrum_bars(const mat4& wvp, const float* spectrum, vec4 colour, uint8_t* scratch) {
    if (!spectrum || !scratch) return;
    mat4* matrices = reinterpret_cast<mat4*>(scratch);
    vec4* colours = reinterpret_cast<vec4*>(scratch + spectrum_bar_count * sizeof(mat4));
    const mat4 upright = rotate(0.0f, {0.0f, 0.0f, 1.0f});
    for (int i = 0; i < spectrum_bar_count; ++i) {
        float x = static_cast<float>(i) * (2.0f / 512.0f) - 1.0f;
        matrices[i] = translate({x, 0.0f, 0.0f}) * upright * scale({1.0f, spectrum[i], 1.0f});
        colours[i] = colour;
    }
    draw_shapes(SHAPE_LINE, wvp, {0.0f, 0.0f, 1.0f}, static_cast<float>(M_PI) / 2.0f, 2.0f / 512.0f,
                spectrum_bar_count, matrices, colours);
}

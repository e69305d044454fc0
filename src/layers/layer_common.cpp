#include "layers/layer_common.h"

#include <cmath>

#include "layers/shape_renderer.h"
#include "render/render_targets.h"

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

gfx::PipelineDesc layer_pipeline_desc(gfx::Shader shader, bool alpha_blended) {
    gfx::PipelineDesc pd{};
    pd.shader = shader;
    pd.layout.attrs[0] = {0, 0, gfx::VertexFormat::Float2};
    pd.color.pixel_format = gfx::PixelFormat::BGRA8;
    if (alpha_blended) pd.color.blend = gfx::alpha_blending();
    pd.depth = {gfx::PixelFormat::DepthStencil, gfx::CompareFunc::Always, false};
    pd.cull_mode = gfx::CullMode::None;
    pd.index_type = gfx::IndexType::Uint16;
    pd.sample_count = render_targets.target_sample_count;
    return pd;
}

#include "render/bloom.h"

#include <algorithm>
#include <cstdio>

#include "render/render_targets.h"
#include "render/shaders.h"

BloomChain bloom_chain;
CompositeParams composite_params;

namespace {

// Every post pipeline draws the unit quad: one float2 at location 0, 16-bit indices.
gfx::PipelineDesc quad_pipeline_desc(gfx::Shader shader) {
    gfx::PipelineDesc desc{};
    desc.shader = shader;
    desc.layout.attrs[0] = {0, 0, gfx::VertexFormat::Float2};
    desc.index_type = gfx::IndexType::Uint16;
    return desc;
}

// The bloom levels have no depth attachment.
gfx::Pipeline make_blur_pipeline(gfx::Shader shader) {
    gfx::PipelineDesc desc = quad_pipeline_desc(shader);
    desc.depth.pixel_format = gfx::PixelFormat::None;
    return gfx::make_pipeline(desc);
}

// One quad draw into a bloom level: the level's contents are overwritten whole,
// so neither cleared nor loaded.
template <typename Params>
void blur_pass(int level, gfx::Pipeline pipeline, gfx::Image source, const Params& params) {
    gfx::PassAction action{};
    action.color.action = gfx::Action::DontCare;
    gfx::begin_pass(bloom_chain.blur_pass[level], action);
    gfx::apply_pipeline(pipeline);
    gfx::Bindings bindings = fullscreen_quad.bindings;
    bindings.fs_images[0] = source;
    gfx::apply_bindings(bindings);
    gfx::apply_uniforms(gfx::ShaderStage::Fs, 0, &params, sizeof(params));
    gfx::draw(0, fullscreen_quad_index_count, 1);
    gfx::end_pass();
}

}  // namespace

ImageSize blur_level_size(int32_t target_width, int32_t target_height, int level) {
    int32_t divisor = 2 << level;
    return {std::max(1, target_width / divisor), std::max(1, target_height / divisor)};
}

vec2 half_pixel(int32_t width, int32_t height) {
    return {0.5f / static_cast<float>(width), 0.5f / static_cast<float>(height)};
}

void rebuild_blur_levels() {
    for (int i = 0; i < blur_level_count; ++i) {
        ImageSize size = blur_level_size(render_targets.target_width, render_targets.target_height, i);
        char label[16];
        std::snprintf(label, sizeof label, "blur-%d", i);
        gfx::destroy_image(bloom_chain.blur_image[i]);
        gfx::ImageDesc image{};
        image.render_target = true;
        image.width = size.width;
        image.height = size.height;
        image.pixel_format = gfx::PixelFormat::BGRA8;
        image.sample_count = 1;
        image.min_filter = image.mag_filter = gfx::Filter::Linear;
        image.wrap_u = image.wrap_v = gfx::Wrap::ClampToEdge;
        image.label = label;
        bloom_chain.blur_image[i] = gfx::make_image(image);
        bloom_chain.blur_width[i] = size.width;
        bloom_chain.blur_height[i] = size.height;

        std::snprintf(label, sizeof label, "blur-pass-%d", i);
        gfx::destroy_pass(bloom_chain.blur_pass[i]);
        gfx::PassDesc pass{};
        pass.color_attachment.image = bloom_chain.blur_image[i];
        pass.label = label;
        bloom_chain.blur_pass[i] = gfx::make_pass(pass);
    }
}

void create_post_pipelines() {
    if (bloom_chain.down_pipeline.id != 0) return;
    bloom_chain.down_shader = make_program(ProgramId::Down);
    bloom_chain.down_pipeline = make_blur_pipeline(bloom_chain.down_shader);
    bloom_chain.up_shader = make_program(ProgramId::Up);
    bloom_chain.up_pipeline = make_blur_pipeline(bloom_chain.up_shader);
    bloom_chain.combine_shader = make_program(ProgramId::Combine);
    // The window's pass has the default depth-stencil attachment; the composite ignores it.
    gfx::PipelineDesc combine = quad_pipeline_desc(bloom_chain.combine_shader);
    combine.depth.compare = gfx::CompareFunc::Always;
    combine.depth.write_enabled = false;
    bloom_chain.combine_pipeline = gfx::make_pipeline(combine);
}

PostChainUniforms post_chain_uniforms() {
    PostChainUniforms u{};
    // Each HalfPixel comes from the size its source was made with: the first from
    // the window-sized colour image, not from the 16:9 size.
    u.down[0].HalfPixel = half_pixel(render_targets.window_width, render_targets.window_height);
    for (int i = 1; i < blur_level_count; ++i)
        u.down[i].HalfPixel = half_pixel(bloom_chain.blur_width[i - 1], bloom_chain.blur_height[i - 1]);
    for (int i = 0; i < blur_level_count - 1; ++i)
        u.up[i].HalfPixel = half_pixel(bloom_chain.blur_width[i + 1], bloom_chain.blur_height[i + 1]);

    const Rect& r = render_targets.present_rect;
    float ww = static_cast<float>(render_targets.window_width);
    float wh = static_cast<float>(render_targets.window_height);
    u.combine_vs.rect = {r.x / ww, r.y / wh, r.w / ww, r.h / wh};
    u.combine_fs.HalfPixel = half_pixel(bloom_chain.blur_width[0], bloom_chain.blur_height[0]);
    u.combine_fs.Glow = composite_params.Glow;
    u.combine_fs.Vignette = composite_params.Vignette;
    u.combine_fs.VignetteSize = composite_params.VignetteSize;
    return u;
}

void run_post_chain() {
    // Ending the off-screen pass resolves a multisampled colour image for sampling.
    gfx::end_pass();
    PostChainUniforms u = post_chain_uniforms();

    for (int i = 0; i < blur_level_count; ++i) {
        gfx::Image source = i == 0 ? render_targets.color_image : bloom_chain.blur_image[i - 1];
        blur_pass(i, bloom_chain.down_pipeline, source, u.down[i]);
    }
    // With blending off each upsampling pass overwrites its level; level 0 ends
    // up holding the bloom.
    for (int i = blur_level_count - 2; i >= 0; --i)
        blur_pass(i, bloom_chain.up_pipeline, bloom_chain.blur_image[i + 1], u.up[i]);

    gfx::PassAction action{};
    action.color = {gfx::Action::Clear, {0.0f, 0.0f, 0.0f, 0.0f}};
    action.depth = {gfx::Action::Clear, 1.0f};
    action.stencil = {gfx::Action::Clear, 0};
    gfx::begin_default_pass(action, render_targets.window_width, render_targets.window_height);
    gfx::apply_pipeline(bloom_chain.combine_pipeline);
    gfx::Bindings bindings = fullscreen_quad.bindings;
    bindings.fs_images[0] = bloom_chain.blur_image[0];
    bindings.fs_images[1] = render_targets.color_image;
    gfx::apply_bindings(bindings);
    gfx::apply_uniforms(gfx::ShaderStage::Vs, 0, &u.combine_vs, sizeof(u.combine_vs));
    gfx::apply_uniforms(gfx::ShaderStage::Fs, 0, &u.combine_fs, sizeof(u.combine_fs));
    gfx::draw(0, fullscreen_quad_index_count, 1);
    gfx::end_pass();
}

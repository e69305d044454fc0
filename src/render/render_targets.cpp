#include "render/render_targets.h"

#include <algorithm>
#include <cmath>

#include "render/bloom.h"
#include "render/shaders.h"

bool antialias_requested = true;
RenderTargets render_targets;
ShadowMap shadow_map;
FullscreenQuad fullscreen_quad;

namespace {

gfx::ImageDesc target_desc(int32_t width, int32_t height, gfx::PixelFormat format, int sample_count,
                           const char* label) {
    gfx::ImageDesc desc{};
    desc.render_target = true;
    desc.width = width;
    desc.height = height;
    desc.pixel_format = format;
    desc.sample_count = sample_count;
    desc.min_filter = desc.mag_filter = gfx::Filter::Linear;
    desc.wrap_u = desc.wrap_v = gfx::Wrap::ClampToEdge;
    desc.label = label;
    return desc;
}

gfx::Pass make_target_pass(gfx::Image color, gfx::Image depth, const char* label) {
    gfx::PassDesc desc{};
    desc.color_attachment.image = color;
    desc.depth_stencil_attachment.image = depth;
    desc.label = label;
    return gfx::make_pass(desc);
}

// The window-sized off-screen colour and depth images and their pass.
void rebuild_offscreen_images() {
    RenderTargets& t = render_targets;
    gfx::destroy_image(t.color_image);
    gfx::destroy_image(t.depth_image);
    gfx::destroy_pass(t.offscreen_pass);
    t.color_image = gfx::make_image(target_desc(t.window_width, t.window_height, gfx::PixelFormat::BGRA8,
                                                t.target_sample_count, "color-image"));
    t.depth_image = gfx::make_image(target_desc(t.window_width, t.window_height, gfx::PixelFormat::DepthStencil,
                                                t.target_sample_count, "depth-image"));
    t.offscreen_pass = make_target_pass(t.color_image, t.depth_image, "offscreen-pass");
}

void create_fullscreen_quad() {
    if (fullscreen_quad.vertex_buffer.id != 0) return;
    static const float corners[8] = {0, 1, 1, 1, 1, 0, 0, 0};
    static const uint16_t indices[6] = {0, 1, 2, 0, 2, 3};
    gfx::BufferDesc vb{};
    vb.type = gfx::BufferType::VertexBuffer;
    vb.usage = gfx::Usage::Immutable;
    vb.data = {corners, sizeof corners};
    fullscreen_quad.vertex_buffer = gfx::make_buffer(vb);
    gfx::BufferDesc ib{};
    ib.type = gfx::BufferType::IndexBuffer;
    ib.usage = gfx::Usage::Immutable;
    ib.data = {indices, sizeof indices};
    fullscreen_quad.index_buffer = gfx::make_buffer(ib);
    fullscreen_quad.bindings = gfx::Bindings{};
    fullscreen_quad.bindings.vertex_buffers[0] = fullscreen_quad.vertex_buffer;
    fullscreen_quad.bindings.index_buffer = fullscreen_quad.index_buffer;
}

void rebuild_shadow_map() {
    ShadowMap& s = shadow_map;
    gfx::destroy_image(s.color_image);
    gfx::destroy_image(s.depth_image);
    gfx::destroy_pass(s.pass);
    s.pass_action = gfx::PassAction{};
    s.pass_action.color = {gfx::Action::Clear, {1.0f, 1.0f, 1.0f, 1.0f}};
    s.pass_action.depth = {gfx::Action::Clear, 1.0f};
    s.pass_action.stencil = {gfx::Action::Clear, 0};
    s.color_image = gfx::make_image(target_desc(shadow_map_size, shadow_map_size, gfx::PixelFormat::R32F, 1, nullptr));
    s.depth_image = gfx::make_image(
        target_desc(shadow_map_size, shadow_map_size, gfx::PixelFormat::Depth, 1, "shadow-map-depth-image"));
    s.pass = make_target_pass(s.color_image, s.depth_image, nullptr);
    if (s.pipeline.id != 0) return;
    s.shader = make_program(ProgramId::Shadow);
    gfx::PipelineDesc desc{};
    desc.shader = s.shader;
    desc.layout.attrs[0] = {0, 0, gfx::VertexFormat::Float3};
    desc.primitive_type = gfx::PrimitiveType::Triangles;
    desc.index_type = gfx::IndexType::Uint16;
    desc.depth = {gfx::PixelFormat::Depth, gfx::CompareFunc::LessEqual, true};
    desc.color.pixel_format = gfx::PixelFormat::R32F;
    desc.cull_mode = gfx::CullMode::None;
    desc.sample_count = 1;
    desc.label = "shadow-map-pipeline";
    s.pipeline = gfx::make_pipeline(desc);
}

}  // namespace

Rect compute_present_rect(int32_t width, int32_t height) {
    const float target_aspect = 16.0f / 9.0f;
    float fw = static_cast<float>(width), fh = static_cast<float>(height);
    float aspect = fw / fh;
    if (aspect == target_aspect) return {0.0f, 0.0f, fw, fh};
    if (aspect > target_aspect) {
        float w = std::max(64.0f, std::round((target_aspect / aspect) * fw));
        return {std::floor((fw - w) * 0.5f), 0.0f, w, fh};
    }
    float h = std::max(64.0f, std::round((aspect / target_aspect) * fh));
    return {0.0f, std::floor((fh - h) * 0.5f), fw, h};
}

void resize_targets(int32_t width, int32_t height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    RenderTargets& t = render_targets;
    t.present_rect = compute_present_rect(width, height);
    if (t.present_rect.w == static_cast<float>(t.target_width) &&
        t.present_rect.h == static_cast<float>(t.target_height)) {
        // Same rectangle: only a changed window remakes the window-sized images,
        // so that the composite always divides by the current window size.
        if (width != t.window_width || height != t.window_height) {
            t.window_width = width;
            t.window_height = height;
            rebuild_offscreen_images();
            ++t.window_rebuild_count;
        }
        return;
    }
    t.window_width = width;
    t.window_height = height;
    t.target_width = static_cast<int32_t>(t.present_rect.w);
    t.target_height = static_cast<int32_t>(t.present_rect.h);
    t.target_sample_count = gfx::query_features().msaa_render_targets && antialias_requested ? 4 : 1;
    rebuild_offscreen_images();
    rebuild_blur_levels();
    create_post_pipelines();
    create_fullscreen_quad();
    rebuild_shadow_map();
    ++t.rebuild_count;
}

void forget_render_targets() {
    render_targets = RenderTargets{};
    shadow_map = ShadowMap{};
    fullscreen_quad = FullscreenQuad{};
    bloom_chain = BloomChain{};
    composite_params = CompositeParams{};
}

gfx::PassAction offscreen_pass_action(const float rgba[4]) {
    gfx::PassAction action{};
    action.color = {gfx::Action::Clear, {rgba[0], rgba[1], rgba[2], rgba[3]}};
    action.depth = {gfx::Action::Clear, 1.0f};
    action.stencil = {gfx::Action::Clear, 0};
    return action;
}

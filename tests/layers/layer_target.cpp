#include "layer_target.h"

#include "audio/fft_image.h"
#include "audio/spectrum.h"
#include "layers/background.h"
#include "layers/shape_renderer.h"
#include "render/render_targets.h"

bool open_layers(const EmbeddedFile* captions, int count) {
    if (!open_render_window(128, 72)) return false;
    resize_targets(128, 72);
    shape_renderer_setup();
    background_setup();
    image_overlays_setup(captions, count);
    spectrum_setup();
    upload_fft_image();
    return true;
}

LayerTarget make_layer_target(int width, int height) {
    LayerTarget t{};
    t.width = width;
    t.height = height;
    gfx::ImageDesc d{};
    d.render_target = true;
    d.width = width;
    d.height = height;
    d.sample_count = render_targets.target_sample_count;
    d.pixel_format = gfx::PixelFormat::BGRA8;
    d.label = "layer-test-color";
    t.color = gfx::make_image(d);
    d.pixel_format = gfx::PixelFormat::DepthStencil;
    d.label = "layer-test-depth";
    t.depth = gfx::make_image(d);
    gfx::PassDesc p{};
    p.color_attachment.image = t.color;
    p.depth_stencil_attachment.image = t.depth;
    p.label = "layer-test-pass";
    t.pass = gfx::make_pass(p);
    return t;
}

std::vector<Rgba8> render_layers(const LayerTarget& target, vec4 clear, const std::function<void()>& draw,
                                 gfx::FrameStats* stats) {
    const float rgba[4] = {clear.x, clear.y, clear.z, clear.w};
    gfx::begin_pass(target.pass, offscreen_pass_action(rgba));
    draw();
    gfx::end_pass();
    if (stats) *stats = gfx::query_frame_stats();
    gfx::commit();
    return read_image(target.color);
}

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
    return gfxtest::make_target(width, height, gfx::PixelFormat::BGRA8, gfx::PixelFormat::DepthStencil,
                                render_targets.target_sample_count);
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

#include "app/frame_driver.h"

#include <cstdlib>

#include "app/sync_tracks.h"
#include "audio/fft_image.h"
#include "audio/music.h"
#include "audio/spectrum.h"
#include "gfx/gfx.h"
#include "layers/background.h"
#include "layers/image_overlays.h"
#include "layers/shape_renderer.h"
#include "platform/app_window.h"
#include "platform/clock.h"
#include "platform/embedded.h"
#include "platform/fetch.h"
#include "render/bloom.h"
#include "render/render_targets.h"
#include "scene/shipped_models.h"

extern "C" const EmbeddedFile music_files[];  // one entry, "music.mp3"

FrameDriverState frame_driver;
float frame_delta = 0.0f;
uint8_t* vertex_scratch = nullptr;
void (*frame_mark_hook)(FrameMark mark) = nullptr;

namespace {

void mark(FrameMark m) {
    if (frame_mark_hook) frame_mark_hook(m);
}

FrameInfo make_frame_info(bool shadow_pass) {
    FrameInfo info{};
    info.time = music_time;
    info.delta = frame_driver.delta;
    info.width = static_cast<float>(platform::framebuffer_width());
    info.height = static_cast<float>(platform::framebuffer_height());
    info.shadow_pass = shadow_pass;
    return info;
}

double part_track_value() {
    return track_value(TRACK_PART, current_row);
}

// Layer 0 or 1 of the caption overlays at the current row.
ImageLayerValues image_layer_values(int layer) {
    auto value = [layer](int field) { return track_value(image_track(layer, field), current_row); };
    return {value(IMG_ALPHA), value(IMG_ANGLE), value(IMG_INDEX), value(IMG_MODE),
            value(IMG_SCALE), value(IMG_X),     value(IMG_Y)};
}

}  // namespace

bool content_ready() { return frame_driver.models_loaded && spectrum_bins() != 0; }

void app_init() {
    // 1. Loading until the end of the first frame.
    frame_driver = FrameDriverState{};
    // 2. Timer: every frame time is nanoseconds since now.
    platform::clock_setup();
    // 3. File fetcher for images referenced by file name.
    platform::fetch_setup({.max_requests = 64, .num_channels = 1, .num_lanes = 4});
    // 4. Graphics layer with an image pool of 256.
    gfx::Desc gfx_desc{};
    gfx_desc.image_pool_size = 256;
    gfx::setup(gfx_desc);
    // 5. Render targets for the window's size (this fixes the off-screen sample count).
    resize_targets(platform::framebuffer_width(), platform::framebuffer_height());
    // 6. The line library of the original design draws nothing: there is nothing to set up.
    // 7. Shape renderer, background layer and caption overlays.
    shape_renderer_setup();
    background_setup();
    image_overlays_setup();
    // 8. The sync tracks.
    open_sync_tracks();
}

void app_frame() {
    mark(FRAME_MARK_BEGIN);
    ++frame_driver.frame_count;

    // 1. Frame interval, rounded to the common refresh intervals.
    uint64_t lap = platform::clock_laptime(&frame_driver.last_frame_time);
    uint64_t rounded = platform::round_to_common_refresh_rate(lap);
    frame_driver.delta = platform::clock_sec(rounded);
    frame_delta = static_cast<float>(frame_driver.delta);

    // 2. Deliver finished file fetches.
    platform::fetch_dowork();

    // 3. Spectrum step, once the music plays.
    if (music_started()) spectrum_step();

    // 4. Row clock from the playback position, then the active part from "part".
    update_row_clock(read_playback_position());
    frame_driver.active_part = select_part(part_track_value());

    // 5. Upload the spectrum into the "fft" image.
    if (spectrum_bins() != 0) upload_fft_image();

    // 6. Update the active part.
    PartFn active = part_table[frame_driver.active_part];
    if (!frame_driver.loading) active(PART_UPDATE, nullptr);

    mark(FRAME_MARK_DRAW);
    // 7. Render targets follow the window.
    resize_targets(platform::framebuffer_width(), platform::framebuffer_height());

    // 8. Composite parameters from "post:glow" and "post:vignette".
    composite_params.Glow = static_cast<float>(track_value(TRACK_POST_GLOW, current_row));
    composite_params.VignetteSize = 1.0f;
    composite_params.Vignette = static_cast<float>(track_value(TRACK_POST_VIGNETTE, current_row));

    // 9. Shadow pass: cleared every frame once loading is done.
    if (!frame_driver.loading) {
        gfx::begin_pass(shadow_map.pass, shadow_map.pass_action);
        FrameInfo shadow = make_frame_info(true);
        if (content_ready()) active(PART_DRAW, &shadow);
        gfx::end_pass();
    }

    // 10. The active part's clear colour.
    float clear_color[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    if (!frame_driver.loading) active(PART_CLEAR_COLOR, clear_color);

    // 11. Off-screen pass, colour cleared to the part's colour, depth to 1, stencil to 0.
    gfx::begin_pass(render_targets.offscreen_pass, offscreen_pass_action(clear_color));

    // 12. Background, the active part, caption overlays; without content the composite is neutral.
    FrameInfo main_info = make_frame_info(false);
    if (!frame_driver.loading && content_ready()) {
        draw_background(main_info, track_value(TRACK_BG_INDEX, current_row), smoothed_spectrum(), vertex_scratch);
        active(PART_DRAW, &main_info);
        const ImageLayerValues layers[2] = {image_layer_values(0), image_layer_values(1)};
        draw_image_overlays(layers, main_info.time);
    } else {
        composite_params = CompositeParams{0.0f, 0.0f, 0.0f};
    }

    // 13. Bloom and composite into the window, then commit the frame.
    mark(FRAME_MARK_POST);
    run_post_chain();
    gfx::commit();
    mark(FRAME_MARK_END);

    // 14. The first frame ends with loading everything.
    if (frame_driver.loading) load_step();
}

void load_step() {
    ++frame_driver.load_step_count;
    mark(FRAME_MARK_LOAD_PARTS);
    // 1. Every part initialises, in table order.
    for (PartFn part : part_table) part(PART_INIT, nullptr);
    // 2. Scratch memory for per-frame vertex data.
    if (!vertex_scratch) vertex_scratch = static_cast<uint8_t*>(std::calloc(vertex_scratch_size, 1));
    mark(FRAME_MARK_LOAD_MODELS);
    // 3. The seven models, in their table's order (each also builds its collision shapes).
    load_shipped_models();
    // 4. Models loaded: every load gave its model (a broken file an empty one).
    frame_driver.models_loaded = true;
    mark(FRAME_MARK_LOAD_SPECTRUM);
    // 5. Spectrum set-up.
    spectrum_setup();
    mark(FRAME_MARK_LOAD_MUSIC);
    // 6. Music: the device starts, then the whole stream is decoded while it plays.
    start_music(music_files[0].bytes, music_files[0].size);
    mark(FRAME_MARK_LOAD_FFT);
    // 7. The FFT plan.
    create_fft_plan();
    // 8. Loading is done.
    frame_driver.loading = false;
    mark(FRAME_MARK_LOAD_END);
}

void app_event(const platform::Event* event) {
    if (event->type == platform::EventType::KeyDown && event->key_code == platform::KEYCODE_ESCAPE) {
        platform::request_quit();
    }
}

void app_cleanup() {
    // The sync tracks first, then the fetcher and the graphics layer. The audio
    // device, the decoded music and the scene live until the process ends.
    destroy_sync_tracks();
    platform::fetch_shutdown();
    gfx::shutdown();
    // Every graphics handle is gone with the shutdown; a later start-up in the
    // same process (tests, tools) builds its targets afresh.
    forget_render_targets();
    forget_shipped_models();
}

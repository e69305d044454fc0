#include "support/frame_harness.h"

#include <vector>

#include "app/frame_driver.h"
#include "audio/music.h"
#include "audio/playback_device.h"
#include "audio/spectrum.h"
#include "platform/app_window.h"
#include "platform/clock.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace {
struct HarnessState {
    int width = 0, height = 0;
    std::vector<float> audio;
};
HarnessState state;
}  // namespace

bool harness_open(int width, int height) {
    state = HarnessState{};
    state.width = width;
    state.height = height;
    platform::clock_use_manual(true);
    select_playback_backend(&manual_playback_backend);
    platform::AppDesc desc{};
    desc.init_cb = app_init;
    desc.frame_cb = app_frame;
    desc.cleanup_cb = app_cleanup;
    desc.event_cb = app_event;
    desc.width = width;
    desc.height = height;
    desc.hidden = true;
    desc.window_title = "velmo test";
    if (!platform::open_window(desc)) return false;
    app_init();
    return true;
}

void harness_frame(uint64_t now_ns, uint32_t audio_frames) {
    if (audio_frames > 0) {
        state.audio.resize(static_cast<size_t>(audio_frames) * 2);
        manual_playback_pull(state.audio.data(), audio_frames);
    }
    platform::clock_set_manual_now(now_ns);
    app_frame();
}

std::vector<uint8_t> harness_read_pixels() {
    std::vector<uint8_t> rgba(static_cast<size_t>(state.width) * state.height * 4);
    platform::read_window_pixels(state.width, state.height, rgba.data());
    return rgba;
}

int harness_width() { return state.width; }
int harness_height() { return state.height; }

bool write_png(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba) {
    return stbi_write_png(path.c_str(), width, height, 4, rgba.data(), width * 4) != 0;
}

void harness_close() {
    app_cleanup();
    // The show keeps its music and spectrum until the process ends; a test
    // process opens the show many times, so each session releases them.
    music_shutdown();
    spectrum_shutdown();
    platform::close_window();
    platform::clock_use_manual(false);
    select_playback_backend(&sdl_playback_backend);
}

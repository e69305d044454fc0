#include "app/offline_show.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/frame_driver.h"
#include "audio/music.h"
#include "audio/playback_device.h"
#include "audio/spectrum.h"
#include "platform/app_window.h"
#include "platform/clock.h"
#include "render/render_targets.h"

// The one definition of the PNG writer for everything that links the offline
// show (tests that build PNG bytes of their own use it too).
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace {

struct OfflineState {
    int width = 0, height = 0;
    std::vector<float> audio;  // scratch for the pulled music
};
OfflineState state;

// Pulls in pieces, so a long jump needs no big buffer.
void pull_music(int64_t frames) {
    constexpr int64_t piece = 8192;
    while (frames > 0) {
        const uint32_t n = static_cast<uint32_t>(std::min(frames, piece));
        state.audio.resize(static_cast<size_t>(n) * 2);
        manual_playback_pull(state.audio.data(), n);
        frames -= n;
    }
}

}  // namespace

bool offline_show_open(const OfflineShowDesc& desc) {
    state = OfflineState{};
    state.width = desc.width;
    state.height = desc.height;
    platform::clock_use_manual(true);
    select_playback_backend(&manual_playback_backend);
    antialias_requested = desc.antialias;
    platform::AppDesc app{};
    app.init_cb = app_init;
    app.frame_cb = app_frame;
    app.cleanup_cb = app_cleanup;
    app.event_cb = app_event;
    app.width = desc.width;
    app.height = desc.height;
    app.hidden = true;
    app.window_title = desc.window_title ? desc.window_title : "velmo offline";
    if (!platform::open_window(app)) {
        platform::clock_use_manual(false);
        select_playback_backend(&sdl_playback_backend);
        return false;
    }
    app_init();
    return true;
}

void offline_show_frame(uint64_t now_ns, uint32_t audio_frames) {
    pull_music(audio_frames);
    platform::clock_set_manual_now(now_ns);
    app_frame();
}

void offline_show_read_pixels(std::vector<uint8_t>* rgba) {
    rgba->resize(static_cast<size_t>(state.width) * state.height * 4);
    platform::read_window_pixels(state.width, state.height, rgba->data());
}

int offline_show_width() { return state.width; }
int offline_show_height() { return state.height; }

void offline_show_close() {
    app_cleanup();
    // The show keeps its music and spectrum until the process ends; a process
    // that opens the show again releases them first.
    music_shutdown();
    spectrum_shutdown();
    platform::close_window();
    platform::clock_use_manual(false);
    select_playback_backend(&sdl_playback_backend);
}

int64_t FrameSchedule::music_frames_before(int64_t k) const {
    return k * kMusicFrameRate / fps;
}

int64_t FrameSchedule::first_frame_at(double seconds) const {
    // The smallest k with k / fps >= seconds, where a time within a tenth of a
    // frame after k counts as k: a row written with two decimals (322.67 for
    // 322.666...) or a time that falls on a frame (row 256 at 60 fps is frame
    // 2304) lands on the frame it names.
    return std::max<int64_t>(0, static_cast<int64_t>(std::ceil(seconds * fps - 0.1)));
}

namespace {
uint64_t period_time_ns(int fps, int64_t periods) {
    return static_cast<uint64_t>(std::llround(static_cast<double>(periods) * 1e9 / fps));
}
}  // namespace

void FrameSchedule::run_loading_frame() {
    ++frames_run;
    offline_show_frame(period_time_ns(fps, frames_run), 0);
}

void FrameSchedule::step() {
    const int64_t due = music_frames_before(next_frame) - music_pulled;
    music_pulled += due;
    ++frames_run;
    offline_show_frame(period_time_ns(fps, frames_run), static_cast<uint32_t>(due));
    ++next_frame;
}

void FrameSchedule::jump_to(int64_t k) {
    if (k <= next_frame) return;
    const int64_t due = music_frames_before(k) - music_pulled;
    pull_music(due);
    music_pulled += due;
    next_frame = k;
}

bool write_png_file(const std::string& path, int width, int height, const uint8_t* rgba, std::string* error) {
    const std::string temporary = path + ".partial";
    FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) {
        *error = "cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    struct Sink {
        FILE* file;
        bool failed;
    } sink{f, false};
    auto write = [](void* context, void* data, int size) {
        Sink* s = static_cast<Sink*>(context);
        if (!s->failed && std::fwrite(data, 1, static_cast<size_t>(size), s->file) != static_cast<size_t>(size))
            s->failed = true;
    };
    const bool encoded = stbi_write_png_to_func(write, &sink, width, height, 4, rgba, width * 4) != 0;
    int saved_errno = errno;
    bool ok = encoded && !sink.failed && std::fflush(f) == 0;
    if (!ok) saved_errno = errno;
    if (ok && fsync(fileno(f)) != 0 && errno != EINVAL) {
        ok = false;
        saved_errno = errno;
    }
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        saved_errno = errno;
    }
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        saved_errno = errno;
    }
    if (!ok) {
        std::remove(temporary.c_str());
        *error = "cannot write " + path + ": " + (encoded ? std::strerror(saved_errno) : "PNG encoding failed");
    }
    return ok;
}

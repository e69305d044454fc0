#include "common/show_run.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "app/sync_tracks.h"

namespace {
using Clock = std::chrono::steady_clock;

std::string clock_text(double seconds) {
    if (!(seconds >= 0.0) || seconds > 359999.0) return "--:--";
    long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}
}  // namespace

volatile int stop_requested = 0;

namespace {
extern "C" void on_stop_signal(int) { stop_requested = 1; }
}  // namespace

void install_stop_handlers() {
    signal(SIGINT, on_stop_signal);
    signal(SIGTERM, on_stop_signal);
}

void progress_start(Progress* p, int64_t total) {
    *p = Progress{};
    p->enabled = isatty(STDERR_FILENO) == 1;
    p->total = std::max<int64_t>(1, total);
}

void progress_update(Progress* p, int64_t done, const char* phase) {
    if (!p->enabled) return;
    const Clock::time_point now = Clock::now();
    if (p->sample_count > 0 && now - p->last_draw < std::chrono::milliseconds(200) && done < p->total) return;
    p->last_draw = now;
    // The rate over the oldest sample kept (about the last six seconds), so the
    // estimate follows the sections that cost more or less than the average.
    const int slot = p->sample_count % Progress::kSamples;
    p->sample_time[slot] = now;
    p->sample_done[slot] = done;
    ++p->sample_count;
    const int oldest = p->sample_count <= Progress::kSamples ? 0 : p->sample_count % Progress::kSamples;
    const double span = std::chrono::duration<double>(now - p->sample_time[oldest]).count();
    const int64_t frames = done - p->sample_done[oldest];
    const double fps = span > 0.5 && frames > 0 ? frames / span : 0.0;
    const double left = fps > 0.0 ? (p->total - done) / fps : -1.0;

    constexpr int width = 30;
    const int filled = static_cast<int>(width * std::min<int64_t>(done, p->total) / p->total);
    char bar[width + 1];
    for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '.';
    bar[width] = 0;
    char fps_text[32] = "-- fps";
    if (fps > 0.0) std::snprintf(fps_text, sizeof fps_text, "%.1f fps", fps);
    std::fprintf(stderr, "\r%-8s [%s] %lld/%lld frames  %s  %s left\033[K", phase, bar,
                 static_cast<long long>(done), static_cast<long long>(p->total), fps_text, clock_text(left).c_str());
    std::fflush(stderr);
}

void progress_finish(Progress* p) {
    if (p->enabled && p->sample_count > 0) std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

void show_run_frames(const ShowRunDesc& desc, int64_t* first_frame, int64_t* end_frame) {
    const FrameSchedule schedule{desc.fps};
    *first_frame = schedule.first_frame_at(desc.from_row / ROWS_PER_SECOND);
    *end_frame = std::max(*first_frame + 1, schedule.first_frame_at(desc.to_row / ROWS_PER_SECOND));
}

bool show_run_open(const ShowRunDesc& desc, ShowRun* run, std::string* error) {
    *run = ShowRun{};
    run->schedule.fps = desc.fps;
    show_run_frames(desc, &run->first_frame, &run->end_frame);
    if (desc.last_frame >= run->first_frame) run->end_frame = std::min(run->end_frame, desc.last_frame + 1);
    if (!offline_show_open({.width = desc.width, .height = desc.height, .antialias = desc.antialias,
                            .window_title = desc.window_title})) {
        *error = "cannot open a hidden " + std::to_string(desc.width) + "x" + std::to_string(desc.height) +
                 " window with an OpenGL 4.5 context (is DISPLAY set?)";
        return false;
    }
    run->schedule.run_loading_frame();
    if (desc.seek == SeekMode::Jump) {
        run->schedule.jump_to(run->first_frame);
        run->counted_from = run->first_frame;
    }
    progress_start(&run->progress, run->end_frame - run->counted_from);
    return true;
}

void show_run_up(ShowRun* run) {
    while (run->schedule.next_frame < run->first_frame && !stop_requested) {
        run->schedule.step();
        progress_update(&run->progress, show_run_frames_done(*run), "run-up");
    }
}

int64_t show_run_frames_done(const ShowRun& run) { return run.schedule.next_frame - run.counted_from; }

double show_frame_row(const FrameSchedule& schedule, int64_t frame) {
    return static_cast<double>(schedule.music_frames_before(frame)) / kMusicFrameRate * ROWS_PER_SECOND;
}

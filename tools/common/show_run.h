// One run of the show for a tool: a hidden window of a chosen size, the manual
// clock at a fixed frame rate, the loading frame, then the way to the first
// row (drawn or jumped, see SeekMode), with a progress bar on the terminal.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "app/offline_show.h"
#include "common/command_line.h"

// A progress bar on stderr, drawn only when stderr is a terminal: frames done
// of the total, frames per second over the last few seconds and the time left
// at that rate.
struct Progress {
    bool enabled = false;
    int64_t total = 0;
    std::chrono::steady_clock::time_point last_draw{};
    // Recent (time, frames done) samples for the rate: a small ring.
    static constexpr int kSamples = 32;
    std::chrono::steady_clock::time_point sample_time[kSamples]{};
    int64_t sample_done[kSamples]{};
    int sample_count = 0;
};
void progress_start(Progress* p, int64_t total);
void progress_update(Progress* p, int64_t done, const char* phase);
void progress_finish(Progress* p);  // clears the bar

// Set by SIGINT and SIGTERM once install_stop_handlers has run: the tool
// then stops at the next frame and cleans up after itself.
extern volatile int stop_requested;
void install_stop_handlers();

struct ShowRunDesc {
    int width, height, fps;
    bool antialias;
    double from_row, to_row;  // show frames whose music time lies in [from, to); at least one
    SeekMode seek;
    const char* window_title;
    int64_t last_frame = -1;  // the last frame the tool keeps, when it stops before to_row; -1: none
};

// The frames of [from_row, to_row): the first and one past the last.
void show_run_frames(const ShowRunDesc& desc, int64_t* first_frame, int64_t* end_frame);

struct ShowRun {
    FrameSchedule schedule{60};
    int64_t first_frame = 0;  // the first frame the tool keeps
    int64_t end_frame = 0;    // one past the last
    int64_t counted_from = 0; // the first frame the run draws (0, or first_frame after a jump)
    Progress progress;
};

// Opens the show and runs the loading frame (the music is decoded after it);
// with SeekMode::Jump it also jumps to first_frame. False with a message in
// *error when no window can be made.
bool show_run_open(const ShowRunDesc& desc, ShowRun* run, std::string* error);

// Runs the frames before first_frame without keeping them (nothing to do after
// a jump). It ends early once stop_requested is set.
void show_run_up(ShowRun* run);

// Frames done by this run, the run-up included, for the progress bar.
int64_t show_run_frames_done(const ShowRun& run);

// The row of a show frame's music time.
double show_frame_row(const FrameSchedule& schedule, int64_t frame);

// The show driven from outside, frame by frame: the real callbacks on a hidden
// window, the manual clock and the manual audio device. Nothing runs by itself:
// the caller says when each frame happens and how much music was played before
// it, so every run of the same frames gives the same pictures. The test harness,
// velmo-capture and velmo-bench all run the show through this.
//
// Contract
// - offline_show_open makes the window and runs app_init; offline_show_frame
//   pulls audio frames from the manual device (the music plays that far; before
//   the load step has started the music it plays nothing), sets the clock and
//   runs app_frame, the same frame function the show runs. offline_show_close
//   runs app_cleanup, releases the music and the spectrum, closes the window and
//   puts the clock and the audio device back to real ones, so a process may
//   open the show again.
// - FrameSchedule runs the show at a fixed frame rate with music and video in
//   lockstep: the loading frame comes first (black; the load step runs at its
//   end), then show frame k = 0, 1, ... is the app_frame that sees
//   floor(k × 44,100 / fps) music frames played, about k / fps seconds. The
//   clock advances one period per app_frame, so every frame sees one period of
//   delta, the first after loading (as if loading took one frame) and the first
//   after a jump included.
// - write_png_file writes to "<path>.partial" and renames it only when every
//   byte is on disk, so a failed write leaves nothing under the requested name.
// Main thread only; one open show per process at a time.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct OfflineShowDesc {
    int width, height;         // the hidden window's size in pixels
    bool antialias;            // "Antialias" of the setup dialog
    const char* window_title;  // nullptr: "velmo offline"
};

// False (with a message on stderr) when no window or context can be made.
bool offline_show_open(const OfflineShowDesc& desc);
void offline_show_frame(uint64_t now_ns, uint32_t audio_frames);
// The frame just drawn: width x height RGBA pixels, top row first.
void offline_show_read_pixels(std::vector<uint8_t>* rgba);
int offline_show_width();
int offline_show_height();
void offline_show_close();

constexpr int kMusicFrameRate = 44100;

struct FrameSchedule {
    int fps;
    int64_t next_frame = 0;     // the show frame the next step draws
    int64_t music_pulled = 0;   // music frames pulled from the device so far
    int64_t frames_run = 0;     // app_frame calls so far, the loading frame included

    // Music frames played before show frame k: floor(k × 44,100 / fps).
    int64_t music_frames_before(int64_t k) const;
    // The first show frame whose music time reaches `seconds` (or falls short
    // of it by under a tenth of a frame).
    int64_t first_frame_at(double seconds) const;

    // The loading frame; call once, right after offline_show_open.
    void run_loading_frame();
    // Runs show frame next_frame and advances to the next.
    void step();
    // Moves to show frame k (not before next_frame) without drawing the frames
    // between: the music is pulled ahead in one go, so what the parts keep from
    // frame to frame (the physics, the smoothed spectrum) does not see the
    // skipped frames. The frame after a jump still sees one period of delta.
    void jump_to(int64_t k);
};

// RGBA pixels as a PNG, written safely (see the contract). False with a message
// in *error (what failed and where) when the file cannot be written.
bool write_png_file(const std::string& path, int width, int height, const uint8_t* rgba, std::string* error);

// Deterministic frames of the real show for tests, over app/offline_show.h:
// the real callbacks on a hidden window of a given size, a manual clock and a
// manual audio device. The test says when each frame happens and how many audio
// frames were played before it; the window's pixels read back as RGBA and save
// as PNG.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Opens a hidden width x height window with its GL context, switches the clock
// and the audio device to manual, and runs app_init. False (with a message) when
// no window or context can be made.
bool harness_open(int width, int height);

// One frame at time now_ns (nanoseconds since app_init; keep it above 0, as a
// real clock is): first audio_frames frames are pulled from the manual audio
// device (the music plays that far), then app_frame runs.
void harness_frame(uint64_t now_ns, uint32_t audio_frames = 0);

// The frame just drawn: width x height RGBA pixels, top row first.
std::vector<uint8_t> harness_read_pixels();
int harness_width();
int harness_height();

// Writes RGBA pixels as a PNG; false when the file cannot be written.
bool write_png(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba);

// Runs app_cleanup and closes the window.
void harness_close();

// The music's spectrum, once per frame: a 1024-point real FFT of the mono
// history (unwindowed, unnormalised), the lower 512 bins as bytes (magnitude / 8,
// clamped to 1, times 255), and those bytes smoothed over frames into
// smoothed_spectrum (0 … 1), which the background and the shape effect read
// and the "fft" image (512 × 1, R32F) carries to the GPU.
//
// The smoothing runs once per frame whatever the frame interval: a bin moves
// 10 % of the way toward its new byte / 255 each frame.
//
// Life: spectrum_setup (before the music starts: 512 bins, bytes and smoothed
// values all 0, so the image shows silence when the music never starts), then
// create_fft_plan (after it starts); from then spectrum_step while the music
// plays, and upload_fft_image every frame. Main thread only.
#pragma once
#include <cstdint>

#include "audio/pcm_format.h"

// The transform runs over the whole mono history; its lower half are the bins.
constexpr int kFftSize = kMonoHistoryLength;
constexpr int kSpectrumBins = 512;
static_assert(kFftSize == 1024 && kSpectrumBins == kFftSize / 2);

void spectrum_setup();
void create_fft_plan();

// One frame's analysis of the newest mono history (audio/music.h).
void spectrum_step();
// The same over a history of kFftSize samples, oldest first.
void spectrum_step_with(const float* history);

int spectrum_bins();                   // 0 before spectrum_setup, then 512
const uint8_t* spectrum_bytes();       // spectrum_bins() bytes; null before spectrum_setup
const float* smoothed_spectrum();      // spectrum_bins() floats; null before spectrum_setup

// Frees the arrays and the plan: back to the state before spectrum_setup. The
// show never calls it; tests do between runs.
void spectrum_shutdown();

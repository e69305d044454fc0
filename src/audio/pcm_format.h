// The format of the decoded music: what the device plays, what the playback
// position counts in bytes, and what the spectrum's history is made of.
#pragma once

constexpr int kPcmSampleRate = 44100;  // frames per second
constexpr int kPcmBytesPerFrame = 8;   // two 32-bit float channels
constexpr double kPcmBytesPerSecond = double(kPcmSampleRate) * kPcmBytesPerFrame;
static_assert(kPcmBytesPerSecond == 352800.0);

// The newest mono samples the audio callback keeps; the spectrum transforms
// exactly this many.
constexpr int kMonoHistoryLength = 1024;

// The test fixture MP3 (tests/audio/CMakeLists.txt makes it) and small helpers
// shared by the audio tests.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "audio/music.h"
#include "audio/playback_device.h"
#include "platform/embedded.h"

extern "C" const EmbeddedFile audio_fixture_files[];

inline const EmbeddedFile& fixture_mp3() { return audio_fixture_files[0]; }

// Frames pulled from the manual device, two floats each.
inline std::vector<float> pull_frames(uint32_t frames) {
    std::vector<float> out(size_t{frames} * 2);
    manual_playback_pull(out.data(), frames);
    return out;
}

// The mono mix the history keeps for one frame of the decoded music.
inline float mono_of(const float* pcm, int64_t frame) {
    return (pcm[2 * frame] + pcm[2 * frame + 1]) * 0.5f;
}

// The real SDL device, recording to a file with SDL's disk driver: what was
// played against what was decoded, and the music clock against the wall clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "tests/audio/audio_fixture.h"

namespace {

std::vector<float> read_floats(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> floats(bytes.size() / sizeof(float));
    std::memcpy(floats.data(), bytes.data(), floats.size() * sizeof(float));
    return floats;
}

TEST(DiskPlayback, PlaysTheDecodedMusicAtHalfLevelInRealTime) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("velmo_audio_" + std::to_string(getpid()) + ".raw")).string();
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    select_playback_backend(&sdl_playback_backend);

    testing::internal::CaptureStdout();
    const bool started = start_music(fixture_mp3().bytes, fixture_mp3().size);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "decoding full mp3...\n");
    ASSERT_TRUE(started);
    // The fixture takes many periods to decode, and the clock ran meanwhile: it
    // starts when the buffer is published, not when the decode is done.
    EXPECT_GT(read_playback_position(), 0.0) << "the clock waited for the decode";

    // The clock against the wall clock, every 20 ms for 2 s: each step of the
    // music time matches the step of the wall clock within one period (10 ms;
    // 4 ms more for the scheduler of a busy machine). Over the whole run SDL's
    // disk driver, which sleeps one period after each write, falls a little
    // behind real time; the music time follows the device, so it does too.
    using clock = std::chrono::steady_clock;
    const double period = 441.0 / 44100.0;
    const double p0 = read_playback_position();
    const auto t0 = clock::now();
    double previous_music = 0.0, previous_wall = 0.0, worst_step = 0.0;
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const double music = (read_playback_position() - p0) / kPcmBytesPerSecond;
        const double wall = std::chrono::duration<double>(clock::now() - t0).count();
        worst_step = std::max(worst_step, std::abs((music - previous_music) - (wall - previous_wall)));
        previous_music = music;
        previous_wall = wall;
    }
    EXPECT_LE(worst_step, period + 0.004) << "the music clock stumbles against the wall clock";
    EXPECT_NEAR(previous_music, previous_wall, 0.05 * previous_wall) << "the music clock runs at the wrong rate";
    const int64_t undecoded = music_undecoded_frames_played();
    const std::vector<float> decoded(music_pcm(), music_pcm() + 2 * kPcmFrames);
    music_shutdown();
    unsetenv("SDL_AUDIODRIVER");
    unsetenv("SDL_DISKAUDIOFILE");

    // The recording: silence while the device ran before the buffer existed,
    // then the music from its first frame; frames the decoder had not reached
    // yet (undecoded) play as silence.
    const std::vector<float> played = read_floats(path);
    std::filesystem::remove(path);
    const auto frames = static_cast<int64_t>(played.size() / 2);
    ASSERT_GT(frames, 44100 * 2);
    int64_t lead = -1;
    for (int64_t f = 0; f + 64 < frames && lead < 0; ++f) {
        bool match = true;
        for (int64_t i = 0; i < 128 && match; ++i) match = played[2 * f + i] == decoded[2 * undecoded + i] * 0.5f;
        if (match) lead = f - undecoded;
    }
    ASSERT_GE(lead, 0) << "the music never shows up in the recording";
    EXPECT_LE(lead, 44100 / 2) << "half a second of silence before the music";
    for (int64_t f = 0; f < frames; ++f) {
        const int64_t m = f - lead;
        for (int c = 0; c < 2; ++c) {
            const float expected = m < undecoded ? 0.0f : decoded[2 * m + c] * 0.5f;
            ASSERT_EQ(played[2 * f + c], expected) << "recorded frame " << f << " (music frame " << m << ")";
        }
    }
    std::printf("recorded %lld frames, %lld before the music, %lld undecoded; music %.3f s in %.3f s of wall "
                "time, steps within %.2f ms\n",
                static_cast<long long>(frames), static_cast<long long>(lead), static_cast<long long>(undecoded),
                previous_music, previous_wall, worst_step * 1000.0);
}

}  // namespace

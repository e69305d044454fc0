// Built with -fsanitize=thread: SDL's audio thread runs the callback (dummy
// driver, real time) while the main thread decodes into the published buffer,
// then reads the clock and the history every frame.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "audio/spectrum.h"
#include "tests/audio/audio_fixture.h"

namespace {

TEST(AudioThreads, CallbackAndFrameReadersShareNoUnorderedMemory) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    select_playback_backend(&sdl_playback_backend);
    spectrum_setup();
    testing::internal::CaptureStdout();
    ASSERT_TRUE(start_music(fixture_mp3().bytes, fixture_mp3().size));
    testing::internal::GetCapturedStdout();
    create_fft_plan();

    double last = read_playback_position();
    bool heard = false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < until) {
        const double position = read_playback_position();
        ASSERT_GE(position, last) << "the clock runs forward";
        ASSERT_EQ(static_cast<int64_t>(position) % 8, 0) << "whole frames only";
        last = position;
        spectrum_step();
        const float* history = acquire_mono_history();
        for (int i = 0; i < kMonoHistoryLength; ++i) heard = heard || history[i] != 0.0f;
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
    EXPECT_GT(last / kPcmBytesPerSecond, 1.0) << "the music played while the main thread read";
    EXPECT_TRUE(heard);
    music_shutdown();
    spectrum_shutdown();
    unsetenv("SDL_AUDIODRIVER");
}

}  // namespace

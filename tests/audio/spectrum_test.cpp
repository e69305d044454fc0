#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "audio/spectrum.h"
#include "tests/audio/audio_fixture.h"

namespace {

std::vector<float> constant(float v) { return std::vector<float>(kFftSize, v); }

// A whole number of periods: all of its energy lands in one bin.
std::vector<float> sine_at_bin(int bin, float amplitude) {
    std::vector<float> h(kFftSize);
    for (int k = 0; k < kFftSize; ++k) {
        h[k] = amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * bin * k / kFftSize));
    }
    return h;
}

class Spectrum : public testing::Test {
protected:
    void SetUp() override {
        spectrum_setup();
        create_fft_plan();
    }
    void TearDown() override { spectrum_shutdown(); }

    static void step_times(const std::vector<float>& history, int frames) {
        for (int i = 0; i < frames; ++i) spectrum_step_with(history.data());
    }
    static std::vector<int> lit_bins() {
        std::vector<int> lit;
        for (int i = 0; i < spectrum_bins(); ++i) {
            if (spectrum_bytes()[i] != 0) lit.push_back(i);
        }
        return lit;
    }
};

TEST(SpectrumSetup, SilentBeforeTheMusicEverPlays) {
    EXPECT_EQ(spectrum_bins(), 0);
    EXPECT_EQ(smoothed_spectrum(), nullptr);
    spectrum_setup();
    ASSERT_EQ(spectrum_bins(), 512);
    for (int i = 0; i < 512; ++i) {
        ASSERT_EQ(spectrum_bytes()[i], 0);
        ASSERT_EQ(smoothed_spectrum()[i], 0.0f);
    }
    spectrum_step_with(std::vector<float>(kFftSize, 1.0f).data());
    EXPECT_EQ(spectrum_bytes()[0], 0) << "no plan yet: nothing is analysed";
    spectrum_shutdown();
}

struct ToneCase {
    const char* name;
    std::vector<float> history;
    std::vector<int> lit;   // the only bins with a non-zero byte
    int bin;                // one of them, and its byte
    int byte;
};
void PrintTo(const ToneCase& c, std::ostream* os) { *os << c.name; }

class SpectrumOfTone : public Spectrum, public testing::WithParamInterface<ToneCase> {};

// Bytes are the magnitude over 8, clamped to 1, times 255 truncated.
TEST_P(SpectrumOfTone, LightsOnlyItsBins) {
    const ToneCase& c = GetParam();
    spectrum_step_with(c.history.data());
    EXPECT_EQ(lit_bins(), c.lit);
    if (!c.lit.empty()) {
        EXPECT_EQ(spectrum_bytes()[c.bin], c.byte);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Histories, SpectrumOfTone,
    testing::Values(
        ToneCase{"silence", constant(0.0f), {}, 0, 0},
        // A magnitude of 1024 saturates.
        ToneCase{"full_scale_constant", constant(1.0f), {0}, 0, 255},
        // 0.005 × 1024 = 5.12 → 0.64 → 163.2.
        ToneCase{"small_constant", constant(0.005f), {0}, 0, 163},
        // A sine of amplitude a has magnitude 512 a in its bin: 0.01 → 5.12 → 163.
        ToneCase{"sine_at_bin_32", sine_at_bin(32, 0.01f), {32}, 32, 163},
        ToneCase{"loud_sine_at_bin_32", sine_at_bin(32, 0.5f), {32}, 32, 255},
        ToneCase{"sine_at_bin_511", sine_at_bin(511, 0.01f), {511}, 511, 163}),
    [](const testing::TestParamInfo<ToneCase>& info) { return std::string(info.param.name); });

// Each frame a bin moves a tenth of the way to its byte / 255; in silence it
// decays by 0.9 per frame.
TEST_F(Spectrum, SmoothsTowardTheBytesAndDecaysInSilence) {
    spectrum_step_with(constant(1.0f).data());
    EXPECT_FLOAT_EQ(smoothed_spectrum()[0], 0.1f);
    step_times(constant(1.0f), 400);
    ASSERT_NEAR(smoothed_spectrum()[0], 1.0f, 1e-6f) << "a held 255 settles at 1";
    ASSERT_LE(smoothed_spectrum()[0], 1.0f);
    EXPECT_EQ(smoothed_spectrum()[1], 0.0f);

    step_times(constant(0.0f), 1);
    EXPECT_NEAR(smoothed_spectrum()[0], 0.9f, 1e-6f);
    step_times(constant(0.0f), 9);
    EXPECT_NEAR(smoothed_spectrum()[0], 0.349f, 0.0005f);
}

// Whatever the input, no smoothed value leaves 0 … 1.
TEST_F(Spectrum, SmoothedValuesStayWithinZeroAndOne) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> level(0.0f, 1.0f);
    std::vector<float> history(kFftSize);
    for (int frame = 0; frame < 300; ++frame) {
        const float amplitude = frame % 3 == 0 ? 0.0f : (frame % 3 == 1 ? 1.0f : 40.0f);
        for (float& v : history) v = amplitude * (2.0f * level(random) - 1.0f);
        if (frame % 50 < 25) history.assign(kFftSize, frame % 2 ? 1.0f : -1.0f);
        spectrum_step_with(history.data());
        for (int i = 0; i < spectrum_bins(); ++i) {
            ASSERT_GE(smoothed_spectrum()[i], 0.0f) << "bin " << i << " at frame " << frame;
            ASSERT_LE(smoothed_spectrum()[i], 1.0f) << "bin " << i << " at frame " << frame;
        }
    }
}

// The spectrum step reads what the audio callback kept: the fixture's 330 Hz
// and 550 Hz tones (bins 7.7 and 12.8) light the bins around them.
TEST_F(Spectrum, AnalysesTheMusicThatPlays) {
    select_playback_backend(&manual_playback_backend);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(start_music(fixture_mp3().bytes, fixture_mp3().size));
    testing::internal::GetCapturedStdout();
    pull_frames(44100);
    spectrum_step();
    // Unwindowed: the tones leak into their neighbours, less the farther away.
    const uint8_t* bytes = spectrum_bytes();
    EXPECT_EQ(bytes[8], 255);
    EXPECT_EQ(bytes[13], 255);
    for (int i = 100; i < spectrum_bins(); ++i) EXPECT_LT(bytes[i], 32) << "bin " << i;
    music_shutdown();
    select_playback_backend(&sdl_playback_backend);
}

}  // namespace

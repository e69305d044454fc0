// The 2D layers in the show's real frame, through the frame harness with the
// real music: each background kind, a caption on each layer in each tint, and
// the shipped timeline's intro and break. Every frame is saved as PNG in this
// build folder (layers_*.png) and checked at a few telling pixels.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/frame_driver.h"
#include "app/sync_track_fixture.h"
#include "support/frame_harness.h"

namespace {

constexpr uint64_t frame_ns = 16666667;
constexpr uint32_t audio_per_frame = 735;  // 1/60 s at 44,100 Hz
constexpr int W = 320, H = 180;

struct Pixel {
    int r, g, b;
};

// One show session on a 16:9 window; time advances with the music.
class LayersRealFrame : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(harness_open(W, H));
        frame(0);  // loading
    }
    void TearDown() override { harness_close(); }

    void frame(uint32_t audio_frames) {
        now_ += frame_ns;
        harness_frame(now_, audio_frames);
    }
    // Plays the music up to `seconds`, the last frames at 60 Hz so that the
    // smoothed spectrum (10 % a frame) comes most of the way to the music's.
    void play_to(double seconds) {
        constexpr int settle_frames = 12;
        uint64_t target = static_cast<uint64_t>(seconds * 44100.0) - settle_frames * audio_per_frame;
        if (target > played_) {
            frame(static_cast<uint32_t>(target - played_));
            played_ = target;
        }
        for (int i = 0; i < settle_frames; ++i) {
            frame(audio_per_frame);
            played_ += audio_per_frame;
        }
    }
    // A timeline of constant values (track name, value); every other track reads 0.
    void use_tracks(const std::vector<std::pair<const char*, float>>& values) {
        TrackTableFixture tracks;
        for (const auto& [name, value] : values) tracks.add_track(name, {{0, value, KEY_STEP}});
        ASSERT_TRUE(tracks.open());
    }
    std::vector<uint8_t> shot(const std::string& name) {
        std::vector<uint8_t> rgba = harness_read_pixels();
        EXPECT_TRUE(write_png(std::string(LAYERS_TEST_OUTPUT_DIR) + "/layers_" + name + ".png", W, H, rgba));
        return rgba;
    }
    static Pixel at(const std::vector<uint8_t>& rgba, int x, int y) {
        const uint8_t* p = &rgba[(static_cast<size_t>(y) * W + x) * 4];
        return {p[0], p[1], p[2]};
    }

    uint64_t now_ = 0;
    uint64_t played_ = 0;
};

void expect_near(Pixel p, Pixel want, int tolerance, const std::string& where) {
    EXPECT_NEAR(p.r, want.r, tolerance) << where;
    EXPECT_NEAR(p.g, want.g, tolerance) << where;
    EXPECT_NEAR(p.b, want.b, tolerance) << where;
}

struct BackgroundShot {
    const char* name;
    float bg_index;
};

TEST_F(LayersRealFrame, EveryBackgroundKindWithTheMusic) {
    const BackgroundShot shots[] = {
        {"bg_solid_black", 0.0f},     {"bg_solid_golden_bars", -1.0f}, {"bg_gradient_down", 1.0f},
        {"bg_gradient_scrolling", 6.0f}, {"bg_gradient_across_bars", -4.0f}, {"bg_gradient_bars", -3.0f},
        {"bg_pattern_1", 10.1f},      {"bg_pattern_2", 10.2f},         {"bg_pattern_3", 10.3f},
        {"bg_pattern_4", 10.4f},      {"bg_pattern_5", 10.5f},         {"bg_pattern_default", 12.0f},
        {"bg_spectrum", 11.0f},
    };
    play_to(30.0);
    for (const BackgroundShot& s : shots) {
        use_tracks({{"bg.index", s.bg_index}});
        frame(audio_per_frame);
        std::vector<uint8_t> rgba = shot(s.name);
        if (s.bg_index == 0.0f) expect_near(at(rgba, W / 2, H / 2), {0, 0, 0}, 0, s.name);
        if (s.bg_index == -1.0f) expect_near(at(rgba, 4, 2), {247, 173, 40}, 24, s.name);
        if (s.bg_index == 11.0f) expect_near(at(rgba, 4, 2), {22, 249, 255}, 24, s.name);
    }
}

TEST_F(LayersRealFrame, ACaptionOnEachLayerInEachTint) {
    play_to(10.0);
    const char* modes[] = {"cream", "golden", "terracotta", "sage", "near_black", "gradient"};
    for (int mode = 0; mode < 6; ++mode) {
        // Layer 0 shows the title in the upper half, layer 1 a line in the lower half.
        use_tracks({{"bg.index", 10.3f},
                    {"img0:alpha", 1.0f}, {"img0:index", 0.0f}, {"img0:mode", float(mode)},
                    {"img0:scale", 1.0f}, {"img0:y", 0.25f},
                    {"img1:alpha", 1.0f}, {"img1:index", 1.0f}, {"img1:mode", float(mode)},
                    {"img1:scale", 1.0f}, {"img1:y", -0.3f}, {"img1:angle", 10.0f}});
        frame(audio_per_frame);
        shot(std::string("captions_") + modes[mode]);
    }
    // A fade over everything: layer 1 darkens the target by half.
    use_tracks({{"bg.index", -1.0f}, {"img0:alpha", 1.0f}, {"img0:index", 0.0f}, {"img0:scale", 1.0f},
                {"img1:index", -1.0f}, {"img1:alpha", 0.5f}});
    frame(audio_per_frame);
    std::vector<uint8_t> faded = shot("captions_fade");
    expect_near(at(faded, 4, 2), {124, 87, 20}, 24, "golden darkened by half");
}

// The shipped timeline: the intro (part 0) and the break, where the shape
// effect flickers in over the background.
TEST_F(LayersRealFrame, TheIntroAndTheBreakOfTheShippedTimeline) {
    const float rows[] = {8.0f, 40.0f, 100.0f, 150.0f, 193.5f, 208.5f, 236.5f};
    for (float row : rows) {
        play_to(row / 6.666666666666667);
        char name[32];
        std::snprintf(name, sizeof name, "intro_row_%03d", static_cast<int>(row));
        if (row > 192.0f) std::snprintf(name, sizeof name, "break_row_%03d", static_cast<int>(row));
        std::vector<uint8_t> rgba = shot(name);
        if (row > 192.0f) {
            EXPECT_EQ(frame_driver.active_part, 1) << "row " << row << " shows the shape effect";
        }
        int lit = 0;
        for (size_t i = 0; i < rgba.size(); i += 4) lit += rgba[i] + rgba[i + 1] + rgba[i + 2] > 0;
        // The title fades in on black; from row 16 on the background fills the frame.
        EXPECT_GT(lit, row < 16.0f ? W * H / 50 : W * H / 2) << "row " << row << " is not empty";
    }
}

}  // namespace

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "app/frame_driver.h"
#include "app/parts.h"
#include "app/sync_track_fixture.h"
#include "audio/fft_image.h"
#include "audio/spectrum.h"
#include "platform/app_window.h"
#include "support/frame_harness.h"

namespace {

struct Message {
    int part;
    int32_t message;
    int frame;  // frame_driver.frame_count when it arrived
    bool shadow_pass;
};

std::vector<Message> messages;

template <int Index>
bool recording_part(int32_t message, void* argument) {
    bool shadow = message == PART_DRAW && static_cast<const FrameInfo*>(argument)->shadow_pass;
    messages.push_back({Index, message, frame_driver.frame_count, shadow});
    return true;
}

// Nanoseconds; the manual clock starts at 0, so the first frame comes a little later.
constexpr uint64_t ms = 1000000;

// The show's own frames with recording parts in place of the real ones.
class FrameDriver : public testing::Test {
protected:
    void SetUp() override {
        saved_[0] = part_table[0];
        saved_[1] = part_table[1];
        saved_[2] = part_table[2];
        part_table[0] = recording_part<0>;
        part_table[1] = recording_part<1>;
        part_table[2] = recording_part<2>;
        messages.clear();
        ASSERT_TRUE(harness_open(160, 90));
    }
    void TearDown() override {
        harness_close();
        for (int i = 0; i < part_count; ++i) part_table[i] = saved_[i];
    }
    PartFn saved_[part_count];
};

TEST_F(FrameDriver, FirstFrameHasNoDeltaSendsNoPartMessageAndEndsWithTheLoadStep) {
    harness_frame(1 * ms);
    EXPECT_EQ(frame_driver.delta, 0.0);
    EXPECT_EQ(frame_delta, 0.0f);
    EXPECT_EQ(frame_driver.load_step_count, 1);
    EXPECT_FALSE(frame_driver.loading);
    ASSERT_EQ(messages.size(), 3u) << "only the three PART_INIT of the load step";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(messages[i].part, i) << "table order";
        EXPECT_EQ(messages[i].message, PART_INIT);
    }
    harness_frame(18 * ms);
    harness_frame(35 * ms);
    EXPECT_EQ(frame_driver.load_step_count, 1) << "the load step runs once";
}

TEST_F(FrameDriver, SecondFrameDeltaIsTheWholeLoadingTimeUnrounded) {
    harness_frame(1 * ms);
    harness_frame(1 * ms + 1234567891);
    EXPECT_DOUBLE_EQ(frame_driver.delta, 1.234567891);
    harness_frame(1 * ms + 1234567891 + 16200000);
    EXPECT_DOUBLE_EQ(frame_driver.delta, 0.016666667) << "later frames round to the refresh interval";
    EXPECT_FLOAT_EQ(frame_delta, 0.016666667f);
}

TEST_F(FrameDriver, OnlyTheActivePartReceivesMessagesInItsOrder) {
    harness_frame(1 * ms);
    messages.clear();
    harness_frame(18 * ms);
    // At row 0 "part" is 0: the empty part is active.
    ASSERT_EQ(messages.size(), 4u);
    const int32_t expected[] = {PART_UPDATE, PART_DRAW, PART_CLEAR_COLOR, PART_DRAW};
    for (size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].part, 0);
        EXPECT_EQ(messages[i].message, expected[i]) << "message " << i;
    }
    EXPECT_TRUE(messages[1].shadow_pass) << "the shadow variant comes first";
    EXPECT_FALSE(messages[3].shadow_pass);
}

TEST_F(FrameDriver, EscapeQuitsAndNothingElseDoes) {
    const platform::Event ignored[] = {
        {platform::EventType::KeyDown, platform::KEYCODE_A, false},
        {platform::EventType::KeyDown, platform::KEYCODE_A, true},
        {platform::EventType::KeyDown, platform::KEYCODE_ENTER, false},
        {platform::EventType::KeyUp, platform::KEYCODE_ESCAPE, false},
        {platform::EventType::KeyDown, platform::KEYCODE_INVALID, false},
    };
    for (const platform::Event& e : ignored) {
        app_event(&e);
        EXPECT_FALSE(platform::quit_requested()) << "key " << e.key_code << " repeat " << e.key_repeat;
    }
    const platform::Event escape{platform::EventType::KeyDown, platform::KEYCODE_ESCAPE, false};
    app_event(&escape);
    EXPECT_TRUE(platform::quit_requested());
}

// A process may open the show more than once (tests, tools): every session
// builds its targets and pipelines afresh on its own graphics context. The
// timeline is replaced by one whose background is solid golden.
TEST(FrameDriverSessions, ASecondSessionDrawsLikeTheFirst) {
    for (int session = 0; session < 2; ++session) {
        ASSERT_TRUE(harness_open(160, 90));
        TrackTableFixture tracks;
        tracks.add_track("bg.index", {{0, -1.0f, KEY_STEP}});
        ASSERT_TRUE(tracks.open());
        harness_frame(1 * ms);
        harness_frame(18 * ms);
        std::vector<uint8_t> rgba = harness_read_pixels();
        size_t centre = (45 * 160 + 80) * 4;
        EXPECT_GT(rgba[centre + 0], 200) << "session " << session << ": the background reaches the window";
        EXPECT_GT(rgba[centre + 1], 120) << "session " << session;
        EXPECT_LT(rgba[centre + 2], 100) << "session " << session;
        harness_close();
    }
}

// The "fft" image is uploaded after the frame's spectrum step: once app_frame
// returns, it holds the smoothed spectrum of that same frame.
TEST(FrameDriverSessions, FftImageHoldsTheSpectrumOfItsOwnFrame) {
    ASSERT_TRUE(harness_open(160, 90));
    harness_frame(1 * ms);
    harness_frame(18 * ms, 44100 * 30);  // 30 s into the music
    std::vector<float> image(kSpectrumBins);
    for (int frame = 0; frame < 3; ++frame) {
        harness_frame((35 + 17 * frame) * ms, 735);
        ASSERT_NE(fft_image().id, 0u);
        glGetTextureImage(gfx::gl_image_texture(fft_image()), 0, GL_RED, GL_FLOAT, GLsizei(image.size() * sizeof(float)),
                          image.data());
        const std::vector<float> smoothed(smoothed_spectrum(), smoothed_spectrum() + kSpectrumBins);
        EXPECT_EQ(image, smoothed) << "frame " << frame;
        EXPECT_GT(*std::max_element(smoothed.begin(), smoothed.end()), 0.0f) << "the music plays";
    }
    harness_close();
}

struct PartCase {
    double value;
    int part;
};

void PrintTo(const PartCase& c, std::ostream* os) { *os << "part value " << c.value; }

class PartSelection : public testing::TestWithParam<PartCase> {};

TEST_P(PartSelection, TruncatesRaisesNegativesAndWrapsAroundTheTable) {
    EXPECT_EQ(select_part(GetParam().value), GetParam().part) << "part value " << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Values, PartSelection,
                         testing::Values(PartCase{0.0, 0}, PartCase{0.99, 0}, PartCase{1.0, 1}, PartCase{2.5, 2},
                                         PartCase{3.0, 0}, PartCase{4.0, 1}, PartCase{-0.5, 0},
                                         PartCase{-1.0, 0}, PartCase{1e12, 2147483647 % 3}));

}  // namespace

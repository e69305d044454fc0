// The show at a fixed frame rate from outside: music and frames in lockstep,
// one period between frames (the loading frame and a jump included).
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <vector>

#include "app/frame_driver.h"
#include "app/offline_show.h"
#include "app/sync_tracks.h"
#include "audio/music.h"

namespace {

struct ScheduleCase {
    const char* name;
    int fps;
    int64_t jump_to;  // 0: no jump
    double expected_delta;  // the rounded interval the frames see
};

void PrintTo(const ScheduleCase& c, std::ostream* os) { *os << c.name; }

class FrameScheduleTest : public testing::TestWithParam<ScheduleCase> {};

TEST_P(FrameScheduleTest, EachFrameSeesItsOwnMusicTimeOnePeriodAfterTheLast) {
    const ScheduleCase& c = GetParam();
    ASSERT_TRUE(offline_show_open({.width = 64, .height = 36, .antialias = false, .window_title = nullptr}));
    FrameSchedule schedule{c.fps};
    schedule.run_loading_frame();
    EXPECT_FALSE(frame_driver.loading);
    EXPECT_EQ(read_playback_position(), 0.0) << "the loading frame plays no music";
    if (c.jump_to) schedule.jump_to(c.jump_to);
    for (int i = 0; i < 5; ++i) {
        const int64_t k = schedule.next_frame;
        schedule.step();
        const int64_t played = schedule.music_frames_before(k);
        EXPECT_EQ(played, k * 44100 / c.fps);
        EXPECT_EQ(read_playback_position(), static_cast<double>(played) * 8) << "frame " << k;
        EXPECT_FLOAT_EQ(music_time, static_cast<float>(played / 44100.0)) << "frame " << k;
        EXPECT_NEAR(frame_driver.delta, c.expected_delta, 2e-9) << "frame " << k;
    }
    offline_show_close();
}

INSTANTIATE_TEST_SUITE_P(
    Rates, FrameScheduleTest,
    testing::Values(ScheduleCase{"at_60_fps", 60, 0, 16666667e-9},
                    // 1837.5 music frames a frame: the count is floored frame by frame, never drifting
                    ScheduleCase{"at_24_fps", 24, 0, 41666667e-9},
                    // row 256 at 60 fps is frame 2304; the frame after the jump still sees one period
                    ScheduleCase{"after_a_jump_to_row_256", 60, 2304, 16666667e-9}),
    [](const testing::TestParamInfo<ScheduleCase>& info) { return std::string(info.param.name); });

TEST(FrameSchedule, FirstFrameAtARowLandsOnTheFrameItNames) {
    const FrameSchedule at60{60};
    EXPECT_EQ(at60.first_frame_at(256 / ROWS_PER_SECOND), 2304) << "a row on a frame";
    EXPECT_EQ(at60.first_frame_at(322.67 / ROWS_PER_SECOND), 2904) << "48.4 s written with two decimals";
    EXPECT_EQ(at60.first_frame_at(256.05 / ROWS_PER_SECOND), 2305) << "just after a frame: the next";
    EXPECT_EQ(at60.first_frame_at(0.0), 0);
    const FrameSchedule at24{24};
    EXPECT_EQ(at24.music_frames_before(3), 5512) << "3 × 1837.5, floored";
}

std::vector<FrameMark> marks_seen;

TEST(FrameMarks, EachStageIsMarkedOnceInFrameOrderAndTheLoadStepAfterTheFirstFrame) {
    ASSERT_TRUE(offline_show_open({.width = 64, .height = 36, .antialias = false, .window_title = nullptr}));
    marks_seen.clear();
    frame_mark_hook = [](FrameMark m) { marks_seen.push_back(m); };
    FrameSchedule schedule{60};
    schedule.run_loading_frame();
    schedule.step();
    frame_mark_hook = nullptr;
    schedule.step();  // without a hook nothing is called
    offline_show_close();
    const std::vector<FrameMark> expected = {
        // the loading frame, then its load step
        FRAME_MARK_BEGIN, FRAME_MARK_DRAW, FRAME_MARK_POST, FRAME_MARK_END,
        FRAME_MARK_LOAD_PARTS, FRAME_MARK_LOAD_MODELS, FRAME_MARK_LOAD_SPECTRUM, FRAME_MARK_LOAD_MUSIC,
        FRAME_MARK_LOAD_FFT, FRAME_MARK_LOAD_END,
        // the first running frame
        FRAME_MARK_BEGIN, FRAME_MARK_DRAW, FRAME_MARK_POST, FRAME_MARK_END,
    };
    EXPECT_EQ(marks_seen, expected);
}

}  // namespace

#include <gtest/gtest.h>

#include "blur_cases.h"
#include "render/bloom.h"
#include "render/render_targets.h"

namespace {

struct RectCase {
    int32_t width, height;
    Rect expected;
};

TEST(PresentRect, CentredSixteenByNine) {
    const RectCase cases[] = {
        {1920, 1080, {0, 0, 1920, 1080}},
        {1280, 1024, {0, 152, 1280, 720}},
        {2560, 1080, {320, 0, 1920, 1080}},
        {1366, 768, {0, 0, 1365, 768}},  // just wider than 16:9: 1365.33 rounds down
        {800, 600, {0, 75, 800, 450}},
        {1, 1, {0, -32, 1, 64}},  // the derived side keeps 64 pixels and reaches past the window
        {100, 1000, {0, 468, 100, 64}},
        {1000, 10, {468, 0, 64, 10}},  // a 17.8-pixel side is raised to 64, offset floored
        {360, 1000, {0, 398, 360, 203}},  // exactly 202.5: half rounds away from zero
        {360, 400, {0, 99, 360, 202}},    // 202.49998 in single precision
    };
    for (const RectCase& c : cases) {
        Rect r = compute_present_rect(c.width, c.height);
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        EXPECT_FLOAT_EQ(r.x, c.expected.x);
        EXPECT_FLOAT_EQ(r.y, c.expected.y);
        EXPECT_FLOAT_EQ(r.w, c.expected.w);
        EXPECT_FLOAT_EQ(r.h, c.expected.h);
    }
}

TEST(BlurLevels, HalvedFourTimesAndNeverEmpty) {
    for (const BlurCase& c : blur_cases) {
        Rect r = compute_present_rect(c.window_width, c.window_height);
        EXPECT_EQ(r.w, static_cast<float>(c.target_width)) << c.window_width << " x " << c.window_height;
        EXPECT_EQ(r.h, static_cast<float>(c.target_height)) << c.window_width << " x " << c.window_height;
        for (int i = 0; i < blur_level_count; ++i) {
            ImageSize s = blur_level_size(c.target_width, c.target_height, i);
            SCOPED_TRACE(testing::Message() << c.target_width << " x " << c.target_height << " level " << i);
            EXPECT_EQ(s.width, c.levels[i].width);
            EXPECT_EQ(s.height, c.levels[i].height);
        }
    }
}

}  // namespace

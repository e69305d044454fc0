// The render pipeline inside the real frame: the show's callbacks on a hidden
// 4:3 window, through the frame harness.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/bloom.h"
#include "render/render_targets.h"
#include "support/frame_harness.h"

namespace {

constexpr uint64_t ms = 1000000;

TEST(RealFrame, LoadingFrameIsBlackAndBarsStayBlack) {
    ASSERT_TRUE(harness_open(320, 240));
    const int w = harness_width(), h = harness_height();
    auto count_lit = [&](const std::vector<uint8_t>& rgba, int row_begin, int row_end) {
        int lit = 0;
        for (int y = row_begin; y < row_end; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
                if (p[0] || p[1] || p[2]) ++lit;
            }
        return lit;
    };

    harness_frame(1 * ms);  // loading: cleared to 0, composite parameters 0
    std::vector<uint8_t> loading = harness_read_pixels();
    write_png(std::string(RENDER_TEST_OUTPUT_DIR) + "/real_frame_loading.png", w, h, loading);
    EXPECT_EQ(count_lit(loading, 0, h), 0) << "the loading frame is black";
    EXPECT_EQ(composite_params.Glow, 0.0f);
    EXPECT_EQ(composite_params.VignetteSize, 0.0f);

    harness_frame(18 * ms);  // the first running frame, row 0
    std::vector<uint8_t> running = harness_read_pixels();
    write_png(std::string(RENDER_TEST_OUTPUT_DIR) + "/real_frame_running.png", w, h, running);
    EXPECT_EQ(composite_params.VignetteSize, 1.0f);
    EXPECT_EQ(count_lit(running, 0, 30), 0) << "bar above the rectangle";
    EXPECT_EQ(count_lit(running, 210, h), 0) << "bar below the rectangle";

    // Built once at start-up; frames at the same size rebuild nothing.
    EXPECT_EQ(render_targets.rebuild_count, 1);
    EXPECT_EQ(render_targets.target_width, 320);
    EXPECT_EQ(render_targets.target_height, 180);
    EXPECT_FLOAT_EQ(render_targets.present_rect.y, 30.0f);
    harness_close();
}

}  // namespace

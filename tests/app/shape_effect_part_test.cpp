// The shape effect's part function: the messages it answers and its clear colour.
#include <gtest/gtest.h>

#include "app/parts.h"

namespace {

TEST(ShapeEffectPart, AnswersInitDrawAndClearColourOnly) {
    EXPECT_TRUE(shape_effect_part(PART_INIT, nullptr));
    FrameInfo shadow{0.0, 0.0, 320.0f, 180.0f, true};
    EXPECT_TRUE(shape_effect_part(PART_DRAW, &shadow)) << "the shadow variant draws nothing but is handled";
    EXPECT_FALSE(shape_effect_part(PART_UPDATE, nullptr));
    EXPECT_FALSE(shape_effect_part(PART_RESET, nullptr));
    EXPECT_FALSE(shape_effect_part(1, nullptr));
}

TEST(ShapeEffectPart, ClearsGoldenAndLeavesTheAlphaAsPassed) {
    float rgba[4] = {0.0f, 0.0f, 0.0f, 0.5f};
    EXPECT_TRUE(shape_effect_part(PART_CLEAR_COLOR, rgba));
    EXPECT_FLOAT_EQ(rgba[0], 0.96862745f);
    EXPECT_FLOAT_EQ(rgba[1], 0.67843139f);
    EXPECT_FLOAT_EQ(rgba[2], 0.15686275f);
    EXPECT_FLOAT_EQ(rgba[3], 0.5f);
}

}  // namespace

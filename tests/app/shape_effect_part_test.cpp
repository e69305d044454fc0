// The part functions' messages and clear colours.
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

TEST(ScenePart, LeavesMessagesItDoesNotKnowUnhandled) {
    for (int32_t message : {1, 6, -1}) EXPECT_FALSE(scene_part(message, nullptr)) << message;
}

// Both parts clear golden; the shape effect leaves the alpha as passed, the
// scene part writes 0.
TEST(PartClearColour, GoldenWithEachPartsAlpha) {
    struct Case {
        const char* name;
        PartFn part;
        float expected_alpha;
    };
    const Case cases[] = {
        {"shape effect", shape_effect_part, 0.5f},
        {"scene", scene_part, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        float rgba[4] = {0.0f, 0.0f, 0.0f, 0.5f};
        EXPECT_TRUE(c.part(PART_CLEAR_COLOR, rgba));
        EXPECT_EQ(rgba[0], 0.968627453f);
        EXPECT_EQ(rgba[1], 0.678431392f);
        EXPECT_EQ(rgba[2], 0.156862751f);
        EXPECT_EQ(rgba[3], c.expected_alpha);
    }
}

}  // namespace

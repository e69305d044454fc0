// The physics scene in the show's real frame, through the frame harness with
// the shipped models: several scene types, each held for a few frames and
// saved as PNG in this build folder (scene_type_*.png); and the scene part
// standing still while another part runs.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/frame_driver.h"
#include "app/sync_track_fixture.h"
#include "physics/director.h"
#include "physics/sim.h"
#include "physics/spawner.h"
#include "scene/scene_graph.h"
#include "scene_models.h"
#include "support/frame_harness.h"

namespace {

constexpr uint64_t frame_ns = 16666667;
constexpr uint32_t audio_per_frame = 735;  // 1/60 s at 44,100 Hz
constexpr int W = 320, H = 180;

class SceneRealFrame : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(harness_open(W, H));
        frame();  // loading
    }
    void TearDown() override { harness_close(); }

    void frame() {
        now_ += frame_ns;
        harness_frame(now_, audio_per_frame);
    }
    void use_tracks(const std::vector<std::pair<const char*, std::vector<TrackKey>>>& tracks) {
        TrackTableFixture table;
        for (const auto& [name, keys] : tracks) table.add_track(name, keys);
        ASSERT_TRUE(table.open());
    }
    std::vector<uint8_t> shot(const std::string& name) {
        std::vector<uint8_t> rgba = harness_read_pixels();
        EXPECT_TRUE(write_png(std::string(PHYSICS_TEST_OUTPUT_DIR) + "/scene_" + name + ".png", W, H, rgba));
        return rgba;
    }

    uint64_t now_ = 0;
};

// Pixels that differ clearly from the top-left corner (the background there).
int changed_pixels(const std::vector<uint8_t>& rgba) {
    int changed = 0;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        int d = std::abs(rgba[i] - rgba[0]) + std::abs(rgba[i + 1] - rgba[1]) + std::abs(rgba[i + 2] - rgba[2]);
        changed += d > 24;
    }
    return changed;
}

TEST_F(SceneRealFrame, SceneTypesDrawLitPiecesInTheirEnvironments) {
    struct Case {
        const char* name;
        float param;
        float cam_x, cam_y, cam_z, at_y;  // the eye and the height looked at
    } cases[] = {
        {"bowl_3_1", 3.1f, 0, 40, 50, 0},
        {"face_7_1", 7.1f, 0, 20, 110, 5},
        {"stomp_15", 15, 0, 30, 80, 5},
        {"greetings_14", 14, 0, 0, 120, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        use_tracks({{"part", {{0, 2, KEY_STEP}}},
                    {"param", {{0, c.param, KEY_STEP}}},
                    {"sim:speed", {{0, 1, KEY_STEP}}},
                    {"cam:x", {{0, c.cam_x, KEY_STEP}}},
                    {"cam:y", {{0, c.cam_y, KEY_STEP}}},
                    {"cam:z", {{0, c.cam_z, KEY_STEP}}},
                    {"cam:at.y", {{0, c.at_y, KEY_STEP}}}});
        for (int i = 0; i < 10; ++i) frame();
        EXPECT_EQ(director.current_scene_type, static_cast<int>(c.param));
        EXPECT_GT(item_count, 0);
        EXPECT_TRUE(scene_transforms_finite());
        std::vector<uint8_t> rgba = shot(c.name);
        EXPECT_GT(changed_pixels(rgba), W * H / 200) << "the scene draws something over the background";
    }
}

TEST_F(SceneRealFrame, StandsStillWhileAnotherPartRunsAndGoesOnAfter) {
    // The scene part until row 2, the shape effect until row 4, the scene again.
    use_tracks({{"part", {{0, 2, KEY_STEP}, {2, 1, KEY_STEP}, {4, 2, KEY_STEP}}},
                {"param", {{0, 4, KEY_STEP}}},
                {"sim:speed", {{0, 1, KEY_STEP}}}});
    auto height = [] { return sim_world->get_position(BodyID{scene_node(scene_graph, items[0])->body}).y; };
    while (frame_driver.active_part != 1) frame();
    ASSERT_GT(item_count, 0);
    const float stopped = height();
    const int32_t pieces = item_count;
    for (int i = 0; i < 10; ++i) frame();
    EXPECT_EQ(frame_driver.active_part, 1);
    EXPECT_EQ(height(), stopped) << "nothing moves while the shape effect runs";
    while (frame_driver.active_part != 2) frame();
    frame();
    EXPECT_EQ(item_count, pieces) << "the same scene goes on, not a new one";
    EXPECT_LT(height(), stopped);
}

}  // namespace

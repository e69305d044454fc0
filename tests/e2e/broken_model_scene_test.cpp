// The show built with the mill's bytes broken (velmo_broken_models_embedded,
// see CMakeLists.txt), through the frame harness: the load names the model in
// one line and leaves it without entries, the other models load as shipped,
// and the mill's scene runs and draws its falling chips without the mill.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/sync_track_fixture.h"
#include "physics/director.h"
#include "physics/scene_models.h"
#include "physics/spawner.h"
#include "scene/shipped_models.h"
#include "support/frame_harness.h"

namespace {

constexpr uint64_t frame_ns = 16666667;
constexpr uint32_t audio_per_frame = 735;  // 1/60 s at 44,100 Hz
constexpr int W = 320, H = 180;

TEST(BrokenModel, TheMillsSceneRunsWithoutTheMill) {
    testing::internal::CaptureStdout();
    ASSERT_TRUE(harness_open(W, H));
    uint64_t now = frame_ns;
    harness_frame(now, audio_per_frame);  // loading
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("\nModel mill.glb: "), std::string::npos) << printed;
    ASSERT_NE(shipped_models[MODEL_MILL], nullptr);
    EXPECT_EQ(shipped_models[MODEL_MILL]->entry_count, 0);
    for (int slot : {MODEL_INGREDIENTS, MODEL_FACE, MODEL_GREETINGS}) EXPECT_GT(shipped_models[slot]->entry_count, 0);

    TrackTableFixture table;
    table.add_track("part", {{0, 2, KEY_STEP}});
    table.add_track("param", {{0, 6, KEY_STEP}});  // the mill
    table.add_track("sim:speed", {{0, 1, KEY_STEP}});
    table.add_track("cam:y", {{0, 80, KEY_STEP}});
    table.add_track("cam:z", {{0, 120, KEY_STEP}});
    table.add_track("cam:at.y", {{0, 80, KEY_STEP}});
    ASSERT_TRUE(table.open());
    for (int i = 0; i < 90; ++i) harness_frame(now += frame_ns, audio_per_frame);
    EXPECT_EQ(director.current_scene_type, 6);
    EXPECT_GT(item_count, 0) << "chips fall into the mill's scene";
    EXPECT_TRUE(scene_transforms_finite());

    std::vector<uint8_t> rgba = harness_read_pixels();
    EXPECT_TRUE(write_png(std::string(E2E_TEST_OUTPUT_DIR) + "/broken_model_mill_scene.png", W, H, rgba));
    int changed = 0;  // pixels clearly unlike the top-left corner (the background there)
    for (size_t i = 0; i < rgba.size(); i += 4)
        changed += std::abs(rgba[i] - rgba[0]) + std::abs(rgba[i + 1] - rgba[1]) + std::abs(rgba[i + 2] - rgba[2]) > 24;
    EXPECT_GT(changed, W * H / 500) << "the chips are drawn";
    harness_close();
}

}  // namespace

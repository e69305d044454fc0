// The shipped timeline played through the real director at 60 frames per
// second over the stand-in models, from the first scene row to the end, with
// "sim:speed" held at 0: nothing is stepped, but every scene is set up, kept or
// reset as in the show, every emitter paces and every piece is spawned, since
// none of that depends on where the pieces are. What it records is what the
// viewer is promised: every scene type and variant really set up, the donkey
// opening, the greetings arriving one by one, the fixed moments of the music
// met, and never more than 3,200 pieces asked for.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "app/frame_driver.h"
#include "app/parts.h"
#include "app/sync_tracks.h"
#include "physics/director.h"
#include "physics/environments.h"
#include "physics/spawner.h"
#include "scene/scene_graph.h"
#include "scene_models.h"
#include "score.h"

namespace {

constexpr double first_scene_row = 256, end_row = 1266.67;

struct SceneStart {
    float row;
    double param;
    bool reset;  // the world was emptied first
};

struct ShowRun {
    std::vector<SceneStart> setups;
    std::set<int> donkey_tenths;    // tenths of the donkey's fraction seen while it ran
    int greetings_before_leaving_13 = -1;
    int most_pieces = 0;
    std::string output;  // what the spawner printed
};

int greeting_pieces() {
    int n = 0;
    for (const auto& [name, count] : item_names())
        for (const char* g : greeting_names)
            if (name.rfind(g, 0) == 0) n += count;
    return n;
}

ShowRun play_show() {
    ShowRun run;
    testing::internal::CaptureStdout();
    frame_delta = 1.0f / 60.0f;
    int32_t type = -1;
    for (int64_t frame = 0;; ++frame) {
        double position = static_cast<double>(frame) * 735 * 8;  // bytes of 32-bit stereo per frame
        update_row_clock(position);
        if (current_row < first_scene_row) continue;
        if (current_row >= end_row) break;
        SceneInputs in = scene_inputs();
        in.sim_speed = 0;
        int32_t next = static_cast<int32_t>(in.param);
        if (type == 13 && next != 13) run.greetings_before_leaving_13 = greeting_pieces();
        bool starts = next != type && next != -1;
        // A marker node survives only a set-up that keeps the running scene.
        if (starts) node_set_name(scene_graph, node_create(scene_graph, scene_graph->root), "reset mark");
        scene_update(in);
        if (starts) run.setups.push_back({current_row, in.param, node_find(scene_graph, "reset mark") == 0});
        if (next == 12) run.donkey_tenths.insert(static_cast<int>(std::floor((in.param - 12) * 10)));
        type = next;
        run.most_pieces = std::max(run.most_pieces, item_count);
    }
    run.output = testing::internal::GetCapturedStdout();
    return run;
}

class ShowTimeline : public PhysicsScene {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(open_sync_tracks());
        install_scene_models();
        scene_init();
        environment_state = environment_state_s{};
        show = new ShowRun(play_show());
    }
    static void TearDownTestSuite() {
        delete show;
        destroy_sync_tracks();
    }
    void SetUp() override {}  // the whole suite shares one run of the show
    static ShowRun* show;

    // The set-ups whose "param" is within 0.001 of value.
    static std::vector<SceneStart> setups_of(double value) {
        std::vector<SceneStart> found;
        for (const SceneStart& s : show->setups)
            if (std::fabs(s.param - value) < 0.001) found.push_back(s);
        return found;
    }
};
ShowRun* ShowTimeline::show = nullptr;

TEST_F(ShowTimeline, EverySceneTypeAndVariantIsSetUp) {
    // Scenes that start from an empty world.
    for (double v : {2.0, 3.0, 3.1, 3.2, 6.0, 7.0, 7.1, 7.2, 7.3, 7.4, 7.5, 9.0, 11.0, 12.0, 13.0, 14.0, 15.0}) {
        std::vector<SceneStart> found = setups_of(v);
        ASSERT_FALSE(found.empty()) << "param " << v << " is never set up";
        EXPECT_TRUE(found.front().reset) << "param " << v << " at row " << found.front().row;
    }
    // Type 1 with cheese from its fraction.
    bool cheese_from_fraction = false;
    for (const SceneStart& s : show->setups)
        if (static_cast<int>(s.param) == 1 && s.param - 1 > 0.01) cheese_from_fraction = true;
    EXPECT_TRUE(cheese_from_fraction);
    // Scenes added onto the one running before them: 4 and 5 onto the plate and
    // bowls, 8 into the face, 10 onto the spheres, 15.1 into the stomp, a second
    // pair of greeting groups.
    const struct {
        double value;
        std::set<int> onto;
    } added[] = {{4, {3, 4, 5}}, {5, {3, 4, 5}}, {8, {7}}, {10, {9, 10}}, {15.1, {15}}, {14.5, {14}}};
    for (const auto& a : added) {
        std::vector<SceneStart> found = setups_of(a.value);
        ASSERT_FALSE(found.empty()) << "param " << a.value << " is never added";
        for (const SceneStart& s : found) {
            EXPECT_FALSE(s.reset) << "param " << a.value << " at row " << s.row << " reset the scene";
            // the scene it builds on: the last one set up before it that is not another addition
            int base = -1;
            for (const SceneStart& before : show->setups)
                if (before.row < s.row) base = static_cast<int>(before.param);
            EXPECT_TRUE(a.onto.count(base)) << "param " << a.value << " at row " << s.row << " lands on type " << base;
        }
    }
}

TEST_F(ShowTimeline, TheDonkeyOpensStepByStepAndTheGreetingsArriveOneByOne) {
    for (int tenth = 0; tenth <= 9; ++tenth) EXPECT_TRUE(show->donkey_tenths.count(tenth)) << "donkey at 12." << tenth;
    EXPECT_EQ(show->greetings_before_leaving_13, greeting_name_count);
}

TEST_F(ShowTimeline, NoFrameAsksForMoreThan3200Pieces) {
    EXPECT_LE(show->most_pieces, 3200);
    EXPECT_EQ(show->output.find("reached max spawn count"), std::string::npos) << show->output;
}

// Scenes start on bar lines or on the music's own moments; every section of
// the score from the first scene on opens with a camera cut.
TEST_F(ShowTimeline, CutsFollowTheScore) {
    compose::ParseResult score = compose::load_score(SCORE_SOURCE);
    ASSERT_TRUE(score.ok) << score.error;
    std::set<int> moments;
    for (const compose::Mark& m : score.score.moments) moments.insert(m.row);
    int last_type = -1;
    for (const SceneStart& s : show->setups) {
        int type = static_cast<int>(s.param);
        if (s.reset) {
            // the first frame at or after the key's row; a scene set up afresh
            // again (the chips' bursts) may come on the half bar
            int row = static_cast<int>(std::floor(s.row));
            int line = type == last_type ? 8 : 16;
            EXPECT_TRUE(row % line == 0 || moments.count(row)) << "param " << s.param << " starts at row " << s.row;
        }
        last_type = type;
    }
    const std::vector<TrackKey>& cuts = sync_tracks.tracks[TRACK_CAM_INDEX]->keys;
    for (const compose::Mark& section : score.score.sections) {
        if (section.row < first_scene_row) continue;
        bool cut = false;
        for (const TrackKey& k : cuts) cut |= k.row == section.row;
        EXPECT_TRUE(cut) << "no camera cut at the " << section.name << " (row " << section.row << ")";
    }
}

// The moments fixed in the scenes' code, met by the timeline.
TEST_F(ShowTimeline, TheFixedMomentsMeetTheirScenes) {
    for (float row = 530; row <= 560; row += 0.5f)
        EXPECT_EQ(static_cast<int>(track_value(TRACK_PARAM, row)), 6) << "the mill at row " << row;
    for (float row = 806; row <= 830; row += 0.5f)
        EXPECT_EQ(static_cast<int>(track_value(TRACK_PARAM, row)), 15) << "the stomp at row " << row;
    for (float row = 888; row <= 900; row += 0.5f)
        EXPECT_EQ(static_cast<int>(track_value(TRACK_LIGHT, row)), 5) << "the sunrise at row " << row;
}

}  // namespace

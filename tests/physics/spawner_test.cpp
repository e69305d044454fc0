#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "physics/sim.h"
#include "physics/spawner.h"
#include "scene/scene_graph.h"
#include "scene_models.h"

using Spawner = PhysicsScene;

TEST(Gaussian, FirstValuesFromTheSeedsComeInPairs) {
    // Worked out once outside the program from the seeds (xoroshiro128+ and
    // the polar method): three pairs, (u-scaled, v-scaled) each.
    const float expected[6] = {-0.454577684f, 1.08084452f, -0.105696343f, -0.0862720013f, 1.51043022f, -0.971276164f};
    seed_gaussian();
    for (int i = 0; i < 6; ++i) {
        float value = gaussian();
        EXPECT_FLOAT_EQ(value, expected[i]) << "draw " << i;
        if (i % 2 == 0) {
            // The second of the pair comes from the same s, scaled by v.
            ASSERT_EQ(gauss_rng.has_spare, 1);
            float spare = static_cast<float>(std::sqrt(-2 * std::log(gauss_rng.s) / gauss_rng.s) * gauss_rng.v);
            EXPECT_EQ(value, static_cast<float>(std::sqrt(-2 * std::log(gauss_rng.s) / gauss_rng.s) * gauss_rng.u));
            EXPECT_EQ(spare, expected[i + 1]) << "draw " << i + 1;
        } else {
            EXPECT_EQ(gauss_rng.has_spare, 0);
        }
    }
}

TEST_F(Spawner, AFullListMakesWhatFitsAndSaysSoOncePerRequest) {
    // In batches spread far apart: bodies are made at the origin, and thousands
    // overlapping there would make the world slow to empty afterwards.
    while (item_count < 3190) emit(spawn_ingredients(std::min(110, 3190 - item_count), "bean"), {0, 0, 0},
                                   {400, 400, 400}, {0, 0, 0}, {0, 0, 0});
    ASSERT_EQ(item_count, 3190);
    testing::internal::CaptureStdout();
    int32_t first = spawn_ingredients(32, "cheese");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "reached max spawn count attempting 32 cheese!\n");
    EXPECT_EQ(first, 3190);
    EXPECT_EQ(item_count, 3200);
    EXPECT_EQ(item_names()["cheese"], 10);

    testing::internal::CaptureStdout();
    EXPECT_EQ(spawn_ingredients(32, "cheese"), 3200);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(item_count, 3200);
}

TEST_F(Spawner, ChipsAreSpreadOverTheFourChipMeshes) {
    struct Case {
        int count;
        int chips[4];
    } cases[] = {
        {1, {1, 0, 0, 0}}, {0, {1, 0, 0, 0}}, {3, {1, 1, 1, 0}}, {10, {2, 2, 2, 4}}, {128, {32, 32, 32, 32}},
    };
    for (const Case& c : cases) {
        SetUp();
        EXPECT_EQ(spawn_chips(c.count), 0);
        auto names = item_names();
        const char* chip_names[4] = {"chip001", "chip002", "chip003", "chip004"};
        for (int k = 0; k < 4; ++k) EXPECT_EQ(names[chip_names[k]], c.chips[k]) << c.count << " chips, " << chip_names[k];
        // The pieces are listed in spawn order: all chip001 first.
        EXPECT_STREQ(scene_node(scene_graph, items[0])->name, "chip001");
    }
}

TEST_F(Spawner, TheFirstSpawnOfANameAfterAResetIsItsFreshTemplate) {
    for (int round = 0; round < 2; ++round) {
        spawn_ingredients(1, "onion");
        spawn_ingredients(2, "onion");
        uint32_t template_node = node_find(scene_graph, "onion");
        ASSERT_NE(template_node, 0u);
        EXPECT_EQ(items[0], template_node) << "round " << round;
        EXPECT_NE(items[1], template_node);
        EXPECT_NE(items[2], items[1]);
        const Node* node = scene_node(scene_graph, template_node);
        EXPECT_TRUE(node->flags & NODE_SHADOW_CASTER);
        for (int i = 0; i < 3; ++i) {
            const Node* piece = scene_node(scene_graph, items[i]);
            EXPECT_EQ(piece->draw, node->draw);
            EXPECT_TRUE(sim_world->is_valid(BodyID{piece->body}));
            EXPECT_FALSE(sim_world->is_static(BodyID{piece->body}));
        }
        // The scene director's reset: world, list and graph emptied together.
        sim_world->clear_bodies();
        clear_items();
        scene_reset(scene_graph);
    }
}

TEST_F(Spawner, UnknownNamesMakeNothing) {
    EXPECT_EQ(spawn_ingredients(5, "anchovy"), 0);
    EXPECT_EQ(item_count, 0);
    EXPECT_EQ(sim_world->body_count(), 0);
}

TEST_F(Spawner, TheSingleGreetingZoneThrowsStraightDown) {
    spawn_greeting(greeting_names[3]);
    spawn_greeting(greeting_names[4]);
    zone_greeting_single.orientation = quat_from_axis_angle({0, 1, 0}, 0.5f);
    apply_zone(1, zone_greeting_single);
    EXPECT_EQ(item_position(0).y, 0.0f) << "pieces before first stay where they are";
    vec3 v = item_velocity(1);
    EXPECT_EQ(v.x, 0.0f);
    EXPECT_EQ(v.y, -50.0f);
    EXPECT_EQ(v.z, 0.0f);
    quat r = sim_world->get_rotation(BodyID{scene_node(scene_graph, items[1])->body});
    EXPECT_NEAR(r.y, zone_greeting_single.orientation.y, 1e-5f);
    EXPECT_NEAR(r.w, zone_greeting_single.orientation.w, 1e-5f);
    EXPECT_TRUE(sim_world->is_active(BodyID{scene_node(scene_graph, items[1])->body}));
}

TEST_F(Spawner, RecyclingTakesOnlyPiecesBelowTheThreshold) {
    spawn_ingredients(2, "corn");
    const float heights[2] = {-99, -101};
    for (int i = 0; i < 2; ++i) {
        Node* node = scene_node(scene_graph, items[i]);
        sim_world->set_position(BodyID{node->body}, {1, heights[i], 1}, false);
        node->transform = sim_world->get_transform(BodyID{node->body});
    }
    recycle_fallen(-100, {0, 50, 0}, {0, 0, 0}, {0, -10, 0}, {0, 0, 0});
    EXPECT_EQ(item_position(0).y, -99.0f);
    EXPECT_EQ(item_position(1).y, 50.0f);
    EXPECT_EQ(item_velocity(1).y, -10.0f);
}

TEST_F(Spawner, ADiscWithAnInnerBoundLeavesItsMiddleEmpty) {
    spawn_ingredients(300, "bean");
    drop_in_disc(100, 15, 8, 50, 6);
    for (int i = 100; i < item_count; ++i) {
        vec3 p = item_position(i);
        float r2 = p.x * p.x + p.z * p.z;
        EXPECT_GE(r2, 8.0f) << i;
        EXPECT_LE(r2, 225.0f) << i;
    }
    EXPECT_EQ(item_position(0).y, 0.0f) << "pieces before first stay where they are";
}

TEST_F(Spawner, EveryPlacementPatternPutsPiecesWhereItsSceneExpectsThem) {
    struct Case {
        int type;
        vec3 low, high;     // bounds of every position (the first 128 for type 1)
        bool moving;        // a velocity is set
    } cases[] = {
        {1, {-32, -68, -4}, {32, -60, 4}, true},
        {2, {-50, 0, -16}, {50, 16, 16}, true},
        {3, {-15, -20, -15}, {15, 52, 15}, true},
        {13, {-15, -20, -15}, {15, 52, 15}, true},
        {6, {-30, 100, -30}, {30, 110, 30}, false},
        {11, {-30, 100, -30}, {30, 110, 30}, false},
        {7, {-80, -75, -80}, {80, 85, 240}, true},
        {9, {0, 0, 0}, {0, 0, 0}, false},
        {14, {0, 0, 0}, {0, 0, 0}, false},
        {0, {-48, -68, -4}, {48, -60, 4}, true},
        {5, {-48, -68, -4}, {48, -60, 4}, true},
        {16, {-48, -68, -4}, {48, -60, 4}, true},
    };
    for (const Case& c : cases) {
        SetUp();
        spawn_ingredients(200, "cheese");
        place_items(c.type);
        for (int i = 0; i < item_count; ++i) {
            vec3 p = item_position(i), v = item_velocity(i);
            SCOPED_TRACE("type " + std::to_string(c.type) + ", piece " + std::to_string(i));
            bool upper = c.type == 1 && i >= 128;
            float shift = upper ? 128.0f : 0.0f;
            EXPECT_GE(p.x, c.low.x);
            EXPECT_LE(p.x, c.high.x);
            EXPECT_GE(p.y, c.low.y + shift);
            EXPECT_LE(p.y, c.high.y + shift);
            EXPECT_GE(p.z, c.low.z);
            EXPECT_LE(p.z, c.high.z);
            if (!c.moving) {
                EXPECT_EQ(v.x, 0.0f);
                EXPECT_EQ(v.y, 0.0f);
                EXPECT_EQ(v.z, 0.0f);
            }
            switch (c.type) {
                case 2:
                    EXPECT_EQ(std::fabs(p.x), 50.0f);
                    EXPECT_LT(v.x * p.x, 0.0f) << "thrown toward the middle";
                    EXPECT_EQ(v.y, 0.0f);
                    break;
                case 7: {
                    // Thrown at the face: the velocity less its lift points back along −p.
                    vec3 toward = normalize(v - vec3{0, 4, 0});
                    vec3 back = normalize(-p);
                    if (length(v - vec3{0, 4, 0}) > 1) {
                        EXPECT_GT(std::fabs(dot(toward, back)), 0.999f);
                    }
                    break;
                }
                case 3:
                case 13: EXPECT_LE(p.x * p.x + p.z * p.z, 225.0f); break;
                case 1:
                case 0:
                case 5:
                case 16:
                    EXPECT_EQ(v.x, 0.0f);
                    EXPECT_EQ(v.z, 0.0f);
                    break;
                default: break;
            }
        }
    }
}

TEST_F(Spawner, KicksReplaceEveryVelocityWithAVerticalOne) {
    spawn_ingredients(20, "corn");
    place_items(2);
    kick_items(3);
    for (int i = 0; i < item_count; ++i) {
        vec3 v = item_velocity(i);
        EXPECT_EQ(v.x, 0.0f);
        EXPECT_EQ(v.z, 0.0f);
    }
}

TEST(Pacing, RatesAbove18FireEveryFrameAt60AndRate16EverySecond) {
    struct Case {
        float rate;
        int fired_in_12_frames;
    } cases[] = {{32, 12}, {19, 12}, {16, 6}, {0, 0}};
    for (const Case& c : cases) {
        float accumulator = 0;
        int fired = 0;
        for (int frame = 0; frame < 12; ++frame) fired += pace(accumulator, c.rate, 1.0f / 60.0f);
        EXPECT_EQ(fired, c.fired_in_12_frames) << "rate " << c.rate;
    }
}

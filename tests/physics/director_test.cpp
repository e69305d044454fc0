#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "physics/director.h"
#include "physics/environments.h"
#include "physics/sim.h"
#include "physics/spawner.h"
#include "scene/scene_graph.h"
#include "scene_models.h"

using Director = PhysicsScene;

namespace {

const Node* find(const char* name) { return scene_node(scene_graph, node_find(scene_graph, name)); }

// The children of a node, by name, in order.
std::string children_of(const char* name) {
    std::string out;
    const Node* node = find(name);
    if (!node) return "(missing)";
    for (const Node* c = scene_node(scene_graph, node->first_child); c; c = scene_node(scene_graph, c->next_sibling))
        out += std::string(out.empty() ? "" : " ") + c->name;
    return out;
}

const Camera& camera_of(const char* node) { return *scene_camera(scene_graph, find(node)->camera); }

// A node's rotation about one axis, in degrees, from its matrix.
float z_turn_degrees(const char* name) {
    const mat4& m = find(name)->transform;
    return std::atan2(m.at(0, 1), m.at(0, 0)) * 180 / static_cast<float>(M_PI);
}
float x_turn_degrees(const char* name) {
    const mat4& m = find(name)->transform;
    return std::atan2(m.at(1, 2), m.at(1, 1)) * 180 / static_cast<float>(M_PI);
}

void update_at(double param, float music_time = 0) { scene_update(still_inputs(param, music_time)); }

}  // namespace

TEST_F(Director, KeepingOrResettingFollowsTheTypeAndItsFraction) {
    // The first update resets whatever the type: no camera exists yet.
    update_at(4);
    EXPECT_NE(find("camera"), nullptr);
    EXPECT_EQ(item_count, 256);
    EXPECT_EQ(item_names()["cheese"], 256);
    // 4 → −1 → 4 adds a second batch.
    update_at(-1);
    EXPECT_EQ(item_count, 256);
    update_at(4);
    EXPECT_EQ(item_count, 512);
    // 3 → −1 → 3 resets and rebuilds.
    update_at(3);
    EXPECT_EQ(item_count, 128);
    update_at(-1);
    update_at(3);
    EXPECT_EQ(item_count, 128);
    EXPECT_EQ(sim_world->body_count(), 128 + 1) << "the pieces and the plate";
    // 15.0 builds the stomp with no pieces (nothing emitted: no time passes);
    // a later 15.1 keeps it and adds 32 chips in a ring.
    SceneInputs in = still_inputs(15.0);
    in.frame_delta = 0;
    scene_update(in);
    EXPECT_EQ(item_count, 0);
    EXPECT_EQ(children_of("env_stomp"), "Face2");
    EXPECT_EQ(children_of("env_plate"), "Bowl2");
    in.param = -1;
    scene_update(in);
    in.param = 15.1;
    scene_update(in);
    EXPECT_EQ(children_of("env_stomp"), "Face2");
    EXPECT_EQ(item_count, 32);
    for (int i = 0; i < item_count; ++i) {
        vec3 p = item_position(i);
        EXPECT_GE(p.x * p.x + p.z * p.z, 8.0f);
    }
}

TEST_F(Director, AJumpSetsTheSceneUpAfresh) {
    update_at(4);
    update_at(4);
    EXPECT_EQ(item_count, 256);
    scene_request_setup_afresh();
    update_at(4);
    EXPECT_EQ(item_count, 256) << "a fresh setup, not a second batch";
}

TEST_F(Director, EnvironmentsChooseTheirMeshesByTypeAndVariant) {
    struct Case {
        double param;
        const char* root;
        const char* children;
    } cases[] = {
        {3.1, "env_plate", "Bowl1"}, {3.2, "env_plate", "Bowl2"}, {3.0, "env_plate", "Plate"},
        {13.0, "env_plate", "Plate"}, {9, "env_plate", ""},        {6, "env_drop", "wheel helix door1 door2 door_funnel"},
        {7, "env_face", "TeethBottom Face TeethTop"},             {11, "env_pyramid", "pyra"},
        {12, "env_donkey", "DonkeyFront DonkeyBack"},
    };
    for (const Case& c : cases) {
        SetUp();
        scene_setup(static_cast<int32_t>(c.param), still_inputs(c.param));
        EXPECT_EQ(children_of(c.root), c.children) << "param " << c.param;
    }
}

TEST_F(Director, TheBowlOfType9HasNoFloorOnlySpheres) {
    update_at(9);
    EXPECT_EQ(children_of("env_plate"), "");
    EXPECT_EQ(bowl_sphere_count, 256);
    EXPECT_EQ(sim_world->body_count(), 256);
    for (int i = 0; i < bowl_sphere_count; ++i) {
        vec3 p = sim_world->get_position(bowl_spheres[i]);
        EXPECT_LE(p.x * p.x + p.z * p.z, 484.0f);
    }
}

TEST_F(Director, CameraDefaults) {
    update_at(2);
    // "cam:fov" 0 reads as 75 degrees.
    mat4 expected = perspective(75, 16.0f / 9.0f, 0.1f, 1024);
    const Camera& camera = camera_of("camera");
    for (int k = 0; k < 16; ++k) EXPECT_NEAR(camera.projection.m[k], expected.m[k], 1e-4f) << k;
    // "cam:index" 0 with the eye on the target: the eye moves to (0, 10, 0).
    EXPECT_EQ(camera.eye.x, 0.0f);
    EXPECT_EQ(camera.eye.y, 10.0f);
    EXPECT_EQ(camera.eye.z, 0.0f);
}

TEST_F(Director, OrbitModeLooksAtTheTargetFromDistance) {
    SceneInputs in = still_inputs(2);
    in.cam_index = 1;
    in.cam_x = 90;  // yaw
    in.cam_y = 0;   // pitch
    in.cam_dist = 10;
    in.cam_at_y = 3;
    scene_update(in);
    const Camera& camera = camera_of("camera");
    EXPECT_NEAR(camera.eye.x, 0, 1e-4f);
    EXPECT_NEAR(camera.eye.y, 3, 1e-4f);
    EXPECT_NEAR(camera.eye.z, 10, 1e-4f);
}

TEST_F(Director, NoiseModesWanderOnTheSphereAroundTheTarget) {
    for (int mode : {2, 3, 4}) {
        SceneInputs in = still_inputs(2, 12.5f);
        in.cam_index = mode;
        in.cam_x = 30;
        in.cam_y = 20;
        in.cam_dist = 50;
        in.cam_at_x = 1;
        scene_update(in);
        vec3 noisy = camera_of("camera").eye;
        EXPECT_NEAR(length(noisy - vec3{1, 0, 0}), 50, 1e-3f) << "mode " << mode;
        // The noise moves the eye away from the plain orbit's.
        in.cam_index = 1;
        scene_update(in);
        EXPECT_GT(length(camera_of("camera").eye - noisy), 0.01f) << "mode " << mode;
    }
}

TEST(SubSteps, FallAsThePieceCountPasses1024And2048) {
    struct Case {
        int pieces, sub_steps;
    } cases[] = {{0, 4}, {1024, 4}, {1025, 2}, {2048, 2}, {2049, 1}, {3200, 1}};
    for (const Case& c : cases) EXPECT_EQ(sub_steps_for(c.pieces), c.sub_steps) << c.pieces;
}

TEST_F(Director, ZeroSpeedMovesNothing) {
    update_at(4);
    std::vector<vec3> before;
    for (int i = 0; i < item_count; ++i) before.push_back(item_position(i));
    for (int frame = 0; frame < 3; ++frame) update_at(4);
    for (int i = 0; i < item_count; ++i) {
        EXPECT_EQ(item_position(i).x, before[i].x);
        EXPECT_EQ(item_position(i).y, before[i].y);
    }
}

TEST_F(Director, SpeedOneLetsPiecesFallAndNodesFollowTheirBodies) {
    SceneInputs in = still_inputs(4);
    in.sim_speed = 1;
    scene_update(in);
    float start = item_position(0).y;
    for (int frame = 0; frame < 5; ++frame) scene_update(in);
    EXPECT_LT(item_position(0).y, start);
    EXPECT_EQ(scene_node(scene_graph, items[0])->transform.at(3, 1), item_position(0).y);
}

TEST_F(Director, ShuffleKicksOnlyOnAChangeOfItsIntegerInTheKickingScenes) {
    SceneInputs in = still_inputs(4);
    scene_update(in);
    // 0 → 3 in type 4: every piece thrown straight up or down.
    in.sim_shuffle = 3;
    scene_update(in);
    EXPECT_EQ(director.last_shuffle, 3);
    for (int i = 0; i < item_count; ++i) {
        EXPECT_EQ(item_velocity(i).x, 0.0f);
        EXPECT_EQ(item_velocity(i).z, 0.0f);
    }
    // 3.0 → 3.7: the same integer, nothing happens.
    std::vector<float> before;
    for (int i = 0; i < item_count; ++i) before.push_back(item_velocity(i).y);
    in.sim_shuffle = 3.7;
    scene_update(in);
    for (int i = 0; i < item_count; ++i) EXPECT_EQ(item_velocity(i).y, before[i]);

    // In type 6 a change only updates last_shuffle.
    SetUp();
    in = still_inputs(6);
    scene_update(in);
    std::vector<vec3> v6;
    for (int i = 0; i < item_count; ++i) v6.push_back(item_velocity(i));
    in.sim_shuffle = 2;
    scene_update(in);
    EXPECT_EQ(director.last_shuffle, 2);
    for (int i = 0; i < static_cast<int>(v6.size()); ++i) EXPECT_EQ(item_velocity(i).y, v6[i].y);
}

TEST_F(Director, LightMode5RisesAfterPulse444) {
    SceneInputs in = still_inputs(2, 443 * 0.3f);
    in.light = 5;
    scene_update(in);
    for (float intensity : director.light_intensity) EXPECT_EQ(intensity, 0.0f);
    in.music_time = static_cast<float>(445.2 * 0.3);
    scene_update(in);
    // h = (1.2 / 2.4)³ = 0.125.
    EXPECT_NEAR(director.light_intensity[0], 1.25f, 1e-3f);
    EXPECT_NEAR(director.light_intensity[3], 0.1125f, 1e-4f);
    // The lights of the next update carry those intensities.
    scene_update(in);
    EXPECT_NEAR(scene_light(scene_graph, find("light0")->light)->intensity, 1.25f, 1e-3f);
}

TEST_F(Director, LightPresetsAndTheShadowBox) {
    SceneInputs in = still_inputs(2);
    in.light = 0;
    scene_update(in);
    EXPECT_NEAR(director.light_pitch[0], 75 * M_PI / 180, 1e-6);
    EXPECT_EQ(director.light_intensity[2], 0.1f);
    // The shadow camera looks at the target from 128 along light 0's direction.
    const Camera& shadow = camera_of("shadow camera");
    vec3 d = light_direction(director.light_pitch[0], director.light_yaw[0]);
    EXPECT_NEAR(shadow.eye.x, 128 * d.x, 1e-3f);
    EXPECT_NEAR(shadow.eye.y, 128 * d.y, 1e-3f);
    EXPECT_FLOAT_EQ(shadow.projection.at(0, 0), 1.0f / 64);
    EXPECT_FLOAT_EQ(shadow.projection.at(2, 2), -2.0f / 384);
    EXPECT_FLOAT_EQ(shadow.projection.at(3, 2), -1.0f / 3);
    // An unknown mode keeps what was there.
    in.light = 9;
    scene_update(in);
    EXPECT_EQ(director.light_intensity[2], 0.1f);
}

// ---- environments -------------------------------------------------------------

TEST_F(Director, TheDonkeySpawnsOnlyWhenItsFractionMovesATenth) {
    update_at(12.0);
    EXPECT_EQ(item_count, 0);
    update_at(12.3);
    EXPECT_EQ(item_count, 8 * 2) << "int(0.3^1.5 × 16) = 2 of each food";
    update_at(12.35);
    EXPECT_EQ(item_count, 16);
    update_at(12.5);
    EXPECT_EQ(item_count, 16 + 8 * 5);
    EXPECT_EQ(item_names()["chip001"], 0);
    EXPECT_NEAR(x_turn_degrees("DonkeyFront"), -22.5f, 1e-3f);
    EXPECT_NEAR(x_turn_degrees("DonkeyBack"), 22.5f, 1e-3f);
}

TEST_F(Director, TheGreetingSceneSpawnsOnePiecePerKey) {
    update_at(13.0);
    int base = item_count;  // the plate's chips
    update_at(13.4);
    EXPECT_EQ(item_count, base + 1);
    EXPECT_STREQ(scene_node(scene_graph, items[base])->name, greeting_names[3]);
    EXPECT_EQ(item_velocity(base).y, -50.0f);
    update_at(13.4);
    update_at(13.4);
    EXPECT_EQ(item_count, base + 1);
    update_at(13.95);
    EXPECT_EQ(item_count, base + 1);
}

TEST_F(Director, MillDoorsSwingOpenFromPulse268) {
    struct Case {
        double pulse;
        float degrees;
    } cases[] = {{267, 0}, {269, 22.5f}, {270, 90}, {280, 90}};
    for (const Case& c : cases) {
        SetUp();
        update_at(6, static_cast<float>(c.pulse * 0.3));
        EXPECT_NEAR(z_turn_degrees("door1"), c.degrees, 0.01f) << "pulse " << c.pulse;
        EXPECT_NEAR(z_turn_degrees("door2"), -c.degrees, 0.01f) << "pulse " << c.pulse;
    }
}

TEST_F(Director, TheWheelTurnsInPlace) {
    update_at(6, 2.0f);
    EXPECT_NEAR(z_turn_degrees("wheel"), -1.0f * 180 / M_PI, 1e-3f);
    EXPECT_EQ(find("wheel")->transform.at(3, 1), 0.0f);
}

TEST_F(Director, TeethMeetAtPulseQuarter) {
    struct Case {
        double pulse;
        float top;
    } cases[] = {{0.25, 0}, {0.75, 4}, {0, 4 * 0.75f}};
    for (const Case& c : cases) {
        SetUp();
        update_at(7, static_cast<float>(c.pulse * 0.3));
        EXPECT_NEAR(find("TeethTop")->transform.at(3, 1), c.top, 1e-4f) << "pulse " << c.pulse;
        EXPECT_NEAR(find("TeethBottom")->transform.at(3, 1), -c.top, 1e-4f) << "pulse " << c.pulse;
    }
}

TEST_F(Director, TheStompEmitsEveryFrameAndCheeseBetweenPulse406And412) {
    struct Case {
        double pulse;
        int per_frame;
        bool cheese;
    } cases[] = {{400, 1, false}, {407, 4, true}, {411.9, 4, true}, {412.5, 1, false}};
    for (const Case& c : cases) {
        SetUp();
        update_at(15.0, static_cast<float>(c.pulse * 0.3));
        int before = item_count;
        update_at(15.0, static_cast<float>(c.pulse * 0.3));
        EXPECT_EQ(item_count - before, c.per_frame) << "pulse " << c.pulse;
        EXPECT_EQ(item_names()["cheese"] > 0, c.cheese) << "pulse " << c.pulse;
        EXPECT_EQ(find("Face2")->transform.at(3, 1), 17.0f);
    }
}

TEST_F(Director, GreetingGroupsMeetInTheAir) {
    update_at(14);
    EXPECT_EQ(item_count, 24);
    EXPECT_EQ(node_find(scene_graph, "env_plate"), 0u);
    EXPECT_GT(item_position(0).y, 0.0f);
    EXPECT_LT(item_position(12).y, 0.0f);
}

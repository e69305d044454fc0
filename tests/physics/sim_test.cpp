#include "physics/sim.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

std::vector<float> box_points(vec3 centre, vec3 half) {
    std::vector<float> p;
    for (int i = 0; i < 8; ++i) {
        p.push_back(centre.x + (i & 1 ? half.x : -half.x));
        p.push_back(centre.y + (i & 2 ? half.y : -half.y));
        p.push_back(centre.z + (i & 4 ? half.z : -half.z));
    }
    return p;
}

int32_t box_shape(vec3 half, vec3 centre = {0, 0, 0}) {
    std::vector<float> p = box_points(centre, half);
    testing::internal::CaptureStdout();
    int32_t id = build_convex_hull_shape(8, p.data());
    testing::internal::GetCapturedStdout();
    return id;
}

// A square of two triangles in the y = 0 plane, tilted about z by `tilt` radians.
int32_t floor_shape(float half, float tilt = 0) {
    float c = std::cos(tilt), s = std::sin(tilt);
    std::vector<float> v;
    for (int i = 0; i < 4; ++i) {
        float x = i & 1 ? half : -half, z = i & 2 ? half : -half;
        v.insert(v.end(), {x * c, x * s, z});
    }
    const uint16_t idx[] = {0, 2, 1, 1, 2, 3};  // upward-facing
    return build_mesh_shape(4, v.data(), 6, idx);
}

vec3 translation(const mat4& m) { return {m.at(3, 0), m.at(3, 1), m.at(3, 2)}; }

bool is_identity(const mat4& m) {
    mat4 id = mat4_identity();
    for (int i = 0; i < 16; ++i)
        if (m.m[i] != id.m[i]) return false;
    return true;
}

struct World : testing::Test {
    sim_s sim;
    void SetUp() override { sim.init(); }
    // Steps at 60 Hz for `seconds`.
    void run(float seconds, int sub_steps = 1) {
        for (int i = 0; i < int(seconds * 60); ++i) sim.step(1.0f / 60, sub_steps);
    }
};

}  // namespace

TEST(Layers, RulesAsTables) {
    for (int a = 0; a < object_layer_count; ++a)
        for (int b = 0; b < object_layer_count; ++b) {
            bool expected = (a == 3 && b == 4) || (a == 4 && b == 3) || (a == 4 && b == 4);
            EXPECT_EQ(object_layers_collide(a, b), expected) << a << " " << b;
        }
    const bool meets[object_layer_count][broad_phase_layer_count] = {
        {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 1, 0}, {1, 1, 0}};
    for (int a = 0; a < object_layer_count; ++a)
        for (int b = 0; b < broad_phase_layer_count; ++b)
            EXPECT_EQ(object_layer_meets_broad_phase(a, b), meets[a][b]) << a << " " << b;
}

TEST(Materials, CombineLikeTheOriginal) {
    struct Case {
        float a, b, friction, restitution;
    } cases[] = {{0.2f, 0.2f, 0.2f, 0.2f}, {1, 0, 0, 1}, {0.8f, 0.2f, 0.4f, 0.8f}, {0.25f, 1, 0.5f, 1}};
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(combine_friction(c.a, c.b), c.friction);
        EXPECT_FLOAT_EQ(combine_restitution(c.a, c.b), c.restitution);
    }
}

TEST(HullShape, EveryBuildPrintsOneLineAndSuccessesTakeConsecutiveIds) {
    std::vector<float> cube = box_points({0, 0, 0}, {1, 1, 1});
    const float tetra[] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    const float flat[] = {0, 0, 0, 1, 0, 0, 0, 0, 1, 1, 0, 1, 0.5f, 0, 0.5f};
    const float same[] = {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3};
    const float three[] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const float nan_point[] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, NAN};
    struct Case {
        const char* what;
        int32_t count;
        const float* points;
        bool builds;
        const char* line;
    } cases[] = {
        {"cube", 8, cube.data(), true, "  6 convex planes\n"},
        {"tetrahedron", 4, tetra, true, "  4 convex planes\n"},
        {"coplanar", 5, flat, false, "  0 convex planes\n"},
        {"coincident", 4, same, false, "  0 convex planes\n"},
        {"three points", 3, three, false, "  0 convex planes\n"},
        {"no points", 0, nullptr, false, "  0 convex planes\n"},
        {"not finite", 4, nan_point, false, "  0 convex planes\n"},
        {"cube again", 8, cube.data(), true, "  6 convex planes\n"},
    };
    int32_t next = static_cast<int32_t>(shape_list.size());
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        int32_t id = build_convex_hull_shape(c.count, c.points);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line) << c.what;
        EXPECT_EQ(id, c.builds ? next : -1) << c.what;
        if (c.builds) ++next;
    }
    EXPECT_EQ(shape_list.size(), static_cast<size_t>(next));
}

TEST(HullShape, ManyPointsAreReducedAndMassFollowsTheVolume) {
    // 400 points on a unit sphere: the hull keeps at most hull_points of
    // them (max_hull_points when asked) and a volume below the sphere's.
    std::vector<float> p;
    for (int i = 0; i < 400; ++i) {
        float y = 1 - 2 * (i + 0.5f) / 400, r = std::sqrt(1 - y * y), a = i * 2.39996323f;
        p.insert(p.end(), {r * std::cos(a), y, r * std::sin(a)});
    }
    testing::internal::CaptureStdout();
    int32_t id = build_convex_hull_shape(400, p.data());
    testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    int32_t fine = build_convex_hull_shape(400, p.data(), 1000);
    testing::internal::GetCapturedStdout();
    ASSERT_GE(id, 0);
    ASSERT_GE(fine, 0);
    const float sphere = 4.18879f * hull_density;
    EXPECT_EQ(shape_list[id]->points, hull_points);
    EXPECT_EQ(shape_list[fine]->points, max_hull_points);
    EXPECT_GT(shape_list[id]->mass, 0.6f * sphere);
    EXPECT_GT(shape_list[fine]->mass, 0.8f * sphere);
    EXPECT_LT(shape_list[fine]->mass, sphere);

    const shape_s& box = *shape_list[box_shape({1, 2, 3})];  // 2 × 4 × 6
    EXPECT_NEAR(box.mass, 48 * hull_density, 1e-2f);
    EXPECT_EQ(box.points, 8);
}

TEST_F(World, MassAndInertiaOfAHullBodyAndOfTheMeshFallback) {
    BodyID hull = sim.create_body(box_shape({1, 2, 3}), true);
    EXPECT_NEAR(sim.get_mass(hull), 48000, 1);
    vec3 i = sim.get_inertia(hull);
    // Principal moments in any order: 208, 160, 80 per unit density.
    float moments[] = {i.x, i.y, i.z};
    std::sort(moments, moments + 3);
    EXPECT_NEAR(moments[0], 80000, 10);
    EXPECT_NEAR(moments[1], 160000, 10);
    EXPECT_NEAR(moments[2], 208000, 10);

    // A mesh spanning 2 × 4 × 6: no volume, so a box of density 1 fills its bounds.
    const float v[] = {0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 6};
    const uint16_t idx[] = {0, 1, 2, 0, 2, 3, 0, 3, 1, 1, 3, 2};
    BodyID mesh = sim.create_body(build_mesh_shape(4, v, 12, idx), true);
    EXPECT_FLOAT_EQ(sim.get_mass(mesh), 48);
    vec3 m = sim.get_inertia(mesh);
    EXPECT_FLOAT_EQ(m.x, 208);
    EXPECT_FLOAT_EQ(m.y, 160);
    EXPECT_FLOAT_EQ(m.z, 80);
}

TEST_F(World, OriginNotCentreOfMassIsWhatMovesAndIsReported) {
    // A box whose centre sits at (5, 0, 0) of its own coordinates.
    BodyID b = sim.create_body(box_shape({1, 0.5f, 0.25f}, {5, 0, 0}), true);
    EXPECT_TRUE(is_identity(sim.get_transform(b)));
    sim.set_position(b, {1, 2, 3}, false);
    vec3 t = translation(sim.get_transform(b));
    EXPECT_NEAR(t.x, 1, 1e-5f);
    EXPECT_NEAR(t.y, 2, 1e-5f);
    EXPECT_NEAR(t.z, 3, 1e-5f);
    // A half turn about y keeps the origin and swings the box to x = 1 − 5.
    sim.set_rotation(b, quat_from_axis_angle({0, 1, 0}, 3.14159265f), Activation::DontActivate);
    mat4 m = sim.get_transform(b);
    EXPECT_NEAR(translation(m).x, 1, 1e-4f);
    EXPECT_NEAR(m.at(0, 0), -1, 1e-5f);
    EXPECT_FALSE(sim.is_active(b));
}

TEST_F(World, ActivationFollowsTheCallsAndNeverWakesAStatic) {
    BodyID piece = sim.create_body(box_shape({0.5f, 0.5f, 0.5f}), true);
    BodyID wall = sim.create_body(floor_shape(10), false);
    EXPECT_FALSE(sim.is_active(piece));
    EXPECT_FALSE(sim.is_active(wall));
    sim.set_position(piece, {0, 5, 0}, false);
    EXPECT_FALSE(sim.is_active(piece));
    sim.set_rotation(piece, {0, 0, 0, 1}, Activation::Activate);
    EXPECT_TRUE(sim.is_active(piece));

    sim.set_position(wall, {0, -1, 0}, true);
    sim.set_rotation(wall, {0, 0, 0, 1}, Activation::Activate);
    EXPECT_FALSE(sim.is_active(wall));
    EXPECT_FLOAT_EQ(sim.get_position(wall).y, -1);

    BodyID sleeper = sim.create_body(box_shape({0.5f, 0.5f, 0.5f}), true);
    sim.set_linear_velocity(sleeper, {0, 0, 0});
    EXPECT_FALSE(sim.is_active(sleeper));
    sim.set_linear_velocity(sleeper, {1000, 0, 0});
    EXPECT_TRUE(sim.is_active(sleeper));
    EXPECT_FLOAT_EQ(sim.get_linear_velocity(sleeper).x, max_linear_velocity);
}

TEST_F(World, NothingChangesForDeltaZeroOrAnEmptyWorld) {
    sim.step(1.0f / 60, 4);  // empty: nothing to do, nothing breaks
    EXPECT_EQ(sim.body_count(), 0);
    BodyID b = sim.create_body(box_shape({0.5f, 0.5f, 0.5f}), true);
    sim.set_position(b, {0, 10, 0}, true);
    sim.set_linear_velocity(b, {1, 2, 3});
    for (float delta : {0.0f, -1.0f}) {
        sim.step(delta, 4);
        EXPECT_EQ(translation(sim.get_transform(b)).y, 10);
        EXPECT_EQ(sim.get_linear_velocity(b).y, 2);
    }
    sim.step(1.0f / 60, 1);
    EXPECT_LT(sim.get_linear_velocity(b).y, 2);
}

TEST_F(World, StaticPairsNeverTouchDynamicPairsDo) {
    struct Case {
        bool dynamic_a, dynamic_b, touch;
    } cases[] = {{false, false, false}, {true, true, true}, {true, false, true}};
    int32_t cube = box_shape({1, 1, 1});
    for (const Case& c : cases) {
        sim.clear_bodies();
        BodyID a = sim.create_body(cube, c.dynamic_a);
        BodyID b = sim.create_body(cube, c.dynamic_b);
        sim.set_position(a, {0, 0, 0}, true);
        sim.set_position(b, {0.5f, 0, 0}, true);
        sim.set_gravity({0, 0, 0});
        sim.step(1.0f / 60, 1);
        EXPECT_EQ(sim.in_contact(a, b), c.touch) << c.dynamic_a << c.dynamic_b;
    }
}

TEST_F(World, ADestroyedBodysIdStaysInvalidAfterItsSlotIsReused) {
    int32_t cube = box_shape({1, 1, 1});
    BodyID old_id = sim.create_body(cube, true);
    sim.set_position(old_id, {1, 2, 3}, false);
    sim.clear_bodies();
    EXPECT_FALSE(sim.is_valid(old_id));
    EXPECT_TRUE(is_identity(sim.get_transform(old_id)));
    BodyID new_id = sim.create_body(cube, true);
    sim.set_position(new_id, {4, 5, 6}, false);
    EXPECT_EQ(new_id.index(), old_id.index());
    EXPECT_NE(new_id, old_id);
    EXPECT_TRUE(is_identity(sim.get_transform(old_id)));
    sim.set_position(old_id, {7, 8, 9}, true);  // ignored
    EXPECT_FLOAT_EQ(translation(sim.get_transform(new_id)).x, 4);
    EXPECT_TRUE(is_identity(sim.get_transform(BodyID{})));
    EXPECT_TRUE(sim.create_body(-1, true).is_invalid());
}

TEST(Step, SubStepsAreExactlyThatManyFixedSteps) {
    int32_t cube = box_shape({0.5f, 0.5f, 0.5f});
    int32_t ground = floor_shape(20);
    auto make = [&](sim_s& sim) {
        sim.init();
        sim.create_body(ground, false);
        BodyID b = sim.create_body(cube, true);
        sim.set_position(b, {0, 1.2f, 0}, false);
        sim.set_rotation(b, quat_from_axis_angle(normalize({1, 0, 1}), 0.7f), Activation::Activate);
        sim.set_linear_velocity(b, {3, -4, 1});
        return b;
    };
    sim_s batched, single, coarse;
    BodyID a = make(batched), b = make(single), c = make(coarse);
    for (int frame = 0; frame < 30; ++frame) {
        batched.step(1.0f / 60, 4);
        for (int i = 0; i < 4; ++i) single.step(1.0f / 60 / 4, 1);
        coarse.step(1.0f / 60, 1);
    }
    mat4 ma = batched.get_transform(a), mb = single.get_transform(b), mc = coarse.get_transform(c);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(ma.m[i], mb.m[i]) << i;
    EXPECT_NE(translation(ma).x, translation(mc).x);
}

TEST_F(World, RestitutionBouncesOffAStaticFloor) {
    struct Case {
        float restitution;
        bool bounces;
    } cases[] = {{0.8f, true}, {0.0f, false}};
    int32_t ground = floor_shape(20);
    int32_t cube = box_shape({0.5f, 0.5f, 0.5f});
    for (const Case& c : cases) {
        sim.clear_bodies();
        sim.set_gravity({0, -9.81f, 0});
        sim.create_body(ground, false);  // restitution 0
        BodyID piece = sim.create_body(cube, true);
        sim.set_material(piece, 0.2f, c.restitution);
        sim.set_position(piece, {0, 3, 0}, true);
        float highest_after_impact = -1;
        bool hit = false;
        for (int i = 0; i < 120; ++i) {
            sim.step(1.0f / 60, 4);
            float vy = sim.get_linear_velocity(piece).y;
            if (vy > 0.5f) hit = true;
            if (hit) highest_after_impact = std::max(highest_after_impact, translation(sim.get_transform(piece)).y);
        }
        EXPECT_EQ(hit, c.bounces) << c.restitution;
        if (c.bounces) {
            EXPECT_GT(highest_after_impact, 1.5f);
        }
    }
}

TEST_F(World, FrictionHoldsOrSlidesOnASlope) {
    // The ground has friction 1; the pair's friction is √(1 × piece's).
    struct Case {
        float friction;
        bool slides;
    } cases[] = {{0.0f, true}, {0.25f, false}, {1.0f, false}};
    const float tilt = 0.4f;  // about 23°: tan is 0.42
    int32_t slope = floor_shape(30, tilt);
    int32_t cube = box_shape({0.5f, 0.5f, 0.5f});
    for (const Case& c : cases) {
        sim.clear_bodies();
        sim.set_gravity({0, -9.81f, 0});
        BodyID ground = sim.create_body(slope, false);
        sim.set_material(ground, 1, 0);
        BodyID piece = sim.create_body(cube, true);
        sim.set_material(piece, c.friction, 0);
        sim.set_rotation(piece, quat_from_axis_angle({0, 0, 1}, tilt), Activation::DontActivate);
        sim.set_position(piece, {0, 0.52f, 0}, true);
        run(0.25f, 4);
        float start = translation(sim.get_transform(piece)).x;
        run(1.0f, 4);
        float moved = std::fabs(translation(sim.get_transform(piece)).x - start);
        if (c.slides)
            EXPECT_GT(moved, 1.0f) << c.friction;
        else
            EXPECT_LT(moved, 0.05f) << c.friction;
    }
}

TEST_F(World, APieceAtRestFallsAsleep) {
    sim.create_body(floor_shape(20), false);
    BodyID piece = sim.create_body(box_shape({0.5f, 0.5f, 0.5f}), true);
    sim.set_position(piece, {0, 0.6f, 0}, true);
    run(3.0f, 4);
    EXPECT_FALSE(sim.is_active(piece));
    EXPECT_NEAR(translation(sim.get_transform(piece)).y, 0.5f, 0.05f);
    EXPECT_EQ(sim.active_body_count(), 0);
}

TEST(MeshShape, SanitisingAndBadInput) {
    const float v[] = {0, 0, 0, 1, 0, 0, 0, 0, 1, 2, 0, 0};
    struct Case {
        const char* what;
        std::vector<uint16_t> indices;
        int32_t triangles;  // after sanitising; 0: the build fails
    } cases[] = {
        {"one triangle", {0, 1, 2}, 1},
        {"repeated index", {0, 0, 2, 0, 1, 2}, 1},
        {"no area (collinear)", {0, 1, 3, 0, 1, 2}, 1},
        {"duplicate, rotated", {0, 1, 2, 1, 2, 0, 2, 0, 1}, 1},
        {"reversed is kept", {0, 1, 2, 0, 2, 1}, 2},
        {"only degenerate", {0, 0, 0, 0, 1, 3}, 0},
        {"index past the vertices", {0, 1, 4}, 0},
        {"trailing indices ignored", {0, 1, 2, 3}, 1},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        int32_t id = build_mesh_shape(4, v, static_cast<int32_t>(c.indices.size()), c.indices.data());
        testing::internal::GetCapturedStderr();
        if (c.triangles == 0) {
            EXPECT_EQ(id, -1) << c.what;
        } else {
            ASSERT_GE(id, 0) << c.what;
            EXPECT_EQ(shape_list[id]->triangles, c.triangles) << c.what;
        }
    }
}

// Pieces thrown hard at a thin one-sided sheet, one sub-step at 60 Hz and
// gravity 100 as in the pyramid scene: none may end up under it.
TEST(FallThrough, FastPiecesStayOnAThinSheet) {
    std::vector<float> chip;
    for (int i = 0; i < 24; ++i) {
        float a = 6.2831853f * i / 24;
        chip.insert(chip.end(), {std::cos(a), i % 2 ? 0.15f : -0.15f, std::sin(a)});
    }
    testing::internal::CaptureStdout();
    int32_t chip_shape = build_convex_hull_shape(24, chip.data());
    testing::internal::GetCapturedStdout();
    struct Case {
        const char* what;
        int32_t shape;
        vec3 velocity;
    } cases[] = {
        {"chip straight down", chip_shape, {0, -180, 0}},
        {"chip at the top speed", chip_shape, {0, -max_linear_velocity, 0}},
        {"chip glancing", chip_shape, {120, -150, 40}},
        {"cube straight down", box_shape({0.5f, 0.5f, 0.5f}), {0, -300, 0}},
    };
    int32_t sheet = floor_shape(60);
    for (const Case& c : cases) {
        sim_s sim;
        sim.init();
        sim.set_gravity({0, -100, 0});
        sim.create_body(sheet, false);
        std::vector<BodyID> pieces;
        for (int i = 0; i < 100; ++i) {
            BodyID b = sim.create_body(c.shape, true);
            sim.set_material(b, 0.2f, 0.8f);
            sim.set_position(b, {float(i % 10) * 4 - 20, 6 + float(i % 7), float(i / 10) * 4 - 20}, false);
            sim.set_rotation(b, quat_from_axis_angle(normalize({float(i % 3), 1, float(i % 5)}), float(i)),
                             Activation::Activate);
            sim.set_linear_velocity(b, c.velocity);
            pieces.push_back(b);
        }
        for (int step = 0; step < 90; ++step) sim.step(1.0f / 60, 1);
        int below = 0;
        for (BodyID b : pieces) {
            vec3 p = sim.get_position(b);
            below += p.y < -0.5f && std::fabs(p.x) < 59 && std::fabs(p.z) < 59;
        }
        EXPECT_EQ(below, 0) << c.what;
    }
}

// A thin closed slab (a door, a plate) holds a piece on top: its bottom face
// must not pull the piece down into it.
TEST_F(World, APieceRestsOnAThinClosedSlab) {
    const float half = 5, thick = 0.1f;
    std::vector<float> v;
    for (int i = 0; i < 8; ++i)
        v.insert(v.end(), {i & 1 ? half : -half, i & 2 ? thick : -thick, i & 4 ? half : -half});
    // Outward-facing: bottom, top, then the four sides.
    const uint16_t idx[] = {0, 1, 5, 0, 5, 4, 2, 6, 7, 2, 7, 3, 0, 4, 6, 0, 6, 2,
                            1, 3, 7, 1, 7, 5, 0, 2, 3, 0, 3, 1, 4, 5, 7, 4, 7, 6};
    sim.create_body(build_mesh_shape(8, v.data(), 36, idx), false);
    BodyID piece = sim.create_body(box_shape({0.5f, 0.5f, 0.5f}), true);
    sim.set_position(piece, {0, 1, 0}, true);
    run(2.0f, 4);
    EXPECT_NEAR(translation(sim.get_transform(piece)).y, thick + 0.5f, 0.05f);
}

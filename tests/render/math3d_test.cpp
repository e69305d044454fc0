#include "render/math3d.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Element {
    int column, row;
    float value;
};

void expect_elements(const mat4& m, std::initializer_list<Element> expected) {
    mat4 want{};
    for (const Element& e : expected) want.at(e.column, e.row) = e.value;
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            EXPECT_FALSE(std::isnan(m.at(c, r))) << "(" << c << ", " << r << ")";
            EXPECT_NEAR(m.at(c, r), want.at(c, r), 1e-6f) << "(" << c << ", " << r << ")";
        }
}

TEST(Perspective, NinetyDegreesSixteenByNine) {
    mat4 p = perspective(90.0f, 16.0f / 9.0f, 0.0625f, 16.0f);
    expect_elements(p, {{0, 0, 1.0f}, {1, 1, 1.7777778f}, {2, 2, -1.0078431f}, {2, 3, -1.0f}, {3, 2, -0.1254902f}});
}

TEST(Perspective, NearMapsToMinusOneAndFarToOne) {
    mat4 p = perspective(60.0f, 1.5f, 0.5f, 40.0f);
    for (auto [z, ndc] : {std::pair{-0.5f, -1.0f}, {-40.0f, 1.0f}}) {
        vec4 c = p * vec4{0.0f, 0.0f, z, 1.0f};
        EXPECT_NEAR(c.z / c.w, ndc, 1e-5f) << "view depth " << z;
    }
}

TEST(LookAt, FromPlusZToOriginIsIdentityMovedBack) {
    mat4 v = look_at({0, 0, 1}, {0, 0, 0}, {0, 1, 0});
    expect_elements(v, {{0, 0, 1}, {1, 1, 1}, {2, 2, 1}, {3, 2, -1}, {3, 3, 1}});
}

TEST(LookAt, TargetEndsUpOnMinusZOfViewSpace) {
    vec3 eye{3, 2, 5}, center{-1, 0.5f, 2};
    mat4 v = look_at(eye, center, {0, 1, 0});
    vec4 c = v * vec4{center.x, center.y, center.z, 1};
    EXPECT_NEAR(c.x, 0.0f, 1e-5f);
    EXPECT_NEAR(c.y, 0.0f, 1e-5f);
    EXPECT_NEAR(c.z, -length(center - eye), 1e-5f);
}

TEST(LookAt, UpAlongViewGivesZeroRowsNotNaN) {
    mat4 v = look_at({0, 0, 0}, {0, 5, 0}, {0, 1, 0});
    // S = U = 0: rows 0 and 1 vanish, −F fills row 2.
    expect_elements(v, {{1, 2, -1.0f}, {3, 3, 1.0f}});
}

TEST(Rotate, ZeroAxisLeavesCosineTimesIdentity) {
    mat4 r = rotate(60.0f, {0, 0, 0});
    expect_elements(r, {{0, 0, 0.5f}, {1, 1, 0.5f}, {2, 2, 0.5f}, {3, 3, 1.0f}});
}

TEST(Rotate, QuarterTurnsAboutEachAxis) {
    struct Case {
        vec3 axis, point, expected;
    };
    const Case cases[] = {
        {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
        {{0, 0, 2}, {0, 1, 0}, {-1, 0, 0}},  // the axis is normalised
        {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
        {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}},
    };
    for (const Case& c : cases) {
        vec4 p = rotate(90.0f, c.axis) * vec4{c.point.x, c.point.y, c.point.z, 1};
        EXPECT_NEAR(p.x, c.expected.x, 1e-6f);
        EXPECT_NEAR(p.y, c.expected.y, 1e-6f);
        EXPECT_NEAR(p.z, c.expected.z, 1e-6f);
        EXPECT_FLOAT_EQ(p.w, 1.0f);
    }
}

TEST(Compose, TranslateRotateScaleAppliesScaleFirst) {
    mat4 m = translate({10, 0, 0}) * rotate(90.0f, {0, 0, 1}) * scale({2, 3, 4});
    vec4 p = m * vec4{1, 0, 0, 1};  // scaled to (2, 0, 0), turned to (0, 2, 0), moved
    EXPECT_NEAR(p.x, 10.0f, 1e-5f);
    EXPECT_NEAR(p.y, 2.0f, 1e-5f);
    EXPECT_NEAR(p.z, 0.0f, 1e-5f);
    // Column-major storage: the translation sits in floats 12 to 14.
    EXPECT_FLOAT_EQ(m.m[12], 10.0f);
    EXPECT_FLOAT_EQ(m.m[13], 0.0f);
}

TEST(Normalize, UnitLengthOrZero) {
    vec3 n = normalize({3, 0, 4});
    EXPECT_FLOAT_EQ(n.x, 0.6f);
    EXPECT_FLOAT_EQ(n.z, 0.8f);
    vec3 z = normalize({0, 0, 0});
    EXPECT_EQ(z.x, 0.0f);
    EXPECT_EQ(z.y, 0.0f);
    EXPECT_EQ(z.z, 0.0f);
}

TEST(QuatFromAxisAngle, HalfAngleOnNormalisedAxis) {
    quat q = quat_from_axis_angle({0, 0, 5}, 3.14159265f);
    EXPECT_NEAR(q.x, 0.0f, 1e-6f);
    EXPECT_NEAR(q.z, 1.0f, 1e-6f);
    EXPECT_NEAR(q.w, 0.0f, 1e-6f);
}

}  // namespace

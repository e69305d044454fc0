// The shape renderer: its geometry, the covered areas of a line and a triangle
// outline read back from a 256 × 256 target, empty draws, and the per-frame
// instance limit of the two stream buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "layer_target.h"
#include "layers/shape_renderer.h"

namespace {

constexpr vec4 red = {1.0f, 0.0f, 0.0f, 1.0f};

TEST(ShapeGeometry, ALineQuadAndThreeCornersOfInnerAndOuterVertices) {
    ShapeVertex v[shape_vertex_count];
    uint16_t idx[shape_index_count];
    shape_geometry(v, idx);
    const float c120 = std::cos(static_cast<float>(2.0 * M_PI / 3.0)), s120 = std::sin(static_cast<float>(2.0 * M_PI / 3.0));
    const float c240 = std::cos(static_cast<float>(4.0 * M_PI / 3.0)), s240 = std::sin(static_cast<float>(4.0 * M_PI / 3.0));
    const ShapeVertex expected[shape_vertex_count] = {
        {{0, 0.5f}, {-1, 0}},           {{0, 0.5f}, {1, 0}},          {{0, -0.5f}, {1, 0}},
        {{0, -0.5f}, {-1, 0}},          {{1, 0}, {-1, -0.0f}},        {{1, 0}, {1, 0}},
        {{c120, s120}, {-c120, -s120}}, {{c120, s120}, {c120, s120}}, {{c240, s240}, {-c240, -s240}},
        {{c240, s240}, {c240, s240}},
    };
    for (int i = 0; i < shape_vertex_count; ++i) {
        EXPECT_FLOAT_EQ(v[i].position.x, expected[i].position.x) << "vertex " << i;
        EXPECT_FLOAT_EQ(v[i].position.y, expected[i].position.y) << "vertex " << i;
        EXPECT_FLOAT_EQ(v[i].offset.x, expected[i].offset.x) << "vertex " << i;
        EXPECT_FLOAT_EQ(v[i].offset.y, expected[i].offset.y) << "vertex " << i;
    }
    const uint16_t want[shape_index_count] = {0, 1, 2, 0, 2, 3, 4, 5, 6, 5, 7, 6, 6, 7, 8, 7, 9, 8, 8, 9, 4, 9, 5, 4};
    EXPECT_TRUE(std::equal(idx, idx + shape_index_count, want));
}

class Shapes : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (open_layers()) target = make_layer_target(256, 256);
    }
    void SetUp() override { ASSERT_NE(target.pass.id, 0u) << "no GL context"; }
    static LayerTarget target;
};
LayerTarget Shapes::target;

// Signed distance-like measure (negative inside) of the areas a shape should cover.
float line_area(float x, float y) { return std::max(std::fabs(x) - 0.05f, std::fabs(y) - 0.5f); }

// Inside the triangle of circumradius r (corners at 0°, 120°, 240°): every
// edge's outward normal, at 60°, 180° and 300°, within the inradius r / 2.
float triangle_area(float x, float y, float r) {
    float d = -1e9f;
    for (float degrees : {60.0f, 180.0f, 300.0f}) {
        float a = degrees * static_cast<float>(M_PI) / 180.0f;
        d = std::max(d, x * std::cos(a) + y * std::sin(a) - r * 0.5f);
    }
    return d;
}
float ring_area(float x, float y) { return std::max(triangle_area(x, y, 1.05f), -triangle_area(x, y, 0.95f)); }

struct AreaCase {
    const char* name;
    ShapeKind kind;
    float view_scale;  // wvp = scale(s, s, 1); the instance matrix is the identity
    float (*area)(float x, float y);
};

class ShapeAreas : public Shapes, public testing::WithParamInterface<AreaCase> {};

TEST_P(ShapeAreas, CoverExactlyTheirOutlineAtThickness0_1) {
    const AreaCase& c = GetParam();
    const mat4 wvp = scale({c.view_scale, c.view_scale, 1.0f});
    const mat4 identity = mat4_identity();
    std::vector<Rgba8> px = render_layers(target, {0, 0, 0, 1}, [&] {
        draw_shapes(c.kind, wvp, {0, 0, 1}, 1.5707964f, 0.1f, 1, &identity, &red);
    });
    save_png(std::string("shapes_") + c.name + ".png", target.width, target.height, px);
    // Pixel centres in the shape's own units; a pixel's width either side of an
    // edge may go either way (edge rasterisation, multisampling).
    const float pixel = 2.0f / target.width / c.view_scale;
    int inside = 0, wrong = 0;
    for (int y = 0; y < target.height; ++y)
        for (int x = 0; x < target.width; ++x) {
            float lx = ((x + 0.5f) / target.width * 2.0f - 1.0f) / c.view_scale;
            float ly = (1.0f - (y + 0.5f) / target.height * 2.0f) / c.view_scale;
            float d = c.area(lx, ly);
            bool lit = px[static_cast<size_t>(y) * target.width + x].r > 127;
            if (d < -pixel) {
                ++inside;
                wrong += !lit;
            } else if (d > pixel) {
                wrong += lit;
            }
        }
    EXPECT_GT(inside, 300) << "the area holds whole pixels";
    EXPECT_EQ(wrong, 0) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Outlines, ShapeAreas,
                         testing::Values(AreaCase{"line", SHAPE_LINE, 1.0f, line_area},
                                         AreaCase{"triangle", SHAPE_TRIANGLE, 0.9f, ring_area}),
                         [](const testing::TestParamInfo<AreaCase>& i) { return std::string(i.param.name); });

TEST_F(Shapes, CountZeroAppendsAndDrawsNothing) {
    gfx::FrameStats stats{};
    const mat4 identity = mat4_identity();
    std::vector<Rgba8> px = render_layers(target, {0, 0, 0, 1}, [&] {
        draw_shapes(SHAPE_TRIANGLE, mat4_identity(), {0, 0, 1}, 1.0f, 0.1f, 0, &identity, &red);
    }, &stats);
    EXPECT_EQ(stats.draws, 0);
    EXPECT_EQ(stats.draws_skipped, 0);
    EXPECT_EQ(std::count_if(px.begin(), px.end(), [](Rgba8 p) { return p.r != 0; }), 0);
}

// Background bars, the effect's bars and its triangles: 512 + 512 + 64 = 1,088
// instances, more than a frame holds.
TEST_F(Shapes, TheInstancesPastAFramesLimitOverflowUntilTheFrameEnds) {
    std::vector<mat4> matrices(1088, scale({0.0f, 0.0f, 0.0f}));
    std::vector<vec4> colours(1088, red);
    gfx::FrameStats stats{};
    bool overflowed = false;
    render_layers(target, {0, 0, 0, 1}, [&] {
        const mat4 v = mat4_identity();
        draw_shapes(SHAPE_LINE, v, {0, 0, 1}, 1.0f, 0.01f, 512, matrices.data(), colours.data());
        draw_shapes(SHAPE_LINE, v, {0, 0, 1}, 1.0f, 0.01f, 512, matrices.data() + 512, colours.data() + 512);
        draw_shapes(SHAPE_TRIANGLE, v, {0, 0, 1}, 1.0f, 0.1f, 64, matrices.data() + 1024, colours.data() + 1024);
        draw_shapes(SHAPE_LINE, v, {0, 0, 1}, 1.0f, 0.01f, 1, matrices.data(), colours.data());
        overflowed = gfx::query_buffer_overflow(shape_renderer.matrix_stream) &&
                     gfx::query_buffer_overflow(shape_renderer.color_stream);
    }, &stats);
    EXPECT_TRUE(overflowed);
    EXPECT_EQ(stats.draws, 2) << "the two sets of bars fill the buffers exactly";
    EXPECT_EQ(stats.skipped_by_reason[static_cast<int>(gfx::SkipReason::BufferOverflow)], 2)
        << "the triangles and every later shape of the frame";

    render_layers(target, {0, 0, 0, 1}, [&] {
        draw_shapes(SHAPE_TRIANGLE, mat4_identity(), {0, 0, 1}, 1.0f, 0.1f, 64, matrices.data(), colours.data());
    }, &stats);
    EXPECT_EQ(stats.draws, 1) << "the next frame starts over";
    EXPECT_EQ(stats.draws_skipped, 0);
}

}  // namespace

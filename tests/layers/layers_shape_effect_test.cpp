// The shape effect: the triangle tunnel over time, the tints by "param", the
// camera's aspect, and the picture of bars and triangles from a small target.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include <stb/stb_perlin.h>

#include "layer_target.h"
#include "layers/layer_common.h"
#include "layers/shape_effect.h"

namespace {

TEST(TriangleTunnel, AtTimeZeroOnlySlotZeroIsBornAtSizeOneHundredth) {
    mat4 m[tunnel_slots];
    vec4 c[tunnel_slots];
    ASSERT_EQ(build_triangle_tunnel(0.0f, sage, m, c), 1);
    EXPECT_FLOAT_EQ(m[0].m[0], 0.01f);
    EXPECT_NEAR(m[0].m[1], 0.0f, 1e-9f);
    EXPECT_FLOAT_EQ(m[0].m[5], 0.01f);
    EXPECT_FLOAT_EQ(m[0].m[10], 0.01f);
    EXPECT_FLOAT_EQ(m[0].m[12], 0.25f * stb_perlin_noise3(5.9383f, 0.0f, 0.0f, 0, 0, 0));
    EXPECT_FLOAT_EQ(m[0].m[13], 0.25f * stb_perlin_noise3(-0.9383f, 0.0f, 2.22345f, 0, 0, 0));
    EXPECT_FLOAT_EQ(c[0].y, sage.y);
}

TEST(TriangleTunnel, TwoSlotsFillPerRowUntilAllSixtyFourLive) {
    struct Case {
        float time;
        int count;
    };
    // b = 2 × rows: 10.5 at 0.7875 s (slots 0 … 10), past 63 from 4.725 s on.
    const Case cases[] = {{0.0f, 1}, {0.7875f, 11}, {4.8f, 64}, {10.0f, 64}, {150.0f, 64}};
    mat4 m[tunnel_slots];
    vec4 c[tunnel_slots];
    for (const Case& k : cases) EXPECT_EQ(build_triangle_tunnel(k.time, cream, m, c), k.count) << k.time << " s";
}

TEST(TriangleTunnel, ASlotsGenerationSetsItsTurnAndItsSizeGrowsFromBirth) {
    // At 10 s, b = 133.33: slot 0 is in generation 128, a twelfth of the way
    // through its life: turned 128 × 15° + 50°, size 0.01 × e^(16 / 12).
    mat4 m[tunnel_slots];
    vec4 c[tunnel_slots];
    ASSERT_EQ(build_triangle_tunnel(10.0f, cream, m, c), 64);
    float size = 0.01f * std::exp(16.0f * std::fmod((133.33333f) / 64.0f, 1.0f));
    float angle = (128.0f * 15.0f + 50.0f) * static_cast<float>(M_PI) / 180.0f;
    EXPECT_NEAR(m[0].m[0], size * std::cos(angle), 1e-4f);
    EXPECT_NEAR(m[0].m[1], size * std::sin(angle), 1e-4f);
    for (int i = 0; i < 64; ++i) {
        float s = std::hypot(m[i].m[0], m[i].m[1]);
        EXPECT_GE(s, 0.0099f) << "slot " << i;
        EXPECT_LE(s, 88862.0f) << "slot " << i;
    }
}

TEST(TunnelTint, ByParamTruncated) {
    struct Case {
        double param;
        vec4 rgb;
        float alpha;
    };
    const Case cases[] = {
        {0, cream, 191 / 255.0f},      {1, golden, 191 / 255.0f}, {2.9, terracotta, 191 / 255.0f},
        {3, sage, 1.0f},               {4, near_black, 100 / 255.0f}, {5, rose, 0.0f},
        {-1, rose, 0.0f},              {-0.5, cream, 191 / 255.0f}, {15.1, rose, 0.0f},
    };
    for (const Case& c : cases) {
        vec4 t = tunnel_tint(c.param);
        EXPECT_FLOAT_EQ(t.x, c.rgb.x) << "param " << c.param;
        EXPECT_FLOAT_EQ(t.y, c.rgb.y) << "param " << c.param;
        EXPECT_FLOAT_EQ(t.z, c.rgb.z) << "param " << c.param;
        EXPECT_FLOAT_EQ(t.w, c.alpha) << "param " << c.param;
    }
}

TEST(ShapeEffectCamera, TheProjectionTakesTheWindowsAspect) {
    mat4 four_three = shape_effect_view_projection(400.0f, 300.0f);
    mat4 expected = flat_camera(4.0f / 3.0f);
    for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(four_three.m[i], expected.m[i]) << "element " << i;
    EXPECT_FLOAT_EQ(four_three.m[5] / four_three.m[0], 4.0f / 3.0f);
    EXPECT_NE(four_three.m[5], shape_effect_view_projection(1920.0f, 1080.0f).m[5]);
}

class ShapeEffectPicture : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (open_layers()) target = make_layer_target(128, 72);
    }
    void SetUp() override { ASSERT_NE(target.pass.id, 0u) << "no GL context"; }

    std::vector<Rgba8> draw(double param, bool shadow = false, gfx::FrameStats* stats = nullptr) {
        FrameInfo info{10.0, 1.0 / 60.0, 128.0f, 72.0f, shadow};
        return render_layers(target, {0, 0, 0, 1},
                             [&] { draw_shape_effect(info, param, spectrum.data(), scratch.data()); }, stats);
    }
    static int count(const std::vector<Rgba8>& px, vec4 colour) {
        int n = 0;
        for (Rgba8 p : px)
            n += std::abs(p.r - colour.x * 255) <= 2 && std::abs(p.g - colour.y * 255) <= 2 &&
                 std::abs(p.b - colour.z * 255) <= 2;
        return n;
    }

    static LayerTarget target;
    std::vector<uint8_t> scratch = std::vector<uint8_t>(2097152);
    std::vector<float> spectrum = std::vector<float>(512, 0.5f);
};
LayerTarget ShapeEffectPicture::target;

TEST_F(ShapeEffectPicture, InvisibleTintsHideTheTrianglesButNotTheBars) {
    std::vector<Rgba8> shown = draw(3.0);
    save_png("shape_effect_sage.png", target.width, target.height, shown);
    EXPECT_GT(count(shown, sage), 30) << "sage triangles";
    EXPECT_GT(count(shown, cream), 30) << "cream bars";
    for (double param : {5.0, -1.0}) {
        std::vector<Rgba8> hidden = draw(param);
        EXPECT_EQ(count(hidden, rose), 0) << "param " << param;
        EXPECT_EQ(count(hidden, sage), 0) << "param " << param;
        EXPECT_GT(count(hidden, cream), 30) << "param " << param << ": the bars stay";
    }
}

TEST_F(ShapeEffectPicture, TheShadowVariantDrawsNothing) {
    gfx::FrameStats stats{};
    draw(3.0, true, &stats);
    EXPECT_EQ(stats.draws, 0);
    draw(3.0, false, &stats);
    EXPECT_EQ(stats.draws, 2) << "the bars and the triangles, one draw each";
}

}  // namespace

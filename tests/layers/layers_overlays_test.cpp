// The caption overlays: the caption table (decoding, mip chains, failures),
// what a layer's track values draw, and the pictures of captions and fades
// read back from a 128 × 72 target. The captions here are made by the test:
// 0 is a 1024 × 512 image whose top half is opaque white, 1 does not decode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <stb/stb_image_write.h>

#include "layer_target.h"
#include "layers/image_overlays.h"
#include "layers/layer_common.h"

namespace {

std::vector<uint8_t> png_of(int w, int h, const std::vector<uint8_t>& rgba) {
    std::vector<uint8_t> out;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            auto* bytes = static_cast<std::vector<uint8_t>*>(context);
            bytes->insert(bytes->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
        },
        &out, w, h, 4, rgba.data(), w * 4);
    return out;
}

std::vector<uint8_t> top_half_white() {
    std::vector<uint8_t> rgba(1024 * 512 * 4, 0);
    for (size_t i = 0; i < rgba.size() / 2; ++i) rgba[i] = 255;
    return png_of(1024, 512, rgba);
}

const std::vector<uint8_t> half_png = top_half_white();
const char not_png[] = "these bytes are not an image";
const EmbeddedFile test_captions[] = {
    {"half.png", half_png.data(), static_cast<int32_t>(half_png.size())},
    {"broken.png", reinterpret_cast<const unsigned char*>(not_png), static_cast<int32_t>(sizeof not_png)},
};

constexpr ImageLayerValues hidden = {0, 0, 12, 0, 1, 0, 0};  // index 12: draws nothing

ImageLayerValues caption(double index, double alpha, double mode = 0, double angle = 0) {
    return {alpha, angle, index, mode, 1.0, 0.0, 0.0};
}

class Overlays : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (open_layers(test_captions, 2)) {
            image_overlays_setup(test_captions, 2);  // the window may have been open already
            target = make_layer_target(128, 72);
        }
    }
    void SetUp() override { ASSERT_NE(target.pass.id, 0u) << "no GL context"; }

    std::vector<Rgba8> draw(ImageLayerValues layer0, ImageLayerValues layer1 = hidden, double time = 0.0,
                            vec4 clear = {0, 0, 0, 1}, gfx::FrameStats* stats = nullptr) {
        const ImageLayerValues layers[2] = {layer0, layer1};
        return render_layers(target, clear, [&] { draw_image_overlays(layers, time); }, stats);
    }
    int draws(ImageLayerValues layer0, ImageLayerValues layer1 = hidden) {
        gfx::FrameStats stats{};
        draw(layer0, layer1, 0.0, {0, 0, 0, 1}, &stats);
        return stats.draws;
    }
    static bool lit(Rgba8 p) { return p.r + p.g + p.b > 300; }

    static LayerTarget target;
};
LayerTarget Overlays::target;

TEST_F(Overlays, CaptionsDecodeWithTheirMipChainAndAFailureKeepsHandleZero) {
    const CaptionEntry& half = image_overlays.captions[0];
    ASSERT_NE(half.image.id, 0u);
    EXPECT_EQ(half.width, 1024);
    EXPECT_EQ(half.height, 512);
    gfx::ImageInfo info = gfx::query_image_info(half.image);
    EXPECT_EQ(info.num_mipmaps, 10);
    EXPECT_EQ(gfx::query_image_state(half.image), gfx::ResourceState::Valid);
    EXPECT_EQ(image_overlays.captions[1].image.id, 0u) << "the broken file";
    EXPECT_EQ(image_overlays.captions[2].image.id, 0u) << "not in the table";
    EXPECT_EQ(gfx::query_image_info(image_overlays.white_image).width, 8);
}

TEST(CaptionMipLevels, HalvedUntilASideWouldReachZeroAtMostSixteen) {
    struct Case {
        int w, h, levels;
    };
    const Case cases[] = {{1024, 512, 10}, {512, 1024, 10}, {1, 1, 1}, {3, 1, 1}, {2, 2, 2}, {8, 2, 2},
                          {65536, 65536, 16}, {1000, 600, 10}};
    for (const Case& c : cases) EXPECT_EQ(caption_mip_levels(c.w, c.h), c.levels) << c.w << " x " << c.h;
}

TEST_F(Overlays, LayersThatDrawNothing) {
    struct Case {
        const char* why;
        ImageLayerValues layer;
    };
    const Case cases[] = {
        {"index 12", caption(12, 1)},
        {"index 40.5", caption(40.5, 1)},
        {"a caption that failed to decode", caption(1, 1)},
        {"a caption that is not there", caption(5, 1)},
        {"alpha 0", caption(0, 0)},
        {"negative alpha", caption(0, -0.5)},
    };
    for (const Case& c : cases) EXPECT_EQ(draws(c.layer, c.layer), 0) << c.why;
    EXPECT_EQ(draws(caption(0, 1), caption(0, 0.5)), 2) << "both layers may show the same caption";
}

TEST_F(Overlays, IndexMinusAHalfShowsCaptionZeroTintedAndInPlace) {
    std::vector<Rgba8> px = draw(caption(-0.5, 1.0, 0));
    save_png("overlays_caption0.png", target.width, target.height, px);
    // At scale 1 the caption spans ±1024/1920 of the width and ±0.474 of the
    // height; its opaque top half lies above the centre line.
    Rgba8 top = pixel(px, target, 64, 27);
    EXPECT_NEAR(top.r, 250, 2);
    EXPECT_NEAR(top.g, 236, 2);
    EXPECT_NEAR(top.b, 191, 2);
    EXPECT_FALSE(lit(pixel(px, target, 64, 45))) << "the transparent bottom half";
    EXPECT_FALSE(lit(pixel(px, target, 20, 27))) << "left of the caption";
    EXPECT_FALSE(lit(pixel(px, target, 64, 16))) << "above the caption";
}

TEST_F(Overlays, AFadeDarkensTheWholeTargetByItsAlpha) {
    const vec4 teal = {0.2f, 0.6f, 0.8f, 1.0f};
    struct Case {
        double alpha;
        Rgba8 want;
    };
    const Case cases[] = {{0.0, {51, 153, 204, 0}}, {0.5, {26, 77, 102, 128}}, {1.0, {0, 0, 0, 255}}};
    for (const Case& c : cases) {
        std::vector<Rgba8> px = draw(caption(-1, c.alpha), hidden, 0.0, teal);
        for (int i : {0, 64 * 72 / 2 + 13, 128 * 72 - 1}) {
            EXPECT_NEAR(px[i].r, c.want.r, 1) << "alpha " << c.alpha;
            EXPECT_NEAR(px[i].g, c.want.g, 1) << "alpha " << c.alpha;
            EXPECT_NEAR(px[i].b, c.want.b, 1) << "alpha " << c.alpha;
            EXPECT_NEAR(px[i].a, c.want.a, 1) << "alpha " << c.alpha << ": the fade's alpha replaces the target's";
        }
    }
}

TEST_F(Overlays, APositiveAngleTurnsTheCaptionClockwise) {
    // Turned a quarter clockwise, the opaque top half points right.
    std::vector<Rgba8> cw = draw(caption(0, 1, 0, 90.0));
    std::vector<Rgba8> ccw = draw(caption(0, 1, 0, -90.0));
    save_png("overlays_clockwise.png", target.width, target.height, cw);
    EXPECT_TRUE(lit(pixel(cw, target, 72, 36)));
    EXPECT_FALSE(lit(pixel(cw, target, 55, 36)));
    EXPECT_TRUE(lit(pixel(ccw, target, 55, 36)));
    EXPECT_FALSE(lit(pixel(ccw, target, 72, 36)));
}

TEST_F(Overlays, TheGradientOfOtherModesMovesWithTime) {
    for (double mode : {5.0, -1.0}) {
        Rgba8 before = pixel(draw(caption(0, 1, mode), hidden, 0.0), target, 64, 27);
        Rgba8 later = pixel(draw(caption(0, 1, mode), hidden, 0.125), target, 64, 27);
        EXPECT_GT(std::abs(before.g - later.g), 20) << "mode " << mode;
    }
}

struct TintCase {
    double mode;
    vec4 a, b;
};

TEST(ImageLayerDraw, TintsByModeWithTheLayersAlpha) {
    const TintCase cases[] = {
        {0, cream, cream},         {1, golden, golden},    {2, terracotta, terracotta}, {3, sage, sage},
        {4.9, near_black, near_black}, {5, golden, terracotta}, {-1, golden, terracotta}, {-0.5, cream, cream},
    };
    image_overlays.captions[3] = {{7}, 1024, 512};  // any handle: only the uniforms are built
    for (const TintCase& c : cases) {
        ImageLayerDraw d;
        ASSERT_TRUE(image_layer_draw({0.25, 0, 3, c.mode, 1, 0, 0}, 0.5, 1.0f, &d));
        EXPECT_FLOAT_EQ(d.fs.color_a.x, c.a.x) << "mode " << c.mode;
        EXPECT_FLOAT_EQ(d.fs.color_a.z, c.a.z) << "mode " << c.mode;
        EXPECT_FLOAT_EQ(d.fs.color_b.y, c.b.y) << "mode " << c.mode;
        EXPECT_FLOAT_EQ(d.fs.color_a.w, 0.25f);
        EXPECT_FLOAT_EQ(d.fs.color_b.w, 0.25f);
        EXPECT_FLOAT_EQ(d.fs.phase, static_cast<float>(0.5 * M_PI * 4.0));
    }
    image_overlays.captions[3] = {};
}

TEST(ImageLayerDraw, ScaleRulePositionAngleAndAspect) {
    image_overlays.captions[3] = {{7}, 1024, 512};
    ImageLayerDraw d;
    ASSERT_TRUE(image_layer_draw({1, 30, 3, 0, 2.0, 0.25, 0.5}, 0.0, 16.0f / 9.0f, &d));
    EXPECT_FLOAT_EQ(d.vs.scale.x, 2.0f * (1024.0f / 1920.0f)) << "a scale of 1 keeps the pixel size at 1920 wide";
    EXPECT_FLOAT_EQ(d.vs.scale.y, d.vs.scale.x / 2.0f) << "the caption's own proportions";
    EXPECT_FLOAT_EQ(d.vs.pos.x, 0.25f);
    EXPECT_FLOAT_EQ(d.vs.pos.y, -0.5f);
    EXPECT_FLOAT_EQ(d.vs.angle, static_cast<float>(30.0 * M_PI / 180.0));
    EXPECT_FLOAT_EQ(d.vs.aspect, 16.0f / 9.0f);

    ASSERT_TRUE(image_layer_draw({-0.5, 30, -1, 3, 2.0, 0.25, 0.5}, 3.0, 1.5f, &d));
    EXPECT_EQ(d.image.id, image_overlays.white_image.id);
    EXPECT_FLOAT_EQ(d.fs.color_a.w, -0.5f) << "a fade's alpha is used unchanged";
    EXPECT_FLOAT_EQ(d.vs.scale.x, 1.0f);
    EXPECT_FLOAT_EQ(d.vs.aspect, 1.0f);
    EXPECT_FLOAT_EQ(d.vs.angle, 0.0f);
    EXPECT_FLOAT_EQ(d.fs.phase, 0.0f);
    image_overlays.captions[3] = {};
}

}  // namespace

// The background: what each "bg.index" value chooses, and the pictures of
// the solid, bar, spectrum and pattern kinds read back from a small target.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "layer_target.h"
#include "layers/background.h"
#include "layers/layer_common.h"

namespace {

enum Bars : bool { NO_BARS = false, BARS = true };

struct ChoiceCase {
    double bg_index, time;
    BackgroundProgram program;
    Bars bars;
    vec4 color0, color1;
    vec2 dir;
    float phase;
};

void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << "bg.index " << c.bg_index << " at " << c.time << " s"; }

constexpr vec4 black = {0, 0, 0, 1};
constexpr vec2 down = {0, 1}, across = {1, 0};
constexpr auto G = BackgroundProgram::Gradient;

class GradientChoice : public testing::TestWithParam<ChoiceCase> {};

TEST_P(GradientChoice, ColoursDirectionPhaseAndBars) {
    const ChoiceCase& c = GetParam();
    BackgroundChoice got = choose_background(c.bg_index, c.time);
    ASSERT_EQ(got.program, c.program);
    EXPECT_EQ(got.bars, static_cast<bool>(c.bars));
    if (c.program != G) return;
    const fs_gradient_params& p = got.gradient;
    EXPECT_FLOAT_EQ(p.color0.x, c.color0.x);
    EXPECT_FLOAT_EQ(p.color0.y, c.color0.y);
    EXPECT_FLOAT_EQ(p.color0.z, c.color0.z);
    EXPECT_FLOAT_EQ(p.color1.x, c.color1.x);
    EXPECT_FLOAT_EQ(p.color1.z, c.color1.z);
    EXPECT_FLOAT_EQ(p.color0.w, 1.0f);
    EXPECT_EQ(p.dir.x, c.dir.x);
    EXPECT_EQ(p.dir.y, c.dir.y);
    EXPECT_FLOAT_EQ(p.phase, c.phase);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, GradientChoice,
    testing::Values(ChoiceCase{-0.5, 1.0, G, NO_BARS, black, black, down, 0},  // truncates to 0
                    ChoiceCase{-1.0, 2.0, G, BARS, golden, golden, down, 0},
                    ChoiceCase{-2.0, 2.0, G, BARS, golden, terracotta, down, 0},
                    ChoiceCase{-3.0, 2.0, G, BARS, golden, terracotta, down, 8},
                    ChoiceCase{-4.0, 2.0, G, BARS, golden, terracotta, across, 16},
                    ChoiceCase{-5.0, 2.0, G, BARS, golden, terracotta, down, 32},
                    ChoiceCase{-9.0, 2.0, G, BARS, golden, terracotta, down, 0},
                    ChoiceCase{0.0, 2.0, G, NO_BARS, black, black, down, 0},
                    ChoiceCase{1.0, 2.0, G, NO_BARS, golden, terracotta, down, 0},
                    ChoiceCase{2.5, 2.0, G, NO_BARS, golden, terracotta, down, 2},
                    ChoiceCase{3.0, 2.0, G, NO_BARS, golden, terracotta, down, 4},
                    ChoiceCase{4.0, 2.0, G, NO_BARS, golden, terracotta, down, 8},
                    ChoiceCase{5.0, 2.0, G, NO_BARS, golden, terracotta, down, 16},
                    ChoiceCase{6.0, 2.0, G, NO_BARS, golden, terracotta, down, 32},
                    ChoiceCase{7.0, 2.0, G, NO_BARS, golden, terracotta, down, 0},
                    ChoiceCase{9.9, 2.0, G, NO_BARS, golden, terracotta, down, 0},
                    ChoiceCase{11.0, 2.0, BackgroundProgram::Spectrum, NO_BARS, {}, {}, {}, 0},
                    ChoiceCase{11.9, 2.0, BackgroundProgram::Spectrum, NO_BARS, {}, {}, {}, 0}));

struct PatternCase {
    double bg_index, time;
    float angle, rows, thresh;
};

void PrintTo(const PatternCase& c, std::ostream* os) { *os << "bg.index " << c.bg_index << " at " << c.time << " s"; }

class PatternChoice : public testing::TestWithParam<PatternCase> {};

TEST_P(PatternChoice, VariantByTheUntruncatedValue) {
    const PatternCase& c = GetParam();
    BackgroundChoice got = choose_background(c.bg_index, c.time);
    ASSERT_EQ(got.program, BackgroundProgram::Pattern);
    EXPECT_FALSE(got.bars);
    EXPECT_FLOAT_EQ(got.pattern.u_angle, c.angle);
    EXPECT_NEAR(got.pattern.u_rows, c.rows, 1e-5f);
    EXPECT_FLOAT_EQ(got.pattern.u_thresh, c.thresh);
    EXPECT_FLOAT_EQ(got.pattern.u_time, static_cast<float>(c.time * 4.0));
    EXPECT_EQ(got.pattern.color0.x, 0.0f) << "the unread members are sent as zeros";
}

constexpr float third = 2.0943933f;
INSTANTIATE_TEST_SUITE_P(Variants, PatternChoice,
                         testing::Values(PatternCase{10.1, 1.0, -third, 2.5f, 0.5f},
                                         PatternCase{10.2, 1.0, third, 2.5f, 0.5f},
                                         PatternCase{10.3, 1.0, 0.0f, 2.5f, 0.5f},
                                         PatternCase{10.3f, 1.0, 0.0f, 2.5f, 0.5f},  // as a track stores it
                                         PatternCase{10.35, 1.0, -third, 2.5f, 0.25f},
                                         PatternCase{10.4, 1.0, 0.0f, 10.0f, 0.5f},
                                         PatternCase{10.5, 0.0, 0.0f, 7.5f, 0.5f},   // cos 0 cubed
                                         PatternCase{10.5, 0.15, 0.0f, 5.0f, 0.5f},  // cos π/2
                                         PatternCase{10.5, 0.3, 0.0f, 2.5f, 0.5f},   // cos π cubed
                                         PatternCase{10.0, 1.0, -third, 2.5f, 0.25f},
                                         PatternCase{12.0, 1.0, -third, 2.5f, 0.25f},
                                         PatternCase{40.3, 1.0, -third, 2.5f, 0.25f}));

// ---- pictures ----

class BackgroundPicture : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (open_layers()) target = make_layer_target(64, 36);
    }
    void SetUp() override { ASSERT_NE(target.pass.id, 0u) << "no GL context"; }

    std::vector<Rgba8> draw(double bg_index, const float* spectrum, bool shadow = false,
                            gfx::FrameStats* stats = nullptr) {
        FrameInfo info{2.0, 1.0 / 60.0, 64.0f, 36.0f, shadow};
        return render_layers(target, {0.2f, 0.4f, 0.6f, 1.0f},
                             [&] { draw_background(info, bg_index, spectrum, scratch.data()); }, stats);
    }
    static int count(const std::vector<Rgba8>& px, Rgba8 want, int tolerance = 2) {
        int n = 0;
        for (Rgba8 p : px)
            n += std::abs(p.r - want.r) <= tolerance && std::abs(p.g - want.g) <= tolerance &&
                 std::abs(p.b - want.b) <= tolerance && p.a == want.a;
        return n;
    }

    static LayerTarget target;
    std::vector<uint8_t> scratch = std::vector<uint8_t>(2097152);
    std::vector<float> silent = std::vector<float>(512, 0.0f);
    std::vector<float> loud = std::vector<float>(512, 1.0f);
};
LayerTarget BackgroundPicture::target;

struct SolidCase {
    const char* name;
    double bg_index;
    Rgba8 colour;
};

TEST_F(BackgroundPicture, SolidKindsFillTheTarget) {
    const SolidCase cases[] = {
        {"truncated to black", -0.5, {0, 0, 0, 255}},
        {"black", 0.0, {0, 0, 0, 255}},
        {"golden under zero-height bars", -1.0, {247, 173, 40, 255}},
        {"spectrum display of silence", 11.0, {22, 249, 255, 255}},
    };
    const int all = target.width * target.height;
    for (const SolidCase& c : cases) EXPECT_EQ(count(draw(c.bg_index, silent.data()), c.colour), all) << c.name;
}

TEST_F(BackgroundPicture, BarsOverTheGoldenFillReachTheirHeightAcrossTheWidth) {
    std::vector<Rgba8> px = draw(-1.0, loud.data());
    save_png("background_golden_bars.png", target.width, target.height, px);
    // A full bar is one world unit tall: 0.889 of the half-height either side
    // of the centre line. Cream at 0.75 over golden; the bars' alpha replaces the target's.
    const Rgba8 bar = {249, 220, 153, 191}, gold = {247, 173, 40, 255};
    std::vector<Rgba8> middle(px.begin() + 18 * target.width, px.begin() + 19 * target.width);
    EXPECT_EQ(count(middle, bar), target.width) << "the middle row is all bars";
    std::vector<Rgba8> top(px.begin(), px.begin() + target.width);
    EXPECT_EQ(count(top, gold), target.width) << "above the bars the fill shows";
}

TEST_F(BackgroundPicture, ThePatternIsOpaqueAndDrawnInItsPalette) {
    std::vector<Rgba8> px = draw(10.3, silent.data());
    save_png("background_pattern.png", target.width, target.height, px);
    const Rgba8 dark = {64, 17, 29, 255}, yellow = {251, 226, 3, 255};
    EXPECT_GT(count(px, dark), 50);
    EXPECT_GT(count(px, yellow), 20);
    int opaque = 0;
    for (Rgba8 p : px) opaque += p.a == 255;
    EXPECT_EQ(opaque, target.width * target.height);
}

TEST_F(BackgroundPicture, TheShadowVariantDrawsNothing) {
    gfx::FrameStats stats{};
    std::vector<Rgba8> px = draw(-1.0, loud.data(), true, &stats);
    EXPECT_EQ(stats.draws, 0);
    EXPECT_EQ(count(px, {51, 102, 153, 255}), target.width * target.height) << "the clear colour stays";
}

}  // namespace

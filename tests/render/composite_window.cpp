// The picture in the window, rendered on llvmpipe and read back: the off-screen
// image is drawn through the real targets, bloom chain and composite, in a
// TEST_WINDOW_WIDTH × TEST_WINDOW_HEIGHT window (built once 16:9, once 4:3).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "render/bloom.h"
#include "render/render_targets.h"
#include "render/shaders.h"
#include "render_window.h"

namespace {

const int window_w = TEST_WINDOW_WIDTH;
const int window_h = TEST_WINDOW_HEIGHT;

std::string frame_name(const char* what) {
    return std::string("composite_") + std::to_string(window_w) + "x" + std::to_string(window_h) + "_" + what +
           ".png";
}

// Fragment stages drawn over the whole off-screen target with the unit quad.
// uv (0, 0) is the target's top-left (the pass-through stage of the bloom).
const char* pattern_fs = R"(#version 450
layout(location = 0) in vec2 uv;
layout(location = 0) out vec4 frag_color;
void main() {
    vec2 cell = floor(uv * vec2(16.0, 9.0));
    frag_color = vec4(uv.y, mod(cell.x + cell.y, 2.0), uv.x, 1.0);
}
)";
// An 8 × 8 pixel white square at the centre of a 320 × 180 target, black elsewhere.
// (A lone white pixel leaves no glow: the 8-bit levels round its share of the
// 1/16-size level, where all of the bloom comes from, to zero.)
const char* spot_fs = R"(#version 450
layout(location = 0) in vec2 uv;
layout(location = 0) out vec4 frag_color;
void main() {
    vec2 d = abs(uv - vec2(0.5));
    frag_color = all(lessThan(d, vec2(4.0 / 320.0, 4.0 / 180.0))) ? vec4(1.0) : vec4(0.0, 0.0, 0.0, 1.0);
}
)";

gfx::Pipeline make_offscreen_pipeline(const char* fs_source) {
    gfx::ShaderDesc sd{};
    sd.attrs[0] = {nullptr, "TEXCOORD", 0};
    sd.vs.source = shader_source("post.vert");
    sd.fs.source = fs_source;
    gfx::PipelineDesc pd{};
    pd.shader = gfx::make_shader(sd);
    pd.layout.attrs[0] = {0, 0, gfx::VertexFormat::Float2};
    pd.index_type = gfx::IndexType::Uint16;
    pd.depth.compare = gfx::CompareFunc::Always;
    pd.sample_count = render_targets.target_sample_count;
    return gfx::make_pipeline(pd);
}

struct Frame {
    std::vector<Rgba8> window;
    std::vector<Rgba8> offscreen;  // the resolved colour image
};

// One frame as the frame driver runs it: targets, composite parameters, the
// off-screen pass (cleared, then an optional full-target draw), the post chain.
Frame render_frame(gfx::Pipeline content, const float clear[4], CompositeParams params) {
    resize_targets(window_w, window_h);
    composite_params = params;
    gfx::begin_pass(render_targets.offscreen_pass, offscreen_pass_action(clear));
    if (content.id != 0) {
        gfx::apply_pipeline(content);
        gfx::apply_bindings(fullscreen_quad.bindings);
        gfx::draw(0, fullscreen_quad_index_count, 1);
    }
    run_post_chain();
    gfx::FrameStats stats = gfx::query_frame_stats();
    EXPECT_EQ(stats.draws_skipped, 0) << "reason " << static_cast<int>(stats.last_skip_reason);
    EXPECT_EQ(stats.draws, (content.id != 0 ? 1 : 0) + 2 * blur_level_count);
    Frame f{read_window(), read_image(render_targets.color_image)};
    gfx::commit();
    return f;
}

// The rectangle in whole window pixels (the rectangles of these windows are whole).
struct PixelRect {
    int x, y, w, h;
    bool contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};
PixelRect rect_pixels() {
    Rect r = compute_present_rect(window_w, window_h);
    return {static_cast<int>(r.x), static_cast<int>(r.y), static_cast<int>(r.w), static_cast<int>(r.h)};
}

// Bilinear sample (clamp to edge) of an RGBA image, as the composite reads `base`.
float sample_channel(const std::vector<Rgba8>& img, int w, int h, float u, float v, int channel) {
    float x = u * w - 0.5f, y = v * h - 0.5f;
    int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
    float fx = x - x0, fy = y - y0;
    auto at = [&](int xi, int yi) {
        xi = std::clamp(xi, 0, w - 1);
        yi = std::clamp(yi, 0, h - 1);
        const Rgba8& p = img[static_cast<size_t>(yi) * w + xi];
        const uint8_t c[4] = {p.r, p.g, p.b, p.a};
        return static_cast<float>(c[channel]);
    };
    float top = at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx;
    float bottom = at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx;
    return top * (1 - fy) + bottom * fy;
}

class Composite : public testing::Test {
protected:
    void SetUp() override {
        if (!open_render_window(window_w, window_h)) GTEST_SKIP() << "no GL 4.5 context (run under Xvfb)";
        ASSERT_EQ(render_window_width(), window_w);
        ASSERT_EQ(render_window_height(), window_h);
        // Off-screen pipelines take target_sample_count, fixed by the first build.
        resize_targets(window_w, window_h);
    }
};

TEST_F(Composite, NoGlowNoVignetteShowsTheOffscreenImageUnchanged) {
    static gfx::Pipeline pattern = make_offscreen_pipeline(pattern_fs);
    const float clear[4] = {0, 0, 0, 0};
    Frame f = render_frame(pattern, clear, {0.0f, 0.0f, 1.0f});
    save_png(frame_name("pattern"), window_w, window_h, f.window);
    PixelRect r = rect_pixels();
    int worst = 0;
    for (int py = r.y; py < r.y + r.h; ++py)
        for (int px = r.x; px < r.x + r.w; ++px) {
            float u = (px + 0.5f - r.x) / r.w, v = (py + 0.5f - r.y) / r.h;
            const Rgba8& got = f.window[static_cast<size_t>(py) * window_w + px];
            const uint8_t channels[3] = {got.r, got.g, got.b};
            for (int c = 0; c < 3; ++c) {
                float want = sample_channel(f.offscreen, window_w, window_h, u, v, c);
                worst = std::max(worst, static_cast<int>(std::lround(std::fabs(channels[c] - want))));
            }
        }
    EXPECT_LE(worst, 2) << "largest channel difference from the off-screen image";
    // Upright: the pattern's red is uv.y, dark at the rectangle's top.
    EXPECT_LT(f.window[static_cast<size_t>(r.y) * window_w + r.x + r.w / 2].r, 8);
    EXPECT_GT(f.window[static_cast<size_t>(r.y + r.h - 1) * window_w + r.x + r.w / 2].r, 247);
}

struct BarsCase {
    const char* name;
    float clear[4];
    CompositeParams params;
};

TEST_F(Composite, ClearColourInsideAndBlackBarsOutside) {
    // A loading frame (all parameters 0) and a content frame without glow or
    // vignette both show the clear colour untouched.
    const BarsCase cases[] = {
        {"loading", {0.25f, 0.5f, 0.75f, 0.0f}, {0.0f, 0.0f, 0.0f}},
        {"neutral", {0.9686275f, 0.6784314f, 0.1568627f, 0.0f}, {0.0f, 0.0f, 1.0f}},
    };
    PixelRect r = rect_pixels();
    for (const BarsCase& c : cases) {
        SCOPED_TRACE(c.name);
        Frame f = render_frame({}, c.clear, c.params);
        save_png(frame_name(c.name), window_w, window_h, f.window);
        int inside_off = 0, outside_off = 0;
        for (int py = 0; py < window_h; ++py)
            for (int px = 0; px < window_w; ++px) {
                const Rgba8& p = f.window[static_cast<size_t>(py) * window_w + px];
                if (r.contains(px, py)) {
                    int want[3] = {static_cast<int>(std::lround(c.clear[0] * 255)),
                                   static_cast<int>(std::lround(c.clear[1] * 255)),
                                   static_cast<int>(std::lround(c.clear[2] * 255))};
                    if (std::abs(p.r - want[0]) > 1 || std::abs(p.g - want[1]) > 1 || std::abs(p.b - want[2]) > 1)
                        ++inside_off;
                } else if (p.r != 0 || p.g != 0 || p.b != 0) {
                    ++outside_off;
                }
            }
        EXPECT_EQ(inside_off, 0) << "pixels inside the rectangle that are not the clear colour";
        EXPECT_EQ(outside_off, 0) << "pixels outside the rectangle that are not black";
    }
}

TEST_F(Composite, FullVignetteDarkensTheCornersToAboutAFifth) {
    const float white[4] = {1, 1, 1, 0};
    Frame f = render_frame({}, white, {0.0f, 1.0f, 1.0f});
    save_png(frame_name("vignette"), window_w, window_h, f.window);
    PixelRect r = rect_pixels();
    auto value = [&](int px, int py) { return static_cast<float>(f.window[static_cast<size_t>(py) * window_w + px].g); };
    auto expected = [&](int px, int py) {
        float u = (px + 0.5f - r.x) / r.w, v = (py + 0.5f - r.y) / r.h;
        float t = std::clamp(1.0f - std::hypot(u - 0.5f, v - 0.5f), 0.0f, 1.0f);
        return 255.0f * t * t * (3 - 2 * t);
    };
    const int corners[4][2] = {{r.x, r.y}, {r.x + r.w - 1, r.y}, {r.x, r.y + r.h - 1}, {r.x + r.w - 1, r.y + r.h - 1}};
    float centre = value(r.x + r.w / 2, r.y + r.h / 2);
    EXPECT_GE(centre, 254.0f);
    for (const auto& c : corners) {
        EXPECT_NEAR(value(c[0], c[1]), expected(c[0], c[1]), 1.5f) << "corner " << c[0] << ", " << c[1];
        EXPECT_NEAR(value(c[0], c[1]) / centre, 0.207f, 0.01f);
    }
    // Along the diagonal the factor falls smoothly.
    for (int k = 0; k <= 8; ++k) {
        int px = r.x + (r.w - 1) * k / 16, py = r.y + (r.h - 1) * k / 16;
        EXPECT_NEAR(value(px, py), expected(px, py), 1.5f) << "at " << px << ", " << py;
    }
}

TEST_F(Composite, BrightSpotGlowReachesFurtherAndStrongerWithGlow) {
    static gfx::Pipeline spot = make_offscreen_pipeline(spot_fs);
    const float black[4] = {0, 0, 0, 0};
    PixelRect r = rect_pixels();
    float cx = r.x + r.w * 0.5f, cy = r.y + r.h * 0.5f;
    struct Spread {
        double strength;  // green summed over the pixels outside the spot
        float reach;      // farthest lit pixel from the spot's centre, in window pixels
    };
    const float glows[] = {0.0f, 0.5f, 1.0f, 2.0f, 4.0f};
    std::vector<Spread> spread;
    for (float glow : glows) {
        Frame f = render_frame(spot, black, {glow, 0.0f, 1.0f});
        char name[32];
        std::snprintf(name, sizeof name, "glow_%.1f", glow);
        save_png(frame_name(name), window_w, window_h, f.window);
        Spread s{0.0, 0.0f};
        for (int py = 0; py < window_h; ++py)
            for (int px = 0; px < window_w; ++px) {
                float dx = px + 0.5f - cx, dy = py + 0.5f - cy;
                bool in_spot = std::fabs(dx) < 4.0f * r.w / 320.0f && std::fabs(dy) < 4.0f * r.h / 180.0f;
                uint8_t g = f.window[static_cast<size_t>(py) * window_w + px].g;
                if (in_spot || g == 0) continue;
                s.strength += g;
                s.reach = std::max(s.reach, std::hypot(dx, dy));
            }
        // The spot is centred: its glow mirrors left/right and up/down, within one level.
        int asymmetry[2] = {0, 0};
        for (int py = r.y; py < r.y + r.h; ++py)
            for (int px = r.x; px < r.x + r.w; ++px) {
                const int mx = 2 * r.x + r.w - 1 - px, my = 2 * r.y + r.h - 1 - py;
                const int g = f.window[static_cast<size_t>(py) * window_w + px].g;
                asymmetry[0] = std::max(asymmetry[0], std::abs(g - f.window[static_cast<size_t>(py) * window_w + mx].g));
                asymmetry[1] = std::max(asymmetry[1], std::abs(g - f.window[static_cast<size_t>(my) * window_w + px].g));
            }
        EXPECT_LE(asymmetry[0], 1) << "left/right, glow " << glow;
        EXPECT_LE(asymmetry[1], 1) << "up/down, glow " << glow;
        std::printf("Glow %.1f: glow sum %.0f, reach %.1f px, asymmetry %d across, %d down\n", glow, s.strength,
                    s.reach, asymmetry[0], asymmetry[1]);
        spread.push_back(s);
    }
    EXPECT_EQ(spread[0].strength, 0.0) << "without glow only the spot itself is lit";
    for (size_t i = 1; i < spread.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "Glow " << glows[i]);
        EXPECT_GT(spread[i].strength, spread[i - 1].strength * 1.5);
        EXPECT_GE(spread[i].reach, spread[i - 1].reach);
    }
    EXPECT_GT(spread.back().reach, spread[1].reach);
    EXPECT_GT(spread[1].reach, 8.0f) << "the glow leaves the spot";
}

}  // namespace

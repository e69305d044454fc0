// What reaches the pixels: clears, multisample resolve, orientation, blending,
// vertex layouts and mip chains.
#include "gfx_fixture.h"

#include "platform/app_window.h"

using namespace gfxtest;
using gfx::PixelFormat;

namespace {

class Draw : public GfxTest {};

Rgba at(const std::vector<Rgba>& px, int w, int x, int y) { return px[size_t(y) * size_t(w) + size_t(x)]; }

// Solid-colour pipeline over VS_CLIP2/FS_UCOLOR.
struct Solid {
    gfx::Shader shd;
    gfx::Pipeline pip;
};
Solid make_solid(PixelFormat color = PixelFormat::BGRA8, PixelFormat depth = PixelFormat::None, int samples = 1,
                 gfx::CullMode cull = gfx::CullMode::None, gfx::FaceWinding winding = gfx::FaceWinding::Default) {
    Solid s;
    s.shd = make_shader(VS_CLIP2, FS_UCOLOR, 16, "fs_color");
    s.pip = make_pipeline2(s.shd, color, depth, samples, cull, winding);
    return s;
}

void draw_solid(const Solid& s, gfx::Buffer vb, int vertices, gfx::Color c) {
    gfx::apply_pipeline(s.pip);
    gfx::Bindings b{};
    b.vertex_buffers[0] = vb;
    gfx::apply_bindings(b);
    gfx::apply_uniforms(gfx::ShaderStage::Fs, 0, &c, sizeof c);
    gfx::draw(0, vertices, 1);
}

// Inside a pass: the unit quad over the whole target, sampling `src` at uv (VS_QUAD).
void draw_sampling_quad(PixelFormat depth, gfx::Image src) {
    gfx::PipelineDesc pd{};
    pd.shader = make_shader(VS_QUAD, FS_TEXTURE, 0, nullptr, "tex");
    pd.layout.attrs[0].format = gfx::VertexFormat::Float2;
    pd.index_type = gfx::IndexType::Uint16;
    pd.depth.pixel_format = depth;
    gfx::apply_pipeline(gfx::make_pipeline(pd));
    gfx::Bindings b{};
    b.vertex_buffers[0] = quad_vertices();
    b.index_buffer = quad_indices();
    b.fs_images[0] = src;
    gfx::apply_bindings(b);
    gfx::draw(0, 6, 1);
}

TEST_F(Draw, ClearValuesReachEveryKindOfTarget) {
    Target t = make_target(8, 4, PixelFormat::BGRA8, PixelFormat::DepthStencil);
    Target f = make_target(8, 4, PixelFormat::R32F, PixelFormat::Depth);

    gfx::PassAction a{};
    a.color = {gfx::Action::Clear, {0.2f, 0.4f, 0.6f, 0.8f}};
    a.depth = {gfx::Action::Clear, 0.25f};
    gfx::begin_pass(t.pass, a);
    gfx::end_pass();
    a.color.value = {0.75f, 0, 0, 0};
    a.depth.value = 0.5f;
    gfx::begin_pass(f.pass, a);
    gfx::end_pass();

    for (Rgba p : read_rgba8(t.color)) ASSERT_TRUE(near(p, {51, 102, 153, 204})) << p;
    for (float d : read_depth(t.depth)) ASSERT_NEAR(d, 0.25f, 1e-6f);
    for (float v : read_r32f(f.color)) ASSERT_FLOAT_EQ(v, 0.75f);
    for (float d : read_depth(f.depth)) ASSERT_FLOAT_EQ(d, 0.5f);
}

TEST_F(Draw, DefaultActionsClearToGreyAndFarDepth) {
    Target t = make_target(4, 4, PixelFormat::RGBA8, PixelFormat::Depth);
    gfx::begin_pass(t.pass, gfx::PassAction{});
    gfx::end_pass();
    for (Rgba p : read_rgba8(t.color)) ASSERT_TRUE(near(p, {128, 128, 128, 255})) << p;
    for (float d : read_depth(t.depth)) ASSERT_FLOAT_EQ(d, 1.0f);

    gfx::begin_default_pass(gfx::PassAction{}, WINDOW_W, WINDOW_H);
    gfx::end_pass();
    for (Rgba p : read_window()) ASSERT_TRUE(near({p.r, p.g, p.b, 255}, {128, 128, 128, 255})) << p;
}

TEST_F(Draw, LoadKeepsWhatThePreviousPassLeft) {
    Target t = make_target(4, 4);
    gfx::begin_pass(t.pass, clear_action({1, 0, 0, 1}));
    gfx::end_pass();
    gfx::PassAction load{};
    load.color.action = gfx::Action::Load;
    gfx::begin_pass(t.pass, load);
    gfx::end_pass();
    for (Rgba p : read_rgba8(t.color)) ASSERT_EQ(p, (Rgba{255, 0, 0, 255}));
}

TEST_F(Draw, FourSampleTargetResolvesAtEndOfPassAndSamplesAsOneImage) {
    if (!gfx::query_features().msaa_render_targets) GTEST_SKIP() << "driver has no 4-sample targets";
    constexpr int N = 16;
    Target ms = make_target(N, N, PixelFormat::BGRA8, PixelFormat::DepthStencil, 4);
    ASSERT_EQ(gfx::query_pass_state(ms.pass), gfx::ResourceState::Valid);
    Solid s = make_solid(PixelFormat::BGRA8, PixelFormat::DepthStencil, 4);
    // A triangle whose hypotenuse runs corner to corner: pixels it halves are blends.
    gfx::Buffer tri = make_vertices({-1, -1, 1, 1, 1, -1});
    gfx::begin_pass(ms.pass, clear_action({0, 0, 0, 1}));
    draw_solid(s, tri, 3, {1, 1, 1, 1});
    gfx::end_pass();

    auto px = read_rgba8(ms.color);
    int blends = 0, white = 0, black = 0;
    for (Rgba p : px) {
        if (p.r == 255) ++white;
        else if (p.r == 0) ++black;
        else ++blends;
    }
    EXPECT_GT(blends, 0) << "no edge pixel is a blend: the target was not resolved from 4 samples";
    EXPECT_GT(white, 0);
    EXPECT_GT(black, 0);

    // A later pass samples the resolved texture like any single-sample image.
    Target copy = make_target(N, N);
    gfx::begin_pass(copy.pass, clear_action({0, 0, 1, 1}));
    draw_sampling_quad(PixelFormat::None, ms.color);
    gfx::end_pass();
    EXPECT_EQ(read_rgba8(copy.color), px);
}

// ---- orientation: off-screen passes put clip y = +1 on row 0, the window's pass at the top

TEST_F(Draw, TopLeftQuarterLandsTopLeftInTargetAndWindow) {
    constexpr int N = 16;
    Target t = make_target(N, N);
    Solid s = make_solid();
    gfx::Buffer quarter = make_vertices({-1, 0, 0, 0, -1, 1, 0, 1});
    gfx::PipelineDesc strip{};
    strip.shader = s.shd;
    strip.layout.attrs[0].format = gfx::VertexFormat::Float2;
    strip.primitive_type = gfx::PrimitiveType::TriangleStrip;
    strip.depth.pixel_format = PixelFormat::None;
    gfx::Pipeline strip_pip = gfx::make_pipeline(strip);
    gfx::begin_pass(t.pass, clear_action({0, 0, 0, 1}));
    draw_solid({s.shd, strip_pip}, quarter, 4, {1, 0, 0, 1});
    gfx::end_pass();

    auto px = read_rgba8(t.color);  // texel row 0 first
    EXPECT_EQ(at(px, N, 2, 2), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(at(px, N, N - 3, 2), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(at(px, N, 2, N - 3), (Rgba{0, 0, 0, 255}));

    // Into the window through a sampling quad: still at the top-left.
    gfx::begin_default_pass(clear_action({0, 0, 1, 1}), WINDOW_W, WINDOW_H);
    draw_sampling_quad(PixelFormat::Default, t.color);  // the window's depth-stencil
    gfx::end_pass();
    auto win = read_window();
    auto rgb = [](Rgba p) { return Rgba{p.r, p.g, p.b, 0}; };
    EXPECT_EQ(rgb(at(win, WINDOW_W, 3, 3)), (Rgba{255, 0, 0, 0}));
    EXPECT_EQ(rgb(at(win, WINDOW_W, WINDOW_W - 4, 3)), (Rgba{0, 0, 0, 0}));
    EXPECT_EQ(rgb(at(win, WINDOW_W, 3, WINDOW_H - 4)), (Rgba{0, 0, 0, 0}));
}

TEST_F(Draw, FirstUploadedRowSamplesAtVZero) {
    const uint8_t rows[2][2][4] = {{{255, 0, 0, 255}, {255, 0, 0, 255}}, {{0, 255, 0, 255}, {0, 255, 0, 255}}};
    gfx::ImageDesc d{};
    d.width = d.height = 2;
    d.data.mip[0] = {rows, sizeof rows};
    d.label = "two-rows";
    gfx::Image img = gfx::make_image(d);
    const char* fs = R"(#version 450
uniform sampler2D tex;
layout(location = 0) out vec4 frag;
void main() { frag = texture(tex, vec2(0.5, 0.25)); }
)";
    Target t = make_target(2, 2);
    gfx::Shader shd = make_shader(VS_CLIP2, fs, 0, nullptr, "tex");
    gfx::Pipeline pip = make_pipeline2(shd);
    gfx::begin_pass(t.pass, clear_action({0, 0, 0, 1}));
    gfx::apply_pipeline(pip);
    gfx::Bindings b{};
    b.vertex_buffers[0] = make_vertices({-1, -1, 3, -1, -1, 3});
    b.fs_images[0] = img;
    gfx::apply_bindings(b);
    gfx::draw(0, 3, 1);
    gfx::end_pass();
    for (Rgba p : read_rgba8(t.color)) EXPECT_EQ(p, (Rgba{255, 0, 0, 255}));
}

struct WindingCase {
    const char* name;
    bool window_pass;
    bool ccw;
    bool drawn;
};

class Winding : public GfxTest, public ::testing::WithParamInterface<WindingCase> {};

TEST_P(Winding, CounterClockwiseFrontFacesSurviveBackFaceCulling) {
    const WindingCase& c = GetParam();
    Solid s = make_solid(PixelFormat::BGRA8, c.window_pass ? PixelFormat::DepthStencil : PixelFormat::None, 1,
                         gfx::CullMode::Back, gfx::FaceWinding::CCW);
    // Counter-clockwise in clip space (y up): (-1,-1) → (1,-1) → (-1,1).
    std::vector<float> tri = c.ccw ? std::vector<float>{-1, -1, 1, -1, -1, 1} : std::vector<float>{-1, -1, -1, 1, 1, -1};
    gfx::Buffer vb = make_vertices(tri);
    Target t = make_target(8, 8);
    if (c.window_pass) {
        gfx::begin_default_pass(clear_action({0, 0, 0, 1}), WINDOW_W, WINDOW_H);
    } else {
        gfx::begin_pass(t.pass, clear_action({0, 0, 0, 1}));
    }
    draw_solid(s, vb, 3, {0, 1, 0, 1});
    gfx::end_pass();
    EXPECT_EQ(gfx::query_frame_stats().draws, 1);
    Rgba corner = c.window_pass ? at(read_window(), WINDOW_W, 2, WINDOW_H - 3) : read_rgba8(t.color)[size_t(7 * 8)];
    EXPECT_EQ(corner.g == 255, c.drawn) << corner;
}

INSTANTIATE_TEST_SUITE_P(Passes, Winding,
                         ::testing::Values(WindingCase{"OffscreenCcw", false, true, true},
                                           WindingCase{"OffscreenCw", false, false, false},
                                           WindingCase{"WindowCcw", true, true, true},
                                           WindingCase{"WindowCw", true, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Draw, GeometryBehindClipDepthZeroIsClipped) {
    const char* vs = R"(#version 450
layout(location = 0) in vec2 pos;
layout(std140) uniform vs_depth { vec4 z; };
void main() { gl_Position = vec4(pos, z.x, 1.0); }
)";
    gfx::ShaderDesc sd{};
    sd.vs.source = vs;
    sd.vs.uniform_blocks[0] = {16, "vs_depth"};
    sd.fs.source = FS_UCOLOR;
    sd.fs.uniform_blocks[0] = {16, "fs_color"};
    gfx::Shader shd = gfx::make_shader(sd);
    gfx::Pipeline pip = make_pipeline2(shd);
    gfx::Buffer vb = make_vertices({-1, -1, 3, -1, -1, 3});
    Target t = make_target(4, 4);
    for (float z : {-0.25f, 0.25f}) {
        gfx::begin_pass(t.pass, clear_action({0, 0, 0, 1}));
        gfx::apply_pipeline(pip);
        gfx::Bindings b{};
        b.vertex_buffers[0] = vb;
        gfx::apply_bindings(b);
        float zu[4] = {z, 0, 0, 0};
        gfx::Color c{1, 1, 1, 1};
        gfx::apply_uniforms(gfx::ShaderStage::Vs, 0, zu, sizeof zu);
        gfx::apply_uniforms(gfx::ShaderStage::Fs, 0, &c, sizeof c);
        gfx::draw(0, 3, 1);
        gfx::end_pass();
        Rgba p = read_rgba8(t.color)[5];
        EXPECT_EQ(p.r, z < 0 ? 0 : 255) << "z/w = " << z;
    }
}

TEST_F(Draw, AlphaBlendingMixesColourAndKeepsSourceAlpha) {
    Target t = make_target(4, 4);
    Solid s = make_solid();
    gfx::PipelineDesc pd{};
    pd.shader = s.shd;
    pd.layout.attrs[0].format = gfx::VertexFormat::Float2;
    pd.depth.pixel_format = PixelFormat::None;
    pd.color.blend = gfx::alpha_blending();
    gfx::Pipeline blend = gfx::make_pipeline(pd);
    gfx::begin_pass(t.pass, clear_action({0, 0, 1, 1}));
    draw_solid({s.shd, blend}, make_vertices({-1, -1, 3, -1, -1, 3}), 3, {1, 0, 0, 0.25f});
    gfx::end_pass();
    // colour: src × 0.25 + dst × 0.75; alpha: src × 1 + dst × 0.
    for (Rgba p : read_rgba8(t.color)) ASSERT_TRUE(near(p, {64, 0, 191, 64})) << p;
}

TEST_F(Draw, DerivedOffsetsStridesAndPerInstanceStep) {
    // Buffer 0 per vertex: float2 position then float4 colour (offset 8, stride 24 derived).
    // Buffer 1 per instance: float2 shift (stride 8 derived).
    const char* vs = R"(#version 450
layout(location = 0) in vec2 pos;
layout(location = 1) in vec4 color;
layout(location = 2) in vec2 shift;
out vec4 v_color;
void main() { v_color = color; gl_Position = vec4(pos + shift, 0.5, 1.0); }
)";
    const char* fs = R"(#version 450
in vec4 v_color;
layout(location = 0) out vec4 frag;
void main() { frag = v_color; }
)";
    gfx::Shader shd = make_shader(vs, fs);
    gfx::PipelineDesc pd{};
    pd.shader = shd;
    pd.layout.attrs[0] = {0, 0, gfx::VertexFormat::Float2};
    pd.layout.attrs[1] = {0, 0, gfx::VertexFormat::Float4};
    pd.layout.attrs[2] = {1, 0, gfx::VertexFormat::Float2};
    pd.layout.buffers[1].step_func = gfx::VertexStep::PerInstance;
    pd.depth.pixel_format = PixelFormat::None;
    pd.index_type = gfx::IndexType::Uint16;
    gfx::Pipeline pip = gfx::make_pipeline(pd);
    ASSERT_EQ(gfx::query_pipeline_state(pip), gfx::ResourceState::Valid);

    // A half-size quad in the lower-left clip quarter (rows at the bottom), green.
    std::vector<float> verts;
    for (auto [x, y] : {std::pair{-1.f, 0.f}, {0.f, 0.f}, {0.f, -1.f}, {-1.f, -1.f}})
        verts.insert(verts.end(), {x, y, 0, 1, 0, 1});
    const float shifts[2] = {1, 1};  // instance 0 moves it to the top-right quarter
    gfx::BufferDesc sb{};
    sb.size = 64;
    sb.usage = gfx::Usage::Stream;
    sb.label = "shifts";
    gfx::Buffer shift_buf = gfx::make_buffer(sb);
    const float pad[6] = {};
    gfx::append_buffer(shift_buf, {pad, sizeof pad});
    int shift_offset = gfx::append_buffer(shift_buf, {shifts, sizeof shifts});
    EXPECT_EQ(shift_offset, int(sizeof pad));

    // Indices: two dummy entries first, the quad drawn from base element 2.
    const uint16_t idx[8] = {9, 9, 0, 1, 2, 0, 2, 3};
    gfx::BufferDesc ib{};
    ib.type = gfx::BufferType::IndexBuffer;
    ib.data = {idx, sizeof idx};
    constexpr int N = 8;
    Target t = make_target(N, N);
    gfx::begin_pass(t.pass, clear_action({0, 0, 0, 1}));
    gfx::apply_pipeline(pip);
    gfx::Bindings b{};
    b.vertex_buffers[0] = make_vertices(verts);
    b.vertex_buffers[1] = shift_buf;
    b.vertex_buffer_offsets[1] = shift_offset;
    b.index_buffer = gfx::make_buffer(ib);
    gfx::apply_bindings(b);
    gfx::draw(2, 6, 1);
    gfx::end_pass();
    auto px = read_rgba8(t.color);
    EXPECT_EQ(at(px, N, N - 2, 1), (Rgba{0, 255, 0, 255}));  // top-right: drawn
    EXPECT_EQ(at(px, N, 1, N - 2), (Rgba{0, 0, 0, 255}));    // bottom-left: moved away
    EXPECT_EQ(at(px, N, 1, 1), (Rgba{0, 0, 0, 255}));
}

TEST_F(Draw, EveryMipLevelHoldsItsOwnData) {
    // 4x4, 2x2, 1x1 levels filled with 10, 20, 30; textureLod reads each.
    std::vector<uint8_t> levels[3];
    gfx::ImageDesc d{};
    d.width = d.height = 4;
    d.num_mipmaps = 3;
    d.min_filter = gfx::Filter::NearestMipmapNearest;
    for (int i = 0; i < 3; ++i) {
        int side = 4 >> i;
        levels[i].assign(size_t(side * side * 4), uint8_t(10 * (i + 1)));
        d.data.mip[i] = {levels[i].data(), levels[i].size()};
    }
    gfx::Image img = gfx::make_image(d);
    ASSERT_EQ(gfx::query_image_state(img), gfx::ResourceState::Valid);
    const char* fs = R"(#version 450
uniform sampler2D tex;
layout(std140) uniform fs_lod { vec4 lod; };
layout(location = 0) out vec4 frag;
void main() { frag = textureLod(tex, vec2(0.5), lod.x); }
)";
    gfx::Shader shd = make_shader(VS_CLIP2, fs, 16, "fs_lod", "tex");
    gfx::Pipeline pip = make_pipeline2(shd);
    Target t = make_target(2, 2);
    gfx::Buffer vb = make_vertices({-1, -1, 3, -1, -1, 3});
    for (int level = 0; level < 3; ++level) {
        gfx::begin_pass(t.pass, clear_action({0, 0, 0, 0}));
        gfx::apply_pipeline(pip);
        gfx::Bindings b{};
        b.vertex_buffers[0] = vb;
        b.fs_images[0] = img;
        gfx::apply_bindings(b);
        float lod[4] = {float(level), 0, 0, 0};
        gfx::apply_uniforms(gfx::ShaderStage::Fs, 0, lod, sizeof lod);
        gfx::draw(0, 3, 1);
        gfx::end_pass();
        EXPECT_EQ(read_rgba8(t.color)[0].r, 10 * (level + 1)) << "level " << level;
    }
}

}  // namespace

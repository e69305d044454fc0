// Frame rules: uniform blocks at their std140 offsets, draws skipped for wrong
// uniform sizes, overflowed stream buffers, bad images, format mismatches and
// invalid passes, and the once-per-frame image update.
#include <string>

#include "gfx_fixture.h"

using namespace gfxtest;
using gfx::PixelFormat;
using gfx::SkipReason;

namespace {

class Frame : public GfxTest {};

const std::vector<float> FULL_TRIANGLE = {-1, -1, 3, -1, -1, 3};

// ---- uniform blocks: every member reads back what the CPU wrote at its offset

struct BlockDecl {
    const char* name;
    size_t size;
    const char* members;
};

const BlockDecl LIGHT_PARAMS = {"light_params", 160,
                                "vec4 light_pos[4]; vec4 light_color[4]; float extra; vec2 shadowMapSize; vec3 lightDir;"};
const BlockDecl METALLIC_PARAMS = {"metallic_params", 48,
                                   "vec4 base_color_factor; vec3 emissive_factor; float metallic_factor; float roughness_factor;"};
const BlockDecl VS_SHAPE_PARAMS = {"vs_shape_params", 96, "mat4 wvp; vec3 cam_pos; float thick; float pixel_scale;"};
const BlockDecl FS_COMBINE_PARAMS = {"fs_combine_params", 32,
                                     "vec2 HalfPixel; float Glow; float Vignette; float VignetteSize;"};

struct MemberCase {
    const char* name;
    gfx::ShaderStage stage;
    std::vector<BlockDecl> blocks;  // the stage's blocks 0, 1, ...
    int read_block;
    const char* expr;
    size_t offset;
};

std::string declare(const std::vector<BlockDecl>& blocks) {
    std::string s;
    for (const BlockDecl& b : blocks) s += std::string("layout(std140) uniform ") + b.name + " { " + b.members + " };\n";
    return s;
}

// Block k is filled with 1000·(k+1) + (float index), so the value names block and offset.
float fill_value(int block, size_t offset) { return float(1000 * (block + 1)) + float(offset / 4); }

class UniformMembers : public GfxTest, public ::testing::WithParamInterface<MemberCase> {};

TEST_P(UniformMembers, ShaderReadsTheValueWrittenAtTheMembersOffset) {
    const MemberCase& c = GetParam();
    bool vs_case = c.stage == gfx::ShaderStage::Vs;
    std::string vs = "#version 450\nlayout(location = 0) in vec2 pos;\nflat out float v_value;\n" +
                     (vs_case ? declare(c.blocks) : "") + "void main() { v_value = " + (vs_case ? c.expr : "0.0") +
                     "; gl_Position = vec4(pos, 0.5, 1.0); }\n";
    std::string fs = "#version 450\nflat in float v_value;\nlayout(location = 0) out vec4 frag;\n" +
                     (vs_case ? "" : declare(c.blocks)) + "void main() { frag = vec4(" + (vs_case ? "v_value" : c.expr) +
                     "); }\n";
    gfx::ShaderDesc sd{};
    sd.vs.source = vs.c_str();
    sd.fs.source = fs.c_str();
    gfx::ShaderStageDesc& stage = vs_case ? sd.vs : sd.fs;
    for (size_t k = 0; k < c.blocks.size(); ++k) stage.uniform_blocks[k] = {c.blocks[k].size, c.blocks[k].name};
    sd.label = c.name;
    gfx::Shader shd = gfx::make_shader(sd);
    ASSERT_EQ(gfx::query_shader_state(shd), gfx::ResourceState::Valid) << gfx::last_error();
    gfx::Pipeline pip = make_pipeline2(shd, PixelFormat::R32F);
    Target t = make_target(2, 2, PixelFormat::R32F);

    gfx::begin_pass(t.pass, clear_action({-1, 0, 0, 0}));
    gfx::apply_pipeline(pip);
    gfx::Bindings b{};
    b.vertex_buffers[0] = make_vertices(FULL_TRIANGLE);
    gfx::apply_bindings(b);
    for (size_t k = 0; k < c.blocks.size(); ++k) {
        std::vector<float> data(c.blocks[k].size / 4);
        for (size_t i = 0; i < data.size(); ++i) data[i] = fill_value(int(k), i * 4);
        gfx::apply_uniforms(c.stage, int(k), data.data(), c.blocks[k].size);
    }
    gfx::draw(0, 3, 1);
    gfx::end_pass();
    EXPECT_EQ(gfx::query_frame_stats().draws, 1);
    EXPECT_EQ(read_r32f(t.color)[0], fill_value(c.read_block, c.offset));
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, UniformMembers,
    ::testing::Values(
        MemberCase{"light_pos_1_w", gfx::ShaderStage::Fs, {LIGHT_PARAMS}, 0, "light_pos[1].w", 28},
        MemberCase{"light_color_2_y", gfx::ShaderStage::Fs, {LIGHT_PARAMS}, 0, "light_color[2].y", 100},
        MemberCase{"extra", gfx::ShaderStage::Fs, {LIGHT_PARAMS}, 0, "extra", 128},
        MemberCase{"shadowMapSize_x", gfx::ShaderStage::Fs, {LIGHT_PARAMS}, 0, "shadowMapSize.x", 136},
        MemberCase{"shadowMapSize_y", gfx::ShaderStage::Fs, {LIGHT_PARAMS}, 0, "shadowMapSize.y", 140},
        MemberCase{"lightDir_z", gfx::ShaderStage::Fs, {LIGHT_PARAMS}, 0, "lightDir.z", 152},
        MemberCase{"metallic_factor_in_block_1", gfx::ShaderStage::Fs, {LIGHT_PARAMS, METALLIC_PARAMS}, 1,
                   "metallic_factor", 28},
        MemberCase{"roughness_factor_in_block_1", gfx::ShaderStage::Fs, {LIGHT_PARAMS, METALLIC_PARAMS}, 1,
                   "roughness_factor", 32},
        MemberCase{"wvp_column_3_row_1", gfx::ShaderStage::Vs, {VS_SHAPE_PARAMS}, 0, "wvp[3][1]", 52},
        MemberCase{"cam_pos_z", gfx::ShaderStage::Vs, {VS_SHAPE_PARAMS}, 0, "cam_pos.z", 72},
        MemberCase{"thick_after_float3", gfx::ShaderStage::Vs, {VS_SHAPE_PARAMS}, 0, "thick", 76},
        MemberCase{"pixel_scale", gfx::ShaderStage::Vs, {VS_SHAPE_PARAMS}, 0, "pixel_scale", 80},
        MemberCase{"Glow", gfx::ShaderStage::Fs, {FS_COMBINE_PARAMS}, 0, "Glow", 8},
        MemberCase{"VignetteSize", gfx::ShaderStage::Fs, {FS_COMBINE_PARAMS}, 0, "VignetteSize", 16}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- skipped draws leave the target as it was and raise no GL error

// A red full-target triangle, drawn through a plain solid-colour pipeline.
struct Scene {
    Target target;
    gfx::Shader shd;
    gfx::Pipeline pip;
    gfx::Buffer vb;
};

Scene make_scene(PixelFormat color = PixelFormat::BGRA8, PixelFormat depth = PixelFormat::None, int samples = 1) {
    Scene s;
    s.target = make_target(4, 4, color, depth, samples);
    s.shd = make_shader(VS_CLIP2, FS_UCOLOR, 16, "fs_color");
    s.pip = make_pipeline2(s.shd, color, depth, samples);
    s.vb = make_vertices(FULL_TRIANGLE);
    EXPECT_EQ(gfx::query_pipeline_state(s.pip), gfx::ResourceState::Valid) << gfx::last_error();
    return s;
}

void draw_red(gfx::Pipeline pip, gfx::Buffer vb, size_t uniform_size = 16, int vb_offset = 0) {
    gfx::apply_pipeline(pip);
    gfx::Bindings b{};
    b.vertex_buffers[0] = vb;
    b.vertex_buffer_offsets[0] = vb_offset;
    gfx::apply_bindings(b);
    const float red[8] = {1, 0, 0, 1};
    gfx::apply_uniforms(gfx::ShaderStage::Fs, 0, red, uniform_size);
    gfx::draw(0, 3, 1);
}

bool target_is_red(const Target& t) { return read_rgba8(t.color)[5] == Rgba{255, 0, 0, 255}; }

TEST_F(Frame, UniformsOfTheWrongSizeSkipTheNextDrawOnly) {
    Scene s = make_scene();
    gfx::begin_pass(s.target.pass, clear_action({0, 0, 0, 1}));
    draw_red(s.pip, s.vb, 32);  // fs_color is 16 bytes
    draw_red(s.pip, s.vb, 8);   // fewer is as wrong as more
    EXPECT_EQ(gfx::query_frame_stats().skipped_by_reason[int(SkipReason::UniformSize)], 2);
    EXPECT_EQ(gfx::query_frame_stats().draws, 0);
    gfx::end_pass();
    EXPECT_FALSE(target_is_red(s.target));

    gfx::begin_pass(s.target.pass, clear_action({0, 0, 0, 1}));
    gfx::apply_pipeline(s.pip);
    gfx::Bindings b{};
    b.vertex_buffers[0] = s.vb;
    gfx::apply_bindings(b);
    const float red[4] = {1, 0, 0, 1};
    gfx::apply_uniforms(gfx::ShaderStage::Fs, 1, red, sizeof red);  // no block 1
    gfx::draw(0, 3, 1);
    EXPECT_EQ(gfx::query_frame_stats().skipped_by_reason[int(SkipReason::UniformSize)], 3);
    draw_red(s.pip, s.vb);
    gfx::end_pass();
    EXPECT_EQ(gfx::query_frame_stats().draws, 1);
    EXPECT_TRUE(target_is_red(s.target));
}

TEST_F(Frame, OverflowedStreamBufferSkipsItsDrawsUntilTheFrameEnds) {
    Scene s = make_scene();
    gfx::BufferDesc d{};
    d.size = FULL_TRIANGLE.size() * sizeof(float);  // room for one triangle
    d.usage = gfx::Usage::Stream;
    d.label = "stream-vertices";
    gfx::Buffer stream = gfx::make_buffer(d);
    const gfx::Range tri = {FULL_TRIANGLE.data(), d.size};

    EXPECT_EQ(gfx::append_buffer(stream, tri), 0);
    gfx::begin_pass(s.target.pass, clear_action({0, 0, 0, 1}));
    draw_red(s.pip, stream);
    EXPECT_EQ(gfx::query_frame_stats().draws, 1);
    gfx::append_buffer(stream, tri);  // does not fit
    EXPECT_TRUE(gfx::query_buffer_overflow(stream));
    draw_red(s.pip, stream);  // the data of the first append is still there, but the buffer is spoiled
    draw_red(s.pip, s.vb);    // other buffers draw on
    gfx::end_pass();
    gfx::begin_pass(s.target.pass, clear_action({0, 0, 0, 1}));
    draw_red(s.pip, stream);  // a later pass of the same frame
    gfx::end_pass();
    gfx::FrameStats fs = gfx::query_frame_stats();
    EXPECT_EQ(fs.draws, 2);
    EXPECT_EQ(fs.skipped_by_reason[int(SkipReason::BufferOverflow)], 2);
    EXPECT_FALSE(target_is_red(s.target));

    gfx::commit();
    EXPECT_FALSE(gfx::query_buffer_overflow(stream));
    EXPECT_EQ(gfx::append_buffer(stream, tri), 0);
    gfx::begin_pass(s.target.pass, clear_action({0, 0, 0, 1}));
    draw_red(s.pip, stream);
    gfx::end_pass();
    EXPECT_EQ(gfx::query_frame_stats().draws, 1);
    EXPECT_TRUE(target_is_red(s.target));
}

// Per-frame buffers write each frame's data apart from what the GPU may still
// read; draws always see the data written last, however many frames ago.
TEST_F(Frame, PerFrameBuffersDrawWhatWasWrittenLast) {
    const std::vector<float> away = {5, 5, 6, 5, 5, 6};  // outside the target
    for (gfx::Usage usage : {gfx::Usage::Dynamic, gfx::Usage::Stream}) {
        Scene s = make_scene();
        gfx::BufferDesc d{};
        d.size = FULL_TRIANGLE.size() * sizeof(float);
        d.usage = usage;
        d.data = {FULL_TRIANGLE.data(), d.size};
        gfx::Buffer vb = gfx::make_buffer(d);
        auto write = [&](const std::vector<float>& tri) {
            const gfx::Range r = {tri.data(), tri.size() * sizeof(float)};
            if (usage == gfx::Usage::Dynamic) {
                gfx::update_buffer(vb, r);
            } else {
                EXPECT_EQ(gfx::append_buffer(vb, r), 0);
            }
        };
        // per frame: what is written before the draw (nothing when null), and whether the draw is red
        const struct {
            const std::vector<float>* written;
            bool red;
        } frames[] = {{nullptr, true}, {&away, false}, {nullptr, false}, {nullptr, false}, {nullptr, false},
                      {&FULL_TRIANGLE, true}, {nullptr, true}, {&away, false}, {&FULL_TRIANGLE, true}};
        int index = 0;
        for (const auto& f : frames) {
            if (f.written) write(*f.written);
            gfx::begin_pass(s.target.pass, clear_action({0, 0, 0, 1}));
            draw_red(s.pip, vb);
            gfx::end_pass();
            EXPECT_EQ(gfx::query_frame_stats().draws, 1);
            EXPECT_EQ(target_is_red(s.target), f.red) << (usage == gfx::Usage::Dynamic ? "dynamic" : "stream")
                                                      << " buffer, frame " << index;
            gfx::commit();
            ++index;
        }
    }
}

TEST_F(Frame, AppendsReturnAlignedOffsetsThatStartOverEachFrame) {
    gfx::BufferDesc d{};
    d.size = 64;
    d.usage = gfx::Usage::Stream;
    gfx::Buffer buf = gfx::make_buffer(d);
    const uint8_t bytes[40] = {};
    EXPECT_EQ(gfx::append_buffer(buf, {bytes, 10}), 0);
    EXPECT_EQ(gfx::append_buffer(buf, {bytes, 10}), 12);
    EXPECT_EQ(gfx::append_buffer(buf, {bytes, 40}), 24);
    EXPECT_FALSE(gfx::query_buffer_overflow(buf));  // ends exactly at 64
    gfx::commit();
    EXPECT_EQ(gfx::append_buffer(buf, {bytes, 4}), 0);
}

struct BadImageCase {
    const char* name;
    enum { AllocOnly, Failed, Destroyed, Zero, OwnAttachment } kind;
};

class BadImages : public GfxTest, public ::testing::WithParamInterface<BadImageCase> {};

TEST_P(BadImages, DrawThatSamplesThemIsSkipped) {
    Target t = make_target(4, 4);
    gfx::Image img{};
    const uint8_t px[4] = {255, 255, 255, 255};
    gfx::ImageDesc good{};
    good.width = good.height = 1;
    good.data.mip[0] = {px, sizeof px};
    switch (GetParam().kind) {
        case BadImageCase::AllocOnly: img = gfx::alloc_image(); break;
        case BadImageCase::Failed: {
            gfx::ImageDesc bad = good;
            bad.data.mip[0].size = 3;
            img = gfx::make_image(bad);
            break;
        }
        case BadImageCase::Destroyed:
            img = gfx::make_image(good);
            gfx::destroy_image(img);
            break;
        case BadImageCase::Zero: break;
        case BadImageCase::OwnAttachment: img = t.color; break;
    }
    const char* fs = R"(#version 450
uniform sampler2D tex;
layout(location = 0) out vec4 frag;
void main() { frag = texture(tex, vec2(0.5)); }
)";
    gfx::Shader shd = make_shader(VS_CLIP2, fs, 0, nullptr, "tex");
    gfx::Pipeline pip = make_pipeline2(shd);
    ASSERT_EQ(gfx::query_pipeline_state(pip), gfx::ResourceState::Valid) << gfx::last_error();
    gfx::begin_pass(t.pass, clear_action({0, 0, 0, 1}));
    gfx::apply_pipeline(pip);
    gfx::Bindings b{};
    b.vertex_buffers[0] = make_vertices(FULL_TRIANGLE);
    b.fs_images[0] = img;
    gfx::apply_bindings(b);
    gfx::draw(0, 3, 1);
    gfx::end_pass();
    EXPECT_EQ(gfx::query_frame_stats().skipped_by_reason[int(SkipReason::InvalidBindings)], 1);
    EXPECT_EQ(gfx::query_frame_stats().draws, 0);
    EXPECT_EQ(read_rgba8(t.color)[5], (Rgba{0, 0, 0, 255}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, BadImages,
                         ::testing::Values(BadImageCase{"NeverInitialised", BadImageCase::AllocOnly},
                                           BadImageCase{"Failed", BadImageCase::Failed},
                                           BadImageCase{"Destroyed", BadImageCase::Destroyed},
                                           BadImageCase{"HandleZero", BadImageCase::Zero},
                                           BadImageCase{"TheTargetItself", BadImageCase::OwnAttachment}),
                         [](const auto& info) { return std::string(info.param.name); });

struct MismatchCase {
    const char* name;
    PixelFormat pass_color, pass_depth;
    int pass_samples;
    PixelFormat pip_color, pip_depth;
    int pip_samples;
};

class Mismatch : public GfxTest, public ::testing::WithParamInterface<MismatchCase> {};

TEST_P(Mismatch, PipelineIsRefusedInThePass) {
    const MismatchCase& c = GetParam();
    if (c.pass_samples > 1 && !gfx::query_features().msaa_render_targets) GTEST_SKIP();
    Scene s = make_scene(c.pass_color, c.pass_depth, c.pass_samples);
    gfx::Pipeline wrong = make_pipeline2(s.shd, c.pip_color, c.pip_depth, c.pip_samples);
    ASSERT_EQ(gfx::query_pipeline_state(wrong), gfx::ResourceState::Valid);
    gfx::begin_pass(s.target.pass, clear_action({0, 0, 0, 1}));
    draw_red(wrong, s.vb);
    EXPECT_EQ(gfx::query_frame_stats().skipped_by_reason[int(SkipReason::PassMismatch)], 1);
    draw_red(s.pip, s.vb);  // the matching pipeline still draws in the same pass
    gfx::end_pass();
    EXPECT_EQ(gfx::query_frame_stats().draws, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Mismatch,
    ::testing::Values(
        MismatchCase{"ColorFormat", PixelFormat::BGRA8, PixelFormat::None, 1, PixelFormat::R32F, PixelFormat::None, 1},
        MismatchCase{"RgbaIntoBgra", PixelFormat::BGRA8, PixelFormat::None, 1, PixelFormat::RGBA8, PixelFormat::None, 1},
        MismatchCase{"DepthIntoColourOnly", PixelFormat::BGRA8, PixelFormat::None, 1, PixelFormat::BGRA8,
                     PixelFormat::DepthStencil, 1},
        MismatchCase{"NoDepthIntoDepthPass", PixelFormat::BGRA8, PixelFormat::DepthStencil, 1, PixelFormat::BGRA8,
                     PixelFormat::None, 1},
        MismatchCase{"DepthWithoutStencil", PixelFormat::R32F, PixelFormat::DepthStencil, 1, PixelFormat::R32F,
                     PixelFormat::Depth, 1},
        MismatchCase{"SingleSampleIntoFour", PixelFormat::BGRA8, PixelFormat::DepthStencil, 4, PixelFormat::BGRA8,
                     PixelFormat::DepthStencil, 1},
        MismatchCase{"FourSamplesIntoOne", PixelFormat::BGRA8, PixelFormat::DepthStencil, 1, PixelFormat::BGRA8,
                     PixelFormat::DepthStencil, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Frame, WindowPassTakesOnlyWindowFormats) {
    Scene s = make_scene();  // colour-only pipeline
    gfx::Pipeline window_pip = make_pipeline2(s.shd, PixelFormat::Default, PixelFormat::Default, 0);
    gfx::begin_default_pass(clear_action({0, 0, 0, 1}), WINDOW_W, WINDOW_H);
    draw_red(s.pip, s.vb);
    draw_red(window_pip, s.vb);
    gfx::end_pass();
    EXPECT_EQ(gfx::query_frame_stats().skipped_by_reason[int(SkipReason::PassMismatch)], 1);
    EXPECT_EQ(gfx::query_frame_stats().draws, 1);
}

TEST_F(Frame, InvalidPassIgnoresEverythingUntilItEnds) {
    Scene s = make_scene();
    gfx::ImageDesc bad{};
    bad.render_target = true;
    bad.width = 0;  // fails
    gfx::PassDesc pd{};
    pd.color_attachment.image = gfx::make_image(bad);
    gfx::Pass failed = gfx::make_pass(pd);
    ASSERT_EQ(gfx::query_pass_state(failed), gfx::ResourceState::Failed);

    // A pass that was valid until one of its images went away.
    Target orphan = make_target(4, 4);
    gfx::destroy_image(orphan.color);

    for (gfx::Pass p : {failed, orphan.pass, gfx::Pass{}}) {
        gfx::begin_pass(p, clear_action({0, 0, 0, 1}));
        draw_red(s.pip, s.vb);
        gfx::end_pass();
    }
    gfx::FrameStats fs = gfx::query_frame_stats();
    EXPECT_EQ(fs.skipped_by_reason[int(SkipReason::NoPass)], 3);
    EXPECT_EQ(fs.applies_ignored, 3 * 3);
    EXPECT_EQ(fs.draws, 0);

    gfx::begin_pass(s.target.pass, clear_action({0, 0, 0, 1}));
    draw_red(s.pip, s.vb);
    gfx::end_pass();
    EXPECT_TRUE(target_is_red(s.target));
}

TEST_F(Frame, DrawsOutsideAPassAreSkipped) {
    Scene s = make_scene();
    draw_red(s.pip, s.vb);
    EXPECT_EQ(gfx::query_frame_stats().skipped_by_reason[int(SkipReason::NoPass)], 1);
}

TEST_F(Frame, StreamImageTakesOneUpdatePerFrame) {
    gfx::ImageDesc d{};
    d.width = 4;
    d.height = 1;
    d.usage = gfx::Usage::Stream;
    d.pixel_format = PixelFormat::R32F;
    d.label = "fft";
    gfx::Image img = gfx::make_image(d);
    ASSERT_EQ(gfx::query_image_state(img), gfx::ResourceState::Valid);
    const float first[4] = {1, 2, 3, 4}, second[4] = {5, 6, 7, 8};
    gfx::ImageData a{}, b{};
    a.mip[0] = {first, sizeof first};
    b.mip[0] = {second, sizeof second};
    gfx::update_image(img, a);
    gfx::update_image(img, b);  // ignored: second in this frame
    EXPECT_EQ(read_r32f(img), (std::vector<float>{1, 2, 3, 4}));
    gfx::commit();
    gfx::update_image(img, b);
    EXPECT_EQ(read_r32f(img), (std::vector<float>{5, 6, 7, 8}));
}

TEST_F(Frame, ImmutableImageIgnoresUpdates) {
    const float v[1] = {3};
    gfx::ImageDesc d{};
    d.width = d.height = 1;
    d.pixel_format = PixelFormat::R32F;
    d.data.mip[0] = {v, sizeof v};
    gfx::Image img = gfx::make_image(d);
    const float w[1] = {9};
    gfx::ImageData data{};
    data.mip[0] = {w, sizeof w};
    gfx::update_image(img, data);
    EXPECT_EQ(read_r32f(img), (std::vector<float>{3}));
}

class SmallRing : public GfxTest {
protected:
    gfx::Desc desc() override {
        gfx::Desc d{};
        d.uniform_buffer_size = 2 * gfx::UNIFORM_ALIGNMENT;
        return d;
    }
};

TEST_F(SmallRing, DrawsPastTheFramesUniformSpaceAreSkippedAndTheNextFrameHasItAgain) {
    Scene s = make_scene();
    for (int frame = 0; frame < 4; ++frame) {  // more frames than ring regions
        gfx::begin_pass(s.target.pass, clear_action({0, 0, 0, 1}));
        for (int i = 0; i < 3; ++i) draw_red(s.pip, s.vb);
        gfx::end_pass();
        gfx::FrameStats fs = gfx::query_frame_stats();
        EXPECT_EQ(fs.draws, 2) << "frame " << frame;
        EXPECT_EQ(fs.skipped_by_reason[int(SkipReason::UniformRingFull)], 1);
        EXPECT_TRUE(target_is_red(s.target));
        gfx::commit();
    }
}

}  // namespace

// Object lifetimes: handles, states, destroy rules, pool limits, and the
// descriptions that are refused with a message naming what was wrong.
#include <functional>
#include <string>

#include "gfx_fixture.h"

using namespace gfxtest;
using gfx::PixelFormat;
using gfx::ResourceState;

namespace {

class Resources : public GfxTest {};

const float TRI[6] = {-1, -1, 3, -1, -1, 3};

gfx::BufferDesc vertex_desc() {
    gfx::BufferDesc d{};
    d.data = {TRI, sizeof TRI};
    return d;
}

gfx::ImageDesc target_desc() {
    gfx::ImageDesc d{};
    d.render_target = true;
    d.width = d.height = 4;
    return d;
}

// One kind of object, seen through type-erased make / destroy / query.
struct Kind {
    const char* name;
    std::function<uint32_t()> make;
    std::function<void(uint32_t)> destroy;
    std::function<ResourceState(uint32_t)> query;
};

std::vector<Kind> kinds() {
    return {
        {"buffer", [] { return gfx::make_buffer(vertex_desc()).id; }, [](uint32_t id) { gfx::destroy_buffer({id}); },
         [](uint32_t id) { return gfx::query_buffer_state({id}); }},
        {"image", [] { return gfx::make_image(target_desc()).id; }, [](uint32_t id) { gfx::destroy_image({id}); },
         [](uint32_t id) { return gfx::query_image_state({id}); }},
        {"shader", [] { return make_shader(VS_CLIP2, FS_UCOLOR, 16, "fs_color").id; },
         [](uint32_t id) { gfx::destroy_shader({id}); }, [](uint32_t id) { return gfx::query_shader_state({id}); }},
        {"pipeline", [] { return make_pipeline2(make_shader(VS_CLIP2, FS_UCOLOR, 16, "fs_color")).id; },
         [](uint32_t id) { gfx::destroy_pipeline({id}); }, [](uint32_t id) { return gfx::query_pipeline_state({id}); }},
        {"pass",
         [] {
             gfx::PassDesc p{};
             p.color_attachment.image = gfx::make_image(target_desc());
             return gfx::make_pass(p).id;
         },
         [](uint32_t id) { gfx::destroy_pass({id}); }, [](uint32_t id) { return gfx::query_pass_state({id}); }},
    };
}

TEST_F(Resources, DestroyingZeroUnknownOrDeadHandlesIsHarmless) {
    for (const Kind& k : kinds()) {
        SCOPED_TRACE(k.name);
        k.destroy(0);
        k.destroy(0x00070005u);  // never made
        uint32_t a = k.make();
        ASSERT_EQ(k.query(a), ResourceState::Valid) << gfx::last_error();
        k.destroy(a);
        EXPECT_EQ(k.query(a), ResourceState::Invalid);
        // The freed slot is reused by the next object; the old handle must not reach it.
        uint32_t b = k.make();
        EXPECT_EQ(b & 0xffff, a & 0xffff) << "slot reuse expected";
        EXPECT_NE(a, b);
        k.destroy(a);
        EXPECT_EQ(k.query(b), ResourceState::Valid);
        EXPECT_EQ(k.query(0), ResourceState::Invalid);
    }
}

TEST_F(Resources, AllocThenInitGoesThroughAlloc) {
    gfx::Buffer b = gfx::alloc_buffer();
    EXPECT_NE(b.id, 0u);
    EXPECT_EQ(gfx::query_buffer_state(b), ResourceState::Alloc);
    gfx::init_buffer(b, vertex_desc());
    EXPECT_EQ(gfx::query_buffer_state(b), ResourceState::Valid);
    gfx::BufferDesc empty{};
    gfx::init_buffer(b, empty);  // a second init leaves the object alone
    EXPECT_EQ(gfx::query_buffer_state(b), ResourceState::Valid);
    gfx::destroy_buffer(b);
    gfx::init_buffer(b, vertex_desc());  // nor does an init of a dead handle revive it
    EXPECT_EQ(gfx::query_buffer_state(b), ResourceState::Invalid);
}

TEST_F(Resources, DefaultPixelFormatsAndImageInfo) {
    gfx::ImageDesc plain{};
    plain.width = 2;
    plain.height = 1;
    const uint8_t px[8] = {};
    plain.data.mip[0] = {px, sizeof px};
    gfx::ImageInfo a = gfx::query_image_info(gfx::make_image(plain));
    EXPECT_EQ(a.pixel_format, PixelFormat::RGBA8);
    EXPECT_EQ(a.width, 2);
    EXPECT_EQ(a.sample_count, 1);
    gfx::ImageInfo t = gfx::query_image_info(gfx::make_image(target_desc()));
    EXPECT_EQ(t.pixel_format, PixelFormat::BGRA8);
    EXPECT_TRUE(t.render_target);
    EXPECT_EQ(gfx::query_image_info(gfx::Image{}).width, 0);
}

class TinyPools : public GfxTest {
protected:
    gfx::Desc desc() override {
        gfx::Desc d{};
        d.buffer_pool_size = 2;
        return d;
    }
};

TEST_F(TinyPools, FullPoolGivesHandleZeroAndADestroyMakesRoom) {
    gfx::Buffer a = gfx::make_buffer(vertex_desc());
    gfx::Buffer b = gfx::make_buffer(vertex_desc());
    gfx::Buffer c = gfx::make_buffer(vertex_desc());
    EXPECT_EQ(gfx::query_buffer_state(b), ResourceState::Valid);
    EXPECT_EQ(c.id, 0u);
    EXPECT_EQ(gfx::query_buffer_state(c), ResourceState::Invalid);
    gfx::destroy_buffer(a);
    EXPECT_EQ(gfx::query_buffer_state(gfx::make_buffer(vertex_desc())), ResourceState::Valid);
}

// ---- refused descriptions: Failed, and the message says what and where

struct RefusalCase {
    const char* name;
    std::function<ResourceState()> make;  // makes the object, returns its state
    const char* message_part;
};

class Refusals : public GfxTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, ObjectIsFailedWithAClearMessage) {
    const RefusalCase& c = GetParam();
    EXPECT_EQ(c.make(), ResourceState::Failed);
    EXPECT_NE(std::string(gfx::last_error()).find(c.message_part), std::string::npos) << gfx::last_error();
}

ResourceState image_state(gfx::ImageDesc d) { return gfx::query_image_state(gfx::make_image(d)); }

ResourceState shader_state(const char* vs, const char* fs, size_t ub_size, const char* ub_name) {
    gfx::ShaderDesc d{};
    d.vs.source = vs;
    d.fs.source = fs;
    d.fs.uniform_blocks[0] = {ub_size, ub_name};
    d.label = "probe_shader";
    return gfx::query_shader_state(gfx::make_shader(d));
}

const char* const FS_LIGHT = R"(#version 450
layout(std140) uniform light_params { vec4 light_pos[4]; vec4 light_color[4]; float extra; vec2 shadowMapSize; vec3 lightDir; };
layout(location = 0) out vec4 frag;
void main() { frag = vec4(lightDir, extra); }
)";

const uint8_t PIXELS[64 * 4] = {};

INSTANTIATE_TEST_SUITE_P(
    Descriptions, Refusals,
    ::testing::Values(
        RefusalCase{"ImmutableBufferWithoutData",
                    [] {
                        gfx::BufferDesc d{};
                        d.size = 16;
                        d.label = "quad";
                        return gfx::query_buffer_state(gfx::make_buffer(d));
                    },
                    "buffer 'quad': an immutable buffer needs its data"},
        RefusalCase{"BufferDataLargerThanSize",
                    [] {
                        gfx::BufferDesc d = vertex_desc();
                        d.size = 8;
                        return gfx::query_buffer_state(gfx::make_buffer(d));
                    },
                    "24 bytes of data exceed its size 8"},
        RefusalCase{"MissingMipLevel",
                    [] {
                        gfx::ImageDesc d{};
                        d.width = d.height = 4;
                        d.num_mipmaps = 3;
                        d.label = "cheese";
                        d.data.mip[0] = {PIXELS, 64};
                        d.data.mip[1] = {PIXELS, 16};
                        return image_state(d);
                    },
                    "image 'cheese': mip level 2 of 3 has no data"},
        RefusalCase{"MipLevelOfWrongSize",
                    [] {
                        gfx::ImageDesc d{};
                        d.width = 4;
                        d.height = 2;
                        d.num_mipmaps = 2;
                        d.data.mip[0] = {PIXELS, 32};
                        d.data.mip[1] = {PIXELS, 16};
                        return image_state(d);
                    },
                    "mip level 1 holds 16 bytes, 8 expected for 2x1"},
        RefusalCase{"MoreLevelsThanTheChain",
                    [] {
                        gfx::ImageDesc d = target_desc();
                        d.num_mipmaps = 4;
                        return image_state(d);
                    },
                    "4 mip levels, a 4x4 image has 1..3"},
        RefusalCase{"ZeroSize",
                    [] {
                        gfx::ImageDesc d = target_desc();
                        d.height = 0;
                        return image_state(d);
                    },
                    "size 4x0"},
        RefusalCase{"MultisampledPlainImage",
                    [] {
                        gfx::ImageDesc d{};
                        d.width = d.height = 1;
                        d.sample_count = 4;
                        d.data.mip[0] = {PIXELS, 4};
                        return image_state(d);
                    },
                    "sample count 4"},
        RefusalCase{"CompileError", [] { return shader_state(VS_CLIP2, "#version 450\nvoid main() { oops; }\n", 0, nullptr); },
                    "shader 'probe_shader': fragment stage does not compile"},
        RefusalCase{"MissingSource", [] { return shader_state(nullptr, FS_UCOLOR, 16, "fs_color"); },
                    "no vertex source"},
        RefusalCase{"LinkError",
                    [] {
                        return shader_state(VS_CLIP2, "#version 450\nin vec3 missing;\nout vec4 f;\nvoid main() { f = vec4(missing, 1); }\n",
                                            0, nullptr);
                    },
                    "program does not link"},
        RefusalCase{"BlockLargerThanDeclared", [] { return shader_state(VS_CLIP2, FS_LIGHT, 144, "light_params"); },
                    "uniform block 'light_params' takes 160 bytes, 144 declared"},
        RefusalCase{"BlockNotDeclared", [] { return shader_state(VS_CLIP2, FS_LIGHT, 0, nullptr); },
                    "uniform block 'light_params' sits at binding 0, where no block is declared"},
        RefusalCase{"PipelineOfAFailedShader",
                    [] {
                        gfx::PipelineDesc d{};
                        d.shader = make_shader(VS_CLIP2, "#version 450\nbroken", 0, nullptr);
                        d.label = "scene";
                        return gfx::query_pipeline_state(gfx::make_pipeline(d));
                    },
                    "pipeline 'scene': its shader is not valid"},
        RefusalCase{"PassOverAPlainImage",
                    [] {
                        gfx::ImageDesc d{};
                        d.width = d.height = 1;
                        d.data.mip[0] = {PIXELS, 4};
                        gfx::PassDesc p{};
                        p.color_attachment.image = gfx::make_image(d);
                        p.label = "offscreen-pass";
                        return gfx::query_pass_state(gfx::make_pass(p));
                    },
                    "pass 'offscreen-pass': colour attachment is not a valid colour render target"},
        RefusalCase{"PassWithDepthOfAnotherSize",
                    [] {
                        gfx::ImageDesc d = target_desc();
                        gfx::PassDesc p{};
                        p.color_attachment.image = gfx::make_image(d);
                        d.pixel_format = PixelFormat::DepthStencil;
                        d.width = 8;
                        p.depth_stencil_attachment.image = gfx::make_image(d);
                        return gfx::query_pass_state(gfx::make_pass(p));
                    },
                    "depth attachment 8x4 (1 samples) differs from colour 4x4 (1 samples)"}),
    [](const auto& info) { return std::string(info.param.name); });

// A window wider than the driver's texture limit refuses its colour image: the
// show then draws nothing, so the first refusal of each kind says why.
TEST_F(Resources, FirstRefusalOfEachKindPrintsOneLine) {
    GLint max_size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
    gfx::ImageDesc wide = target_desc();
    wide.width = max_size + 1;
    wide.label = "color-image";
    const std::string size = std::to_string(max_size + 1) + "x4 is outside 1.." + std::to_string(max_size);

    ::testing::internal::CaptureStderr();
    gfx::make_image(wide);
    const std::string first = ::testing::internal::GetCapturedStderr();
    ::testing::internal::CaptureStderr();
    gfx::make_image(wide);
    const std::string second = ::testing::internal::GetCapturedStderr();
    ::testing::internal::CaptureStderr();
    gfx::BufferDesc empty{};
    empty.label = "quad";
    gfx::make_buffer(empty);
    const std::string buffer = ::testing::internal::GetCapturedStderr();

#ifdef NDEBUG
    EXPECT_EQ(first, "gfx: image 'color-image': size " + size + " (further image refusals are not shown)\n");
    EXPECT_EQ(second, "") << "once per kind";
    EXPECT_EQ(buffer, "gfx: buffer 'quad': size 0 (further buffer refusals are not shown)\n");
#else
    EXPECT_EQ(first, "gfx: image 'color-image': size " + size + "\n");
    EXPECT_EQ(second, first) << "debug builds tell every refusal";
    EXPECT_EQ(buffer, "gfx: buffer 'quad': size 0\n");
#endif
}

TEST_F(Resources, DrawWithAFailedShaderIsSkipped) {
    Target t = make_target(4, 4);
    gfx::Pipeline pip = make_pipeline2(make_shader(VS_CLIP2, "#version 450\nbroken", 0, nullptr));
    gfx::begin_pass(t.pass, clear_action({0, 0, 0, 1}));
    gfx::apply_pipeline(pip);
    gfx::Bindings b{};
    b.vertex_buffers[0] = gfx::make_buffer(vertex_desc());
    gfx::apply_bindings(b);
    gfx::draw(0, 3, 1);
    gfx::end_pass();
    EXPECT_EQ(gfx::query_frame_stats().skipped_by_reason[int(gfx::SkipReason::NoPipeline)], 1);
}

TEST_F(Resources, DrawAfterItsShaderWasDestroyedIsSkipped) {
    Target t = make_target(4, 4);
    gfx::Shader shd = make_shader(VS_CLIP2, FS_UCOLOR, 16, "fs_color");
    gfx::Pipeline pip = make_pipeline2(shd);
    gfx::destroy_shader(shd);
    gfx::begin_pass(t.pass, clear_action({0, 0, 0, 1}));
    gfx::apply_pipeline(pip);
    gfx::draw(0, 3, 1);
    gfx::end_pass();
    EXPECT_EQ(gfx::query_frame_stats().skipped_by_reason[int(gfx::SkipReason::NoPipeline)], 1);
}

TEST_F(Resources, EveryObjectCarriesItsLabel) {
    gfx::ImageDesc d = target_desc();
    d.label = "color-image";
    gfx::Image img = gfx::make_image(d);
    char label[64] = "";
    glGetObjectLabel(GL_TEXTURE, gfx::gl_image_texture(img), sizeof label, nullptr, label);
    EXPECT_STREQ(label, "color-image");
    gfx::PassDesc p{};
    p.color_attachment.image = img;
    p.label = "offscreen-pass";
    gfx::Pass pass = gfx::make_pass(p);
    glGetObjectLabel(GL_FRAMEBUFFER, gfx::gl_pass_framebuffer(pass), sizeof label, nullptr, label);
    EXPECT_STREQ(label, "offscreen-pass");
}

}  // namespace

// Target rebuilds and the program catalogue against a real GL context.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cstddef>
#include <string>
#include <vector>

#include "blur_cases.h"
#include "render/bloom.h"
#include "render/render_targets.h"
#include "render/shaders.h"
#include "render_window.h"

namespace {

class Targets : public testing::Test {
protected:
    void SetUp() override {
        if (!open_render_window(64, 36)) GTEST_SKIP() << "no GL 4.5 context (run under Xvfb)";
    }
};

// Every handle a rebuild replaces.
struct RebuiltHandles {
    uint32_t ids[5 + 2 * blur_level_count];
};
RebuiltHandles rebuilt_handles() {
    RebuiltHandles h{};
    int n = 0;
    h.ids[n++] = render_targets.color_image.id;
    h.ids[n++] = render_targets.depth_image.id;
    h.ids[n++] = render_targets.offscreen_pass.id;
    h.ids[n++] = shadow_map.color_image.id;
    h.ids[n++] = shadow_map.pass.id;
    for (int i = 0; i < blur_level_count; ++i) {
        h.ids[n++] = bloom_chain.blur_image[i].id;
        h.ids[n++] = bloom_chain.blur_pass[i].id;
    }
    return h;
}

std::string texture_label(gfx::Image image) {
    char label[64] = {};
    GLsizei length = 0;
    glGetObjectLabel(GL_TEXTURE, gfx::gl_image_texture(image), sizeof label, &length, label);
    return std::string(label, static_cast<size_t>(length));
}

void expect_image_size(gfx::Image image, int w, int h, const char* what) {
    gfx::ImageInfo info = gfx::query_image_info(image);
    EXPECT_EQ(gfx::query_image_state(image), gfx::ResourceState::Valid) << what;
    EXPECT_EQ(info.width, w) << what;
    EXPECT_EQ(info.height, h) << what;
}

TEST_F(Targets, SameSizeRebuildsNothingAndShrinkingRebuildsEverything) {
    resize_targets(1920, 1080);
    int rebuilds = render_targets.rebuild_count;
    RebuiltHandles before = rebuilt_handles();
    gfx::Pipeline pipelines[4] = {shadow_map.pipeline, bloom_chain.down_pipeline, bloom_chain.up_pipeline,
                                  bloom_chain.combine_pipeline};
    gfx::Buffer quad = fullscreen_quad.vertex_buffer;

    resize_targets(1920, 1080);
    EXPECT_EQ(render_targets.rebuild_count, rebuilds);
    EXPECT_EQ(render_targets.window_rebuild_count, 0);
    RebuiltHandles same = rebuilt_handles();
    for (size_t i = 0; i < std::size(same.ids); ++i) EXPECT_EQ(same.ids[i], before.ids[i]) << "handle " << i;

    resize_targets(1280, 720);
    EXPECT_EQ(render_targets.rebuild_count, rebuilds + 1);
    RebuiltHandles after = rebuilt_handles();
    for (size_t i = 0; i < std::size(after.ids); ++i) EXPECT_NE(after.ids[i], before.ids[i]) << "handle " << i;
    expect_image_size(render_targets.color_image, 1280, 720, "colour image");
    expect_image_size(render_targets.depth_image, 1280, 720, "depth image");
    // The number itself: a constant changed by mistake would still equal itself.
    expect_image_size(shadow_map.color_image, 2048, 2048, "shadow colour");
    expect_image_size(shadow_map.depth_image, 2048, 2048, "shadow depth");
    EXPECT_EQ(gfx::query_image_state(gfx::Image{before.ids[0]}), gfx::ResourceState::Invalid);
    // Programs, pipelines and the quad are made once.
    EXPECT_EQ(shadow_map.pipeline.id, pipelines[0].id);
    EXPECT_EQ(bloom_chain.down_pipeline.id, pipelines[1].id);
    EXPECT_EQ(bloom_chain.up_pipeline.id, pipelines[2].id);
    EXPECT_EQ(bloom_chain.combine_pipeline.id, pipelines[3].id);
    EXPECT_EQ(fullscreen_quad.vertex_buffer.id, quad.id);
    for (gfx::Pipeline p : pipelines) EXPECT_EQ(gfx::query_pipeline_state(p), gfx::ResourceState::Valid);
}

TEST_F(Targets, WiderWindowWithTheSameRectangleRemakesOnlyTheWindowSizedImages) {
    resize_targets(2560, 1080);
    int rebuilds = render_targets.rebuild_count, window_rebuilds = render_targets.window_rebuild_count;
    gfx::Image blur0 = bloom_chain.blur_image[0], shadow = shadow_map.color_image;
    resize_targets(2600, 1080);  // still a 1920 × 1080 rectangle, now at x = 340
    EXPECT_EQ(render_targets.rebuild_count, rebuilds);
    EXPECT_EQ(render_targets.window_rebuild_count, window_rebuilds + 1);
    EXPECT_EQ(render_targets.window_width, 2600);
    EXPECT_FLOAT_EQ(render_targets.present_rect.x, 340.0f);
    expect_image_size(render_targets.color_image, 2600, 1080, "colour image");
    EXPECT_EQ(bloom_chain.blur_image[0].id, blur0.id);
    EXPECT_EQ(shadow_map.color_image.id, shadow.id);
    // The composite maps the rectangle with the current window size.
    PostChainUniforms u = post_chain_uniforms();
    EXPECT_FLOAT_EQ(u.combine_vs.rect.x, 340.0f / 2600.0f);
    EXPECT_FLOAT_EQ(u.combine_vs.rect.z, 1920.0f / 2600.0f);
}

TEST_F(Targets, BlurLevelsAndHalfPixels) {
    for (const BlurCase& c : blur_cases) {
        SCOPED_TRACE(testing::Message() << c.window_width << " x " << c.window_height);
        resize_targets(c.window_width, c.window_height);
        EXPECT_EQ(render_targets.target_width, c.target_width);
        EXPECT_EQ(render_targets.target_height, c.target_height);
        for (int i = 0; i < blur_level_count; ++i) {
            expect_image_size(bloom_chain.blur_image[i], c.levels[i].width, c.levels[i].height, "blur level");
            EXPECT_EQ(texture_label(bloom_chain.blur_image[i]), "blur-" + std::to_string(i));
            EXPECT_EQ(gfx::query_pass_state(bloom_chain.blur_pass[i]), gfx::ResourceState::Valid);
        }
        PostChainUniforms u = post_chain_uniforms();
        // The first downsampling reads the window-sized colour image.
        EXPECT_FLOAT_EQ(u.down[0].HalfPixel.x, 0.5f / c.window_width);
        EXPECT_FLOAT_EQ(u.down[0].HalfPixel.y, 0.5f / c.window_height);
        for (int i = 1; i < blur_level_count; ++i) {
            EXPECT_FLOAT_EQ(u.down[i].HalfPixel.x, 0.5f / c.levels[i - 1].width);
            EXPECT_FLOAT_EQ(u.down[i].HalfPixel.y, 0.5f / c.levels[i - 1].height);
        }
        for (int i = 0; i < blur_level_count - 1; ++i) {
            EXPECT_FLOAT_EQ(u.up[i].HalfPixel.x, 0.5f / c.levels[i + 1].width);
            EXPECT_FLOAT_EQ(u.up[i].HalfPixel.y, 0.5f / c.levels[i + 1].height);
        }
        EXPECT_FLOAT_EQ(u.combine_fs.HalfPixel.x, 0.5f / c.levels[0].width);
        EXPECT_FLOAT_EQ(u.combine_fs.HalfPixel.y, 0.5f / c.levels[0].height);
    }
}

TEST_F(Targets, LabelsAndShadowPassAction) {
    resize_targets(640, 360);
    EXPECT_EQ(texture_label(shadow_map.depth_image), "shadow-map-depth-image");
    EXPECT_EQ(gfx::query_pass_state(shadow_map.pass), gfx::ResourceState::Valid);
    EXPECT_EQ(gfx::query_pass_state(render_targets.offscreen_pass), gfx::ResourceState::Valid);
    EXPECT_EQ(shadow_map.pass_action.color.action, gfx::Action::Clear);
    EXPECT_FLOAT_EQ(shadow_map.pass_action.color.value.r, 1.0f);
    EXPECT_FLOAT_EQ(shadow_map.pass_action.depth.value, 1.0f);
    GLsizei length = 0;
    char label[64] = {};
    glGetObjectLabel(GL_FRAMEBUFFER, gfx::gl_pass_framebuffer(render_targets.offscreen_pass), sizeof label, &length,
                     label);
    EXPECT_STREQ(label, "offscreen-pass");
}

TEST_F(Targets, SampleCountFollowsTheAntialiasChoice) {
    bool msaa = gfx::query_features().msaa_render_targets;
    for (bool requested : {true, false}) {
        antialias_requested = requested;
        resize_targets(100, 100);  // a new rectangle size: a full rebuild
        resize_targets(64, 36);
        EXPECT_EQ(render_targets.target_sample_count, requested && msaa ? 4 : 1) << "antialias " << requested;
    }
    antialias_requested = true;
}

TEST_F(Targets, ShadowPassKeepsTheNearestDepthAndOneWhereEmpty) {
    resize_targets(64, 36);
    // Two overlapping quads in clip space (mvp = identity, so clip z/w = z): the
    // far one covers the left three quarters, the near one the right half.
    const float positions[] = {
        -1.0f, -1.0f, 0.75f, 0.5f, -1.0f, 0.75f, 0.5f, 1.0f, 0.75f, -1.0f, 1.0f, 0.75f,
        0.0f,  -1.0f, 0.25f, 1.0f, -1.0f, 0.25f, 1.0f, 1.0f, 0.25f, 0.0f,  1.0f, 0.25f,
    };
    const uint16_t indices[] = {0, 1, 2, 0, 2, 3, 4, 5, 6, 4, 6, 7};
    gfx::BufferDesc vb{};
    vb.data = {positions, sizeof positions};
    gfx::BufferDesc ib{};
    ib.type = gfx::BufferType::IndexBuffer;
    ib.data = {indices, sizeof indices};
    gfx::Bindings bindings{};
    bindings.vertex_buffers[0] = gfx::make_buffer(vb);
    bindings.index_buffer = gfx::make_buffer(ib);
    vs_shadow_params params{};
    params.mvp = mat4_identity();

    gfx::begin_pass(shadow_map.pass, shadow_map.pass_action);
    gfx::apply_pipeline(shadow_map.pipeline);
    gfx::apply_bindings(bindings);
    gfx::apply_uniforms(gfx::ShaderStage::Vs, 0, &params, sizeof params);
    gfx::draw(0, 12, 1);
    gfx::end_pass();
    gfx::FrameStats stats = gfx::query_frame_stats();
    EXPECT_EQ(stats.draws, 1);
    EXPECT_EQ(stats.draws_skipped, 0);
    gfx::commit();

    std::vector<float> depth(static_cast<size_t>(shadow_map_size) * shadow_map_size);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glGetTextureImage(gfx::gl_image_texture(shadow_map.color_image), 0, GL_RED, GL_FLOAT,
                      static_cast<GLsizei>(depth.size() * sizeof(float)), depth.data());
    auto at = [&](float u) { return depth[static_cast<size_t>(shadow_map_size / 2) * shadow_map_size +
                                         static_cast<size_t>(u * shadow_map_size)]; };
    EXPECT_FLOAT_EQ(at(0.10f), 0.75f);  // far quad only
    EXPECT_FLOAT_EQ(at(0.60f), 0.25f);  // both: the nearer wins
    EXPECT_FLOAT_EQ(at(0.90f), 0.25f);  // near quad only
    // Rows above and below are covered too; nothing drawn would read 1.0.
    EXPECT_FLOAT_EQ(depth[static_cast<size_t>(10) * shadow_map_size + 10], 0.75f);
    gfx::destroy_buffer(bindings.vertex_buffers[0]);
    gfx::destroy_buffer(bindings.index_buffer);
}

TEST_F(Targets, ShadowMapIsClearedToOne) {
    resize_targets(64, 36);
    gfx::begin_pass(shadow_map.pass, shadow_map.pass_action);
    gfx::end_pass();
    gfx::commit();
    std::vector<float> depth(static_cast<size_t>(shadow_map_size) * shadow_map_size);
    glGetTextureImage(gfx::gl_image_texture(shadow_map.color_image), 0, GL_RED, GL_FLOAT,
                      static_cast<GLsizei>(depth.size() * sizeof(float)), depth.data());
    size_t not_one = 0;
    for (float d : depth) not_one += d != 1.0f;
    EXPECT_EQ(not_one, 0u);
}

// Block member offsets as the shaders see them, against the C++ records.
struct MemberCase {
    ProgramId program;
    const char* member;
    size_t offset;
};

TEST_F(Targets, CatalogueProgramsLinkWithTheRecordsLayout) {
    const MemberCase members[] = {
        {ProgramId::Shadow, "mvp", offsetof(vs_shadow_params, mvp)},
        {ProgramId::Down, "HalfPixel", offsetof(fs_down_params, HalfPixel)},
        {ProgramId::Up, "HalfPixel", offsetof(fs_up_params, HalfPixel)},
        {ProgramId::Combine, "rect", offsetof(vs_combine_params, rect)},
        {ProgramId::Combine, "HalfPixel", offsetof(fs_combine_params, HalfPixel)},
        {ProgramId::Combine, "Glow", offsetof(fs_combine_params, Glow)},
        {ProgramId::Combine, "Vignette", offsetof(fs_combine_params, Vignette)},
        {ProgramId::Combine, "VignetteSize", offsetof(fs_combine_params, VignetteSize)},
    };
    for (int p = 0; p < static_cast<int>(ProgramId::Count); ++p) {
        ProgramId id = static_cast<ProgramId>(p);
        const ProgramInfo& info = program_info(id);
        if (!shader_source(info.vs_file) || !shader_source(info.fs_file)) continue;  // not written yet
        SCOPED_TRACE(info.label);
        gfx::Shader shader = make_program(id);
        EXPECT_EQ(gfx::query_shader_state(shader), gfx::ResourceState::Valid);
        gfx::destroy_shader(shader);

        // Link the same sources directly to read the driver's block layout.
        GLuint program = glCreateProgram();
        const char* sources[2] = {shader_source(info.vs_file), shader_source(info.fs_file)};
        GLenum stages[2] = {GL_VERTEX_SHADER, GL_FRAGMENT_SHADER};
        for (int s = 0; s < 2; ++s) {
            GLuint sh = glCreateShader(stages[s]);
            glShaderSource(sh, 1, &sources[s], nullptr);
            glCompileShader(sh);
            glAttachShader(program, sh);
            glDeleteShader(sh);
        }
        glLinkProgram(program);
        GLint linked = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        ASSERT_TRUE(linked);
        const ProgramBlock* stage_blocks[2] = {info.vs_blocks, info.fs_blocks};
        for (int s = 0; s < 2; ++s)
            for (int b = 0; b < max_program_blocks; ++b) {
                const ProgramBlock& block = stage_blocks[s][b];
                if (!block.name) continue;
                GLuint index = glGetProgramResourceIndex(program, GL_UNIFORM_BLOCK, block.name);
                ASSERT_NE(index, GL_INVALID_INDEX) << block.name;
                const GLenum props[2] = {GL_BUFFER_DATA_SIZE, GL_BUFFER_BINDING};
                GLint values[2] = {};
                glGetProgramResourceiv(program, GL_UNIFORM_BLOCK, index, 2, props, 2, nullptr, values);
                EXPECT_LE(values[0], block.size) << block.name << ": the driver's block is larger than the record";
                EXPECT_EQ(values[1], s * 4 + b) << block.name << " binding";
            }
        for (const MemberCase& m : members) {
            if (m.program != id) continue;
            GLuint index = glGetProgramResourceIndex(program, GL_UNIFORM, m.member);
            ASSERT_NE(index, GL_INVALID_INDEX) << m.member;
            const GLenum prop = GL_OFFSET;
            GLint offset = -1;
            glGetProgramResourceiv(program, GL_UNIFORM, index, 1, &prop, 1, nullptr, &offset);
            EXPECT_EQ(offset, static_cast<GLint>(m.offset)) << m.member;
        }
        glDeleteProgram(program);
    }
}

}  // namespace

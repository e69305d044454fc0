#include "gfx_fixture.h"

#include <cstdlib>
#include <cstring>
#include <ostream>

#include "platform/app_window.h"

namespace gfxtest {
namespace {

int debug_errors = 0;

// Compile logs arrive as errors from the shader compiler; those are expected
// in tests of broken sources and are no GL error.
void GLAPIENTRY on_debug_message(GLenum source, GLenum type, GLuint, GLenum, GLsizei, const GLchar* message,
                                 const void*) {
    if (type == GL_DEBUG_TYPE_ERROR && source != GL_DEBUG_SOURCE_SHADER_COMPILER) {
        ++debug_errors;
        ADD_FAILURE() << "GL error: " << message;
    }
}

}  // namespace

void GfxTest::SetUp() {
    platform::AppDesc app{};
    app.width = WINDOW_W;
    app.height = WINDOW_H;
    app.hidden = true;
    ASSERT_TRUE(platform::open_window(app)) << "no window (run under xvfb-run)";
    debug_errors = 0;
    glEnable(GL_DEBUG_OUTPUT);
    glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
    glDebugMessageCallback(on_debug_message, nullptr);
    gfx::setup(desc());
    ASSERT_TRUE(gfx::is_setup());
}

void GfxTest::TearDown() {
    if (!gfx::is_setup()) return;
    EXPECT_EQ(gl_errors(), 0);
    gfx::shutdown();
    glDebugMessageCallback(nullptr, nullptr);
    platform::close_window();
}

int GfxTest::gl_errors() {
    int n = debug_errors;
    while (glGetError() != GL_NO_ERROR) ++n;
    return n;
}

std::ostream& operator<<(std::ostream& os, const Rgba& c) {
    return os << "(" << int(c.r) << ", " << int(c.g) << ", " << int(c.b) << ", " << int(c.a) << ")";
}

bool near(Rgba a, Rgba b, int t) {
    return std::abs(a.r - b.r) <= t && std::abs(a.g - b.g) <= t && std::abs(a.b - b.b) <= t &&
           std::abs(a.a - b.a) <= t;
}

namespace {
template <class T>
std::vector<T> read_texture(gfx::Image img, GLenum format, GLenum type, int components) {
    gfx::ImageInfo info = gfx::query_image_info(img);
    std::vector<T> out(size_t(info.width) * size_t(info.height) * size_t(components));
    if (out.empty()) return out;
    glGetTextureImage(gfx::gl_image_texture(img), 0, format, type, GLsizei(out.size() * sizeof(T)), out.data());
    return out;
}
}  // namespace

std::vector<Rgba> read_rgba8(gfx::Image img) {
    auto bytes = read_texture<uint8_t>(img, GL_RGBA, GL_UNSIGNED_BYTE, 4);
    std::vector<Rgba> px(bytes.size() / 4);
    std::memcpy(px.data(), bytes.data(), bytes.size());
    return px;
}
std::vector<float> read_r32f(gfx::Image img) { return read_texture<float>(img, GL_RED, GL_FLOAT, 1); }
std::vector<float> read_depth(gfx::Image img) {
    return read_texture<float>(img, GL_DEPTH_COMPONENT, GL_FLOAT, 1);
}

std::vector<Rgba> read_window(int w, int h) {
    std::vector<Rgba> px(size_t(w) * size_t(h));
    platform::read_window_pixels(w, h, reinterpret_cast<uint8_t*>(px.data()));
    return px;
}

Target make_target(int w, int h, gfx::PixelFormat color, gfx::PixelFormat depth, int samples) {
    Target t{};
    t.width = w;
    t.height = h;
    gfx::ImageDesc d{};
    d.render_target = true;
    d.width = w;
    d.height = h;
    d.pixel_format = color;
    d.sample_count = samples;
    d.min_filter = d.mag_filter = gfx::Filter::Nearest;
    d.wrap_u = d.wrap_v = gfx::Wrap::ClampToEdge;
    d.label = "test-color";
    t.color = gfx::make_image(d);
    gfx::PassDesc p{};
    p.color_attachment.image = t.color;
    if (depth != gfx::PixelFormat::None) {
        d.pixel_format = depth;
        d.label = "test-depth";
        t.depth = gfx::make_image(d);
        p.depth_stencil_attachment.image = t.depth;
    }
    p.label = "test-pass";
    t.pass = gfx::make_pass(p);
    return t;
}

gfx::PassAction clear_action(gfx::Color c) {
    gfx::PassAction a{};
    a.color = {gfx::Action::Clear, c};
    return a;
}

const char* const VS_CLIP2 = R"(#version 450
layout(location = 0) in vec2 pos;
void main() { gl_Position = vec4(pos, 0.5, 1.0); }
)";

const char* const FS_UCOLOR = R"(#version 450
layout(std140) uniform fs_color { vec4 u_color; };
layout(location = 0) out vec4 frag;
void main() { frag = u_color; }
)";

const char* const VS_QUAD = R"(#version 450
layout(location = 0) in vec2 p;
out vec2 uv;
void main() { uv = p; gl_Position = vec4(2.0 * p.x - 1.0, 1.0 - 2.0 * p.y, 0.0, 1.0); }
)";

const char* const FS_TEXTURE = R"(#version 450
uniform sampler2D tex;
in vec2 uv;
layout(location = 0) out vec4 frag;
void main() { frag = texture(tex, uv); }
)";

gfx::Shader make_shader(const char* vs, const char* fs, size_t fs_ub0, const char* fs_ub0_name,
                        const char* image0, const char* label) {
    gfx::ShaderDesc d{};
    d.attrs[0].sem_name = "TEXCOORD";
    d.vs.source = vs;
    d.fs.source = fs;
    d.fs.uniform_blocks[0] = {fs_ub0, fs_ub0_name};
    d.fs.images[0].name = image0;
    d.label = label;
    return gfx::make_shader(d);
}

gfx::Pipeline make_pipeline2(gfx::Shader shd, gfx::PixelFormat color, gfx::PixelFormat depth, int samples,
                             gfx::CullMode cull, gfx::FaceWinding winding) {
    gfx::PipelineDesc d{};
    d.shader = shd;
    d.layout.attrs[0].format = gfx::VertexFormat::Float2;
    d.color.pixel_format = color;
    d.depth.pixel_format = depth;
    d.sample_count = samples;
    d.cull_mode = cull;
    d.face_winding = winding;
    d.label = "test-pipeline";
    return gfx::make_pipeline(d);
}

gfx::Buffer make_vertices(const std::vector<float>& xy, const char* label) {
    gfx::BufferDesc d{};
    d.data = {xy.data(), xy.size() * sizeof(float)};
    d.label = label;
    return gfx::make_buffer(d);
}

gfx::Buffer quad_vertices() { return make_vertices({0, 1, 1, 1, 1, 0, 0, 0}, "quad-vertices"); }

gfx::Buffer quad_indices() {
    static const uint16_t idx[6] = {0, 1, 2, 0, 2, 3};
    gfx::BufferDesc d{};
    d.type = gfx::BufferType::IndexBuffer;
    d.data = {idx, sizeof idx};
    d.label = "quad-indices";
    return gfx::make_buffer(d);
}

}  // namespace gfxtest

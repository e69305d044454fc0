// A hidden window with a GL 4.5 core context and the graphics layer set up,
// plus the small pieces the tests draw with: readbacks, targets, shaders.
#pragma once
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gfx/gfx.h"

namespace gfxtest {

constexpr int WINDOW_W = 64, WINDOW_H = 48;

// Opens the window, sets up gfx with `desc`, and counts GL errors through the
// debug callback. Every test ends with no GL error reported.
class GfxTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    virtual gfx::Desc desc() { return {}; }
    // GL errors since SetUp, from glGetError and the debug callback.
    int gl_errors();
};

struct Rgba {
    uint8_t r, g, b, a;
    bool operator==(const Rgba&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Rgba& c);
bool near(Rgba a, Rgba b, int tolerance = 1);

std::vector<Rgba> read_rgba8(gfx::Image img);
std::vector<float> read_r32f(gfx::Image img);
std::vector<float> read_depth(gfx::Image img);
std::vector<Rgba> read_window(int w = WINDOW_W, int h = WINDOW_H);  // rows top first

// A colour render target (and optionally depth) with its pass.
struct Target {
    gfx::Image color, depth;
    gfx::Pass pass;
    int width, height;
};
Target make_target(int w, int h, gfx::PixelFormat color = gfx::PixelFormat::BGRA8,
                   gfx::PixelFormat depth = gfx::PixelFormat::None, int samples = 1);

gfx::PassAction clear_action(gfx::Color c);

// Vertex stage: location 0 vec2 in clip space, optional depth from `z`.
extern const char* const VS_CLIP2;
// Fragment stage: writes the constant colour `u_color` of fs block 0 (16 bytes).
extern const char* const FS_UCOLOR;
// Vertex stage of the window/target sampling quad: p in 0..1, uv = p, clip = (2p.x−1, 1−2p.y).
extern const char* const VS_QUAD;
// Fragment stage: samples image slot 0 ("tex") at uv.
extern const char* const FS_TEXTURE;

gfx::Shader make_shader(const char* vs, const char* fs, size_t fs_ub0 = 0, const char* fs_ub0_name = nullptr,
                        const char* image0 = nullptr, const char* label = "test_shader");

// A pipeline of one float2 input, no index buffer.
gfx::Pipeline make_pipeline2(gfx::Shader shd, gfx::PixelFormat color = gfx::PixelFormat::BGRA8,
                             gfx::PixelFormat depth = gfx::PixelFormat::None, int samples = 1,
                             gfx::CullMode cull = gfx::CullMode::None,
                             gfx::FaceWinding winding = gfx::FaceWinding::Default);

gfx::Buffer make_vertices(const std::vector<float>& xy, const char* label = "test-vertices");

// Unit quad corners (0,1) (1,1) (1,0) (0,0) and its 16-bit indices, as the show's full-screen quad.
gfx::Buffer quad_vertices();
gfx::Buffer quad_indices();

}  // namespace gfxtest

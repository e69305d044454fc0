#include "render_window.h"

#include <epoxy/gl.h>

#include "platform/app_window.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace {
int opened = -1;  // -1 not tried, 0 failed, 1 open
int window_w, window_h;
}  // namespace

bool open_render_window(int width, int height) {
    if (opened >= 0) return opened == 1;
    platform::AppDesc desc{};
    desc.width = width;
    desc.height = height;
    desc.hidden = true;
    opened = platform::open_window(desc) ? 1 : 0;
    if (opened == 1) {
        window_w = platform::framebuffer_width();
        window_h = platform::framebuffer_height();
        gfx::Desc gd{};
        gd.image_pool_size = 256;
        gfx::setup(gd);
    }
    return opened == 1;
}

int render_window_width() { return window_w; }
int render_window_height() { return window_h; }

std::vector<Rgba8> read_window() {
    std::vector<Rgba8> pixels(static_cast<size_t>(window_w) * window_h);
    platform::read_window_pixels(window_w, window_h, reinterpret_cast<uint8_t*>(pixels.data()));
    return pixels;
}

std::vector<Rgba8> read_image(gfx::Image image) {
    gfx::ImageInfo info = gfx::query_image_info(image);
    std::vector<Rgba8> pixels(static_cast<size_t>(info.width) * info.height);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTextureImage(gfx::gl_image_texture(image), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                      static_cast<GLsizei>(pixels.size() * sizeof(Rgba8)), pixels.data());
    return pixels;
}

std::string save_png(const std::string& name, int width, int height, const std::vector<Rgba8>& pixels) {
    std::string path = std::string(RENDER_TEST_OUTPUT_DIR) + "/" + name;
    return stbi_write_png(path.c_str(), width, height, 4, pixels.data(), width * 4) ? path : std::string();
}

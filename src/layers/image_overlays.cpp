#include "layers/image_overlays.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include <stb/stb_image.h>
#include <stb/stb_image_resize.h>

#include "layers/layer_common.h"
#include "render/render_targets.h"
#include "render/shaders.h"

ImageOverlays image_overlays;

namespace {

// Decodes one PNG and makes its image with the whole mip chain; id 0 when the
// file does not decode.
CaptionEntry load_caption(const EmbeddedFile& file, int index) {
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(file.bytes, file.size, &w, &h, &channels, 4);
    if (!pixels) {
        std::fprintf(stderr, "caption %d (%s) cannot be decoded: %s\n", index, file.name, stbi_failure_reason());
        return {};
    }
    int levels = caption_mip_levels(w, h);
    std::vector<std::vector<uint8_t>> mips(static_cast<size_t>(levels));
    gfx::ImageDesc desc{};
    desc.width = w;
    desc.height = h;
    desc.num_mipmaps = levels;
    desc.pixel_format = gfx::PixelFormat::RGBA8;
    desc.min_filter = gfx::Filter::LinearMipmapLinear;
    desc.mag_filter = gfx::Filter::Linear;
    desc.wrap_u = desc.wrap_v = gfx::Wrap::Repeat;
    desc.label = "caption";
    desc.data.mip[0] = {pixels, static_cast<size_t>(w) * h * 4};
    const uint8_t* above = pixels;
    int aw = w, ah = h;
    for (int level = 1; level < levels; ++level) {
        int lw = aw / 2, lh = ah / 2;
        std::vector<uint8_t>& out = mips[static_cast<size_t>(level)];
        out.resize(static_cast<size_t>(lw) * lh * 4);
        stbir_resize_uint8(above, aw, ah, 0, out.data(), lw, lh, 0, 4);
        desc.data.mip[level] = {out.data(), out.size()};
        above = out.data();
        aw = lw;
        ah = lh;
    }
    CaptionEntry entry{gfx::make_image(desc), w, h};
    stbi_image_free(pixels);
    return entry;
}

}  // namespace

int caption_mip_levels(int width, int height) {
    int levels = 1;
    while (levels < gfx::MAX_MIPMAPS && width / 2 > 0 && height / 2 > 0) {
        width /= 2;
        height /= 2;
        ++levels;
    }
    return levels;
}

void image_overlays_setup(const EmbeddedFile* table, int count) {
    ImageOverlays& o = image_overlays;
    o = ImageOverlays{};
    for (int i = 0; i < count && i < caption_count; ++i) o.captions[i] = load_caption(table[i], i);

    static uint8_t white[8 * 8 * 4];
    for (uint8_t& byte : white) byte = 255;
    gfx::ImageDesc wd{};
    wd.width = wd.height = 8;
    wd.pixel_format = gfx::PixelFormat::RGBA8;
    wd.data.mip[0] = {white, sizeof white};
    wd.label = "white-image";
    o.white_image = gfx::make_image(wd);

    o.shader = make_program(ProgramId::ImageGrad);
    o.pipeline = gfx::make_pipeline(layer_pipeline_desc(o.shader, true));
    o.bindings = fullscreen_quad.bindings;
}

bool image_layer_draw(const ImageLayerValues& layer, double time, float aspect, ImageLayerDraw* out) {
    *out = ImageLayerDraw{};
    int32_t k = track_int(layer.index);
    if (k >= caption_count) return false;
    float alpha = static_cast<float>(layer.alpha);
    if (k < 0) {
        // The fade: the whole target darkened by alpha, used as it is.
        out->image = image_overlays.white_image;
        out->vs.scale = {1.0f, 1.0f};
        out->vs.aspect = 1.0f;
        out->fs.color_a = out->fs.color_b = {0.0f, 0.0f, 0.0f, alpha};
        return true;
    }
    const CaptionEntry& entry = image_overlays.captions[k];
    if (entry.image.id == 0 || !(alpha > 0.0f)) return false;
    const float w = static_cast<float>(entry.width), h = static_cast<float>(entry.height);
    out->image = entry.image;
    out->vs.pos = {static_cast<float>(layer.x), static_cast<float>(-layer.y)};
    out->vs.scale.x = static_cast<float>(layer.scale * (w / 1920.0f));
    out->vs.scale.y = h * out->vs.scale.x / w;
    out->vs.angle = static_cast<float>(layer.angle * M_PI / 180.0);
    out->vs.aspect = aspect;
    int32_t mode = track_int(layer.mode);
    vec4 a = golden, b = terracotta;  // any other mode: the moving gradient
    if (mode >= 0 && mode < 5) a = b = tint_palette[mode];
    a.w = b.w = alpha;
    out->fs.color_a = a;
    out->fs.color_b = b;
    out->fs.phase = static_cast<float>(time * M_PI * 4.0);
    return true;
}

void draw_image_overlays(const ImageLayerValues layers[2], double time) {
    const ImageOverlays& o = image_overlays;
    float aspect = render_targets.target_height > 0
                       ? static_cast<float>(render_targets.target_width) / static_cast<float>(render_targets.target_height)
                       : 1.0f;
    for (int i = 0; i < 2; ++i) {
        ImageLayerDraw d;
        if (!image_layer_draw(layers[i], time, aspect, &d)) continue;
        gfx::Bindings b = o.bindings;
        b.fs_images[0] = d.image;
        gfx::apply_pipeline(o.pipeline);
        gfx::apply_bindings(b);
        gfx::apply_uniforms(gfx::ShaderStage::Vs, 0, &d.vs, sizeof d.vs);
        gfx::apply_uniforms(gfx::ShaderStage::Fs, 0, &d.fs, sizeof d.fs);
        gfx::draw(0, fullscreen_quad_index_count, 1);
    }
}

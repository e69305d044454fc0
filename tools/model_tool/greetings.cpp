// Twelve greeting pieces: rounded tiles of sugar-glazed biscuit with one word
// each, iced on the front and, mirrored so that it reads right, on the back.
// They greet the free software the show is made with. Each is a convex-hull
// collider, so a tile is a rounded box of about a hundred vertices.
#include <algorithm>
#include <cmath>

#include "scene/model_files.h"
#include "models.h"

#define STB_TRUETYPE_IMPLEMENTATION
#include <stb/stb_truetype.h>

namespace {

constexpr float kTileHeight = 4.6f, kTileDepth = 1.3f, kCorner = 1.1f;
constexpr int kCornerSteps = 5;

float tile_width(const std::string& word) { return 4.0f + 1.55f * static_cast<float>(word.size()); }

// The tile's outline, counter-clockwise seen from the front (+z).
std::vector<V2> outline(float width) {
    std::vector<V2> points;
    const float hx = width / 2 - kCorner, hy = kTileHeight / 2 - kCorner;
    const V2 centres[4] = {{hx, -hy}, {hx, hy}, {-hx, hy}, {-hx, -hy}};
    for (int c = 0; c < 4; ++c)
        for (int k = 0; k <= kCornerSteps; ++k) {
            float a = (c - 1) * kPi / 2 + k * (kPi / 2) / kCornerSteps;
            points.push_back({centres[c].x + kCorner * std::cos(a), centres[c].y + kCorner * std::sin(a)});
        }
    return points;
}

// Front face in the image's top half, back face in its bottom half, both read
// unmirrored from their own side; the rim takes the plain border of the top
// half. The rim is bevelled: the faces sit on an outline set in by the bevel.
Mesh tile_mesh(float width) {
    Mesh mesh;
    const std::vector<V2> ring = outline(width);
    const int n = static_cast<int>(ring.size());
    const float hz = kTileDepth / 2, bevel = 0.25f;
    std::vector<V3> out(n);
    std::vector<V2> inner(n);
    for (int k = 0; k < n; ++k) {
        V2 prev = ring[(k + n - 1) % n], next = ring[(k + 1) % n];
        out[k] = normalize({next.y - prev.y, prev.x - next.x, 0});
        inner[k] = {ring[k].x - out[k].x * bevel, ring[k].y - out[k].y * bevel};
    }
    auto front_uv = [&](V2 p) { return V2{0.5f + p.x / width, 0.25f - p.y / kTileHeight * 0.5f}; };
    auto back_uv = [&](V2 p) { return V2{0.5f - p.x / width, 0.75f - p.y / kTileHeight * 0.5f}; };
    for (int face = 0; face < 2; ++face) {
        float z = face ? -hz : hz;
        V3 normal{0, 0, face ? -1.0f : 1.0f};
        int centre = mesh.vertex({0, 0, z}, normal, face ? back_uv({0, 0}) : front_uv({0, 0}));
        int first = mesh.vertex_count();
        for (V2 p : inner) mesh.vertex({p.x, p.y, z}, normal, face ? back_uv(p) : front_uv(p));
        for (int k = 0; k < n; ++k) {
            int a = first + k, b = first + (k + 1) % n;
            if (face) mesh.triangle(centre, b, a);
            else mesh.triangle(centre, a, b);
        }
    }
    // the rim: four rings from front to back, the outer two set in
    const float zs[4] = {hz, hz - bevel, -hz + bevel, -hz};
    const float tilt[4] = {0.8f, 0, 0, -0.8f};
    int first = mesh.vertex_count();
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < n; ++k) {
            V2 p = (r == 0 || r == 3) ? inner[k] : ring[k];
            mesh.vertex({p.x, p.y, zs[r]}, out[k] + V3{0, 0, tilt[r]}, {0.02f + 0.96f * k / n, 0.02f});
        }
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < n; ++k) {
            int a = first + r * n + k, b = first + r * n + (k + 1) % n;
            int c = b + n, d = a + n;
            mesh.triangle(a, d, c);
            mesh.triangle(a, c, b);
        }
    return mesh;
}

// The word rendered into a width × height greyscale picture, centred, its
// letters squeezed or stretched to fill the box evenly.
void render_word(const stbtt_fontinfo& font, const std::string& word, int width, int height, Greyscale* out) {
    out->width = width;
    out->height = height;
    out->pixels.assign(static_cast<size_t>(width) * height, 0);
    float scale = stbtt_ScaleForPixelHeight(&font, height * 0.95f);
    int ascent, descent, gap;
    stbtt_GetFontVMetrics(&font, &ascent, &descent, &gap);
    float text_width = 0;
    for (size_t i = 0; i < word.size(); ++i) {
        int advance, bearing;
        stbtt_GetCodepointHMetrics(&font, word[i], &advance, &bearing);
        text_width += advance * scale;
        if (i + 1 < word.size()) text_width += stbtt_GetCodepointKernAdvance(&font, word[i], word[i + 1]) * scale;
    }
    float scale_x = std::min(scale, scale * (width * 0.92f) / text_width);
    float x = (width - text_width * scale_x / scale) * 0.5f;
    float baseline = (height - (ascent - descent) * scale) * 0.5f + ascent * scale;
    for (size_t i = 0; i < word.size(); ++i) {
        int x0, y0, x1, y1;
        float shift = x - std::floor(x);
        stbtt_GetCodepointBitmapBoxSubpixel(&font, word[i], scale_x, scale, shift, 0, &x0, &y0, &x1, &y1);
        int gw = x1 - x0, gh = y1 - y0;
        if (gw > 0 && gh > 0) {
            std::vector<uint8_t> glyph(static_cast<size_t>(gw) * gh);
            stbtt_MakeCodepointBitmapSubpixel(&font, glyph.data(), gw, gh, gw, scale_x, scale, shift, 0, word[i]);
            for (int gy = 0; gy < gh; ++gy)
                for (int gx = 0; gx < gw; ++gx) {
                    int px = static_cast<int>(std::floor(x)) + x0 + gx, py = static_cast<int>(baseline) + y0 + gy;
                    if (px < 0 || py < 0 || px >= width || py >= height) continue;
                    uint8_t& dst = out->pixels[static_cast<size_t>(py) * width + px];
                    dst = std::max(dst, glyph[static_cast<size_t>(gy) * gw + gx]);
                }
        }
        int advance, bearing;
        stbtt_GetCodepointHMetrics(&font, word[i], &advance, &bearing);
        x += advance * scale_x;
        if (i + 1 < word.size()) x += stbtt_GetCodepointKernAdvance(&font, word[i], word[i + 1]) * scale_x;
    }
}

// A soft copy of the letters (a box blur), whose slope makes the icing's rounded edge.
Greyscale blurred(const Greyscale& in, int radius) {
    Greyscale out = in;
    for (int pass = 0; pass < 2; ++pass) {
        const Greyscale src = out;
        for (int y = 0; y < in.height; ++y)
            for (int x = 0; x < in.width; ++x) {
                int sum = 0, count = 0;
                for (int k = -radius; k <= radius; ++k) {
                    int sx = pass ? x : std::clamp(x + k, 0, in.width - 1);
                    int sy = pass ? std::clamp(y + k, 0, in.height - 1) : y;
                    sum += src.pixels[static_cast<size_t>(sy) * in.width + sx];
                    ++count;
                }
                out.pixels[static_cast<size_t>(y) * in.width + x] = static_cast<uint8_t>(sum / count);
            }
    }
    return out;
}

const V3 kIcingColours[12] = {rgb(200, 30, 60), rgb(30, 110, 200), rgb(40, 150, 60), rgb(120, 50, 170),
                              rgb(220, 90, 20), rgb(20, 140, 150), rgb(180, 30, 120), rgb(60, 60, 190),
                              rgb(190, 40, 30), rgb(30, 120, 90), rgb(210, 20, 100), rgb(90, 40, 140)};

Texel greeting_texel(const Greyscale& letters, const Greyscale& soft, V3 icing, int index, float u, float v) {
    // Both halves show the same word: the back half's picture is the front's.
    float lv = v < 0.5f ? v * 2 : (v - 0.5f) * 2;
    // the word fills the middle of the face, inside the tile's border
    float margin_u = 0.1f, margin_v = 0.18f;
    float wu = (u - margin_u) / (1 - 2 * margin_u), wv = (lv - margin_v) / (1 - 2 * margin_v);
    float ink = (wu >= 0 && wu <= 1 && wv >= 0 && wv <= 1) ? letters.at(wu, wv) : 0;
    float bump = (wu >= 0 && wu <= 1 && wv >= 0 && wv <= 1) ? soft.at(wu, wv) : 0;
    float crumb = fbm(u * 64, v * 64, 64, 4, 801 + index);
    float pores = cell_distance(u * 48, v * 96, 48, 802 + index);
    Texel t;
    V3 biscuit = mix(rgb(214, 160, 86), rgb(236, 192, 120), crumb);
    float edge = std::min({u, 1 - u, std::abs(lv), std::abs(1 - lv)});
    biscuit = mix(rgb(170, 110, 50), biscuit, smoothstep(0.0f, 0.08f, edge));  // baked darker at the rim
    t.color = mix(biscuit, icing, ink);
    t.color = mix(t.color, t.color * 1.25f, ink * smoothstep(0.6f, 1.0f, bump) * 0.4f);  // sheen on the icing's crown
    t.height = 0.006f * bump + 0.0012f * crumb * (1 - ink) - 0.0008f * (pores < 0.15f) * (1 - ink);
    t.roughness = 0.8f - 0.6f * ink;
    t.occlusion = 0.85f + 0.15f * crumb;
    return t;
}

}  // namespace

bool check_font(const std::string& font_bytes, const std::string& font_path, std::string* error) {
    stbtt_fontinfo font;
    const auto* data = reinterpret_cast<const unsigned char*>(font_bytes.data());
    int offset = font_bytes.size() > 12 ? stbtt_GetFontOffsetForIndex(data, 0) : -1;
    if (offset < 0 || !stbtt_InitFont(&font, data, offset) || stbtt_FindGlyphIndex(&font, 'A') == 0) {
        *error = font_path + ": not a TrueType font with Latin letters";
        return false;
    }
    return true;
}

ModelFile make_greetings(const std::string& font_bytes) {
    ModelFile model;
    stbtt_fontinfo font;
    const auto* data = reinterpret_cast<const unsigned char*>(font_bytes.data());
    stbtt_InitFont(&font, data, stbtt_GetFontOffsetForIndex(data, 0));
    float x = 0;
    for (int i = 0; i < GREETING_COUNT; ++i) {
        const std::string word = greeting_pieces[i].word;
        float width = tile_width(word);
        Greyscale letters;
        // the picture has the aspect of the face's lettering area
        int pw = 512, ph = static_cast<int>(512 * (kTileHeight * 0.64f) / (width * 0.8f));
        render_word(font, word, pw, std::max(ph, 32), &letters);
        Greyscale soft = blurred(letters, 3);
        V3 icing = kIcingColours[i];
        int material = model.add_material(greeting_pieces[i].node, make_material(512, ImageFormat::jpeg, [&](float u, float v) {
            return greeting_texel(letters, soft, icing, i, u, v);
        }));
        model.add_mesh_node(greeting_pieces[i].node, tile_mesh(width), material, {x, 0, 0});
        x += width + 2;
    }
    model.add_light_and_camera({x / 2, 40, 40}, {x / 2, 10, 80});
    return model;
}

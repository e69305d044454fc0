#include "caption_renderer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include <stb/stb_truetype.h>

namespace {

constexpr uint8_t outline_rgb[3] = {20, 12, 25};
constexpr int side_margin = 24;

bool fail(std::string* error, const std::string& name, int line, const std::string& why) {
    *error = name + ":" + std::to_string(line) + ": " + why;
    return false;
}

// Squared distance along one row or column to the nearest zero of f: the
// lower envelope of parabolas, exact. v and z are work arrays of n and n + 1.
void distance_1d(const double* f, int n, double* d, int* v, double* z) {
    const double inf = std::numeric_limits<double>::infinity();
    auto meet = [f](int q, int p) { return ((f[q] + double(q) * q) - (f[p] + double(p) * p)) / (2.0 * q - 2.0 * p); };
    int k = 0;
    v[0] = 0;
    z[0] = -inf;
    z[1] = inf;
    for (int q = 1; q < n; ++q) {
        double s = meet(q, v[k]);
        while (s <= z[k]) {
            --k;
            s = meet(q, v[k]);
        }
        ++k;
        v[k] = q;
        z[k] = s;
        z[k + 1] = inf;
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
        while (z[k + 1] < q) ++k;
        double dq = double(q - v[k]);
        d[q] = dq * dq + f[v[k]];
    }
}

// Euclidean distance from each pixel to the nearest pixel at least half covered.
std::vector<float> distance_to_ink(const std::vector<float>& coverage, int w, int h) {
    const double far = 1e10;  // beyond any squared distance in the field
    std::vector<double> grid(coverage.size());
    for (size_t i = 0; i < coverage.size(); ++i) grid[i] = coverage[i] >= 0.5f ? 0.0 : far;
    int n = std::max(w, h);
    std::vector<double> f(n), d(n), z(n + 1);
    std::vector<int> v(n);
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y) f[y] = grid[size_t(y) * w + x];
        distance_1d(f.data(), h, d.data(), v.data(), z.data());
        for (int y = 0; y < h; ++y) grid[size_t(y) * w + x] = d[y];
    }
    std::vector<float> out(coverage.size());
    for (int y = 0; y < h; ++y) {
        distance_1d(&grid[size_t(y) * w], w, d.data(), v.data(), z.data());
        for (int x = 0; x < w; ++x) out[size_t(y) * w + x] = float(std::sqrt(d[x]));
    }
    return out;
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// stb_truetype trusts its input: a single TrueType or OpenType file whose table
// directory and tables lie inside the bytes is all it is given.
bool font_is_whole(const std::vector<uint8_t>& f) {
    if (f.size() < 12) return false;
    uint32_t tag = be32(f.data());
    if (tag != 0x00010000u && tag != 0x74727565u /* true */ && tag != 0x4F54544Fu /* OTTO */) return false;
    size_t tables = size_t(f[4]) << 8 | f[5];
    if (tables == 0 || 12 + 16 * tables > f.size()) return false;
    for (size_t i = 0; i < tables; ++i) {
        const uint8_t* entry = &f[12 + 16 * i];
        uint64_t offset = be32(entry + 8), length = be32(entry + 12);
        if (offset + length > f.size()) return false;
    }
    return true;
}

float line_width(const stbtt_fontinfo& font, const std::string& text, float scale) {
    float x = 0.0f;
    for (size_t i = 0; i < text.size(); ++i) {
        int advance, bearing;
        stbtt_GetCodepointHMetrics(&font, text[i], &advance, &bearing);
        x += advance * scale;
        if (i + 1 < text.size()) x += scale * stbtt_GetCodepointKernAdvance(&font, text[i], text[i + 1]);
    }
    return x;
}

// Draws one line's glyph coverage into the field, baseline at `baseline`,
// centred horizontally.
void draw_line(const stbtt_fontinfo& font, const CaptionLine& line, float scale, float baseline,
               std::vector<float>& coverage) {
    float x = (caption_width - line_width(font, line.text, scale)) * 0.5f;
    std::vector<uint8_t> glyph;
    for (size_t i = 0; i < line.text.size(); ++i) {
        int cp = line.text[i];
        float shift = x - std::floor(x);
        int x0, y0, x1, y1;
        stbtt_GetCodepointBitmapBoxSubpixel(&font, cp, scale, scale, shift, 0.0f, &x0, &y0, &x1, &y1);
        int gw = x1 - x0, gh = y1 - y0;
        if (gw > 0 && gh > 0) {
            glyph.assign(size_t(gw) * gh, 0);
            stbtt_MakeCodepointBitmapSubpixel(&font, glyph.data(), gw, gh, gw, scale, scale, shift, 0.0f, cp);
            int ox = int(std::floor(x)) + x0, oy = int(std::lround(baseline)) + y0;
            for (int gy = 0; gy < gh; ++gy)
                for (int gx = 0; gx < gw; ++gx) {
                    int px = ox + gx, py = oy + gy;
                    if (px < 0 || py < 0 || px >= caption_width || py >= caption_height) continue;
                    float& c = coverage[size_t(py) * caption_width + px];
                    c = std::max(c, glyph[size_t(gy) * gw + gx] / 255.0f);
                }
        }
        int advance, bearing;
        stbtt_GetCodepointHMetrics(&font, cp, &advance, &bearing);
        x += advance * scale;
        if (i + 1 < line.text.size()) x += scale * stbtt_GetCodepointKernAdvance(&font, cp, line.text[i + 1]);
    }
}

}  // namespace

bool parse_captions(const std::string& text, const std::string& name, CaptionList* list, std::string* error) {
    *list = CaptionList{};
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        size_t first = raw.find_first_not_of(" \t");
        if (first == std::string::npos || raw[first] == '#') continue;
        std::istringstream fields(raw);
        int index, height;
        if (!(fields >> index >> height)) return fail(error, name, number, "expected \"<index> <height> <text>\"");
        if (index < 0 || index >= caption_total)
            return fail(error, name, number, "caption index " + std::to_string(index) + " is not in 0..11");
        if (height < 8 || height > 400)
            return fail(error, name, number, "letter height " + std::to_string(height) + " is not in 8..400");
        std::string rest;
        std::getline(fields, rest);
        size_t start = rest.find_first_not_of(" \t");
        if (start == std::string::npos) return fail(error, name, number, "the line has no text");
        rest = rest.substr(start);
        for (unsigned char ch : rest)
            if (ch < 32 || ch > 126) return fail(error, name, number, "only printable ASCII letters can be drawn");
        list->captions[index].push_back({height, rest});
    }
    for (int i = 0; i < caption_total; ++i)
        if (list->captions[i].empty()) return fail(error, name, number, "caption " + std::to_string(i) + " has no lines");
    return true;
}

bool render_caption(const std::vector<uint8_t>& font_bytes, const std::vector<CaptionLine>& lines,
                    std::vector<uint8_t>* rgba, std::string* error) {
    stbtt_fontinfo font;
    if (!font_is_whole(font_bytes) || !stbtt_InitFont(&font, font_bytes.data(), stbtt_GetFontOffsetForIndex(font_bytes.data(), 0))) {
        *error = "the font cannot be read";
        return false;
    }
    int ascent, descent, gap;
    stbtt_GetFontVMetrics(&font, &ascent, &descent, &gap);

    // Each line at its letter height, narrowed to fit the field; the stack centred.
    std::vector<float> scales;
    float total = 0.0f;
    int thickest = 0;
    for (const CaptionLine& line : lines) {
        float s = stbtt_ScaleForPixelHeight(&font, float(line.height));
        float width = line_width(font, line.text, s);
        if (width > caption_width - 2 * side_margin) s *= (caption_width - 2 * side_margin) / width;
        scales.push_back(s);
        total += (ascent - descent) * s * 1.15f;
        thickest = std::max(thickest, line.height);
    }
    std::vector<float> coverage(size_t(caption_width) * caption_height, 0.0f);
    float top = (caption_height - total) * 0.5f;
    for (size_t i = 0; i < lines.size(); ++i) {
        float line_box = (ascent - descent) * scales[i] * 1.15f;
        float baseline = top + (line_box - (ascent - descent) * scales[i]) * 0.5f + ascent * scales[i];
        draw_line(font, lines[i], scales[i], baseline, coverage);
        top += line_box;
    }

    // The outline: everything within the radius of the ink, with a soft edge.
    float radius = std::max(3.0f, 0.035f * thickest);
    std::vector<float> distance = distance_to_ink(coverage, caption_width, caption_height);
    rgba->assign(coverage.size() * 4, 0);
    for (size_t i = 0; i < coverage.size(); ++i) {
        float ink = coverage[i];
        float outline = std::clamp(radius + 0.5f - distance[i], 0.0f, 1.0f);
        float alpha = std::max(ink, outline);
        if (alpha <= 0.0f) continue;
        float white = ink / alpha;  // the letter's share of what is seen here
        uint8_t* p = &(*rgba)[i * 4];
        for (int c = 0; c < 3; ++c) p[c] = uint8_t(std::lround(255.0f * white + outline_rgb[c] * (1.0f - white)));
        p[3] = uint8_t(std::lround(255.0f * alpha));
    }
    return true;
}

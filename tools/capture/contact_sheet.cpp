#include "contact_sheet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_easy_font.h>
#pragma GCC diagnostic pop

namespace {

constexpr uint8_t kBackground[4] = {24, 24, 28, 255};
constexpr uint8_t kText[4] = {235, 235, 235, 255};
constexpr int kFontHeight = 7;  // the font's capitals stand 7 units tall
constexpr int kLineHeight = 12;  // and its lines are 12 apart

struct Quad {
    float x, y, z;
    uint8_t color[4];
};

void fill(ContactSheet* s, int x0, int y0, int x1, int y1, const uint8_t* color) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, s->width);
    y1 = std::min(y1, s->height);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) std::memcpy(&s->rgba[(static_cast<size_t>(y) * s->width + x) * 4], color, 4);
}

// The text's quads, scaled and clipped to the strip at (x, y).
void draw_text(ContactSheet* s, int x, int y, int clip_right, const std::string& text) {
    std::vector<char> chars(text.begin(), text.end());
    chars.push_back(0);
    std::vector<Quad> quads(4 * 64 * chars.size());
    const int count = stb_easy_font_print(0, 0, chars.data(), nullptr, quads.data(),
                                          static_cast<int>(quads.size() * sizeof(Quad)));
    const int k = s->label_scale;
    for (int q = 0; q < count; ++q) {
        const Quad* v = &quads[static_cast<size_t>(q) * 4];
        const int qx0 = static_cast<int>(v[0].x), qy0 = static_cast<int>(v[0].y);
        const int qx1 = static_cast<int>(v[2].x), qy1 = static_cast<int>(v[2].y);
        fill(s, x + qx0 * k, y + qy0 * k, std::min(clip_right, x + qx1 * k), y + qy1 * k, kText);
    }
}

}  // namespace

void contact_sheet_make(ContactSheet* s, int tile_width, int tile_height, int columns, int count) {
    *s = ContactSheet{};
    s->tile_width = tile_width;
    s->tile_height = tile_height;
    s->columns = std::max(1, std::min(columns, count));
    s->rows = (count + s->columns - 1) / s->columns;
    s->gap = std::max(2, tile_width / 80);
    // Labels about a twentieth of a picture's width tall, at least the font's own size.
    s->label_scale = std::max(1, tile_width / (20 * kFontHeight));
    // The widest label on one line if it fits, else the row above the rest.
    std::string widest = contact_sheet_label(1266.7, 2, -10.25);
    s->label_lines = stb_easy_font_width(widest.data()) * s->label_scale + 4 <= tile_width ? 1 : 2;
    s->label_height = (kFontHeight + 5 + (s->label_lines - 1) * kLineHeight) * s->label_scale;
    s->width = s->columns * tile_width + (s->columns + 1) * s->gap;
    s->height = s->rows * (tile_height + s->label_height) + (s->rows + 1) * s->gap;
    s->rgba.resize(static_cast<size_t>(s->width) * s->height * 4);
    fill(s, 0, 0, s->width, s->height, kBackground);
}

void contact_sheet_place(ContactSheet* s, int index, const uint8_t* rgba, const std::string& label) {
    const int x0 = s->gap + (index % s->columns) * (s->tile_width + s->gap);
    const int y0 = s->gap + (index / s->columns) * (s->tile_height + s->label_height + s->gap);
    for (int y = 0; y < s->tile_height; ++y) {
        uint8_t* dst = &s->rgba[(static_cast<size_t>(y0 + y) * s->width + x0) * 4];
        std::memcpy(dst, rgba + static_cast<size_t>(y) * s->tile_width * 4, static_cast<size_t>(s->tile_width) * 4);
    }
    std::string text = label;
    if (s->label_lines == 2)
        if (size_t gap = label.find("  "); gap != std::string::npos)
            text = label.substr(0, gap) + '\n' + label.substr(gap + 2);
    draw_text(s, x0 + 2 * s->label_scale, y0 + s->tile_height + 3 * s->label_scale, x0 + s->tile_width, text);
}

std::string contact_sheet_label(double row, int part, double param) {
    char text[96];
    std::snprintf(text, sizeof text, "row %.1f  part %d  param %.2f", row, part, param);
    return text;
}

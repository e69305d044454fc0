// captions <captions.txt> <font.ttf> <output folder>
// Draws the twelve captions of the list into caption_00.png … caption_11.png.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <stb/stb_image_write.h>

#include "caption_renderer.h"
#include "common/read_text_file.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: captions <captions.txt> <font.ttf> <output folder>\n");
        return 2;
    }
    std::string text, error;
    CaptionList list;
    if (!read_text_file(argv[1], &text, &error) || !parse_captions(text, argv[1], &list, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::ifstream font_in(argv[2], std::ios::binary);
    std::vector<uint8_t> font((std::istreambuf_iterator<char>(font_in)), std::istreambuf_iterator<char>());
    for (int i = 0; i < caption_total; ++i) {
        std::vector<uint8_t> rgba;
        if (!render_caption(font, list.captions[i], &rgba, &error)) {
            std::fprintf(stderr, "%s: %s\n", argv[2], error.c_str());
            return 1;
        }
        char name[32];
        std::snprintf(name, sizeof name, "/caption_%02d.png", i);
        std::string path = std::string(argv[3]) + name;
        if (!stbi_write_png(path.c_str(), caption_width, caption_height, 4, rgba.data(), caption_width * 4)) {
            std::fprintf(stderr, "%s: cannot be written\n", path.c_str());
            return 1;
        }
    }
    return 0;
}

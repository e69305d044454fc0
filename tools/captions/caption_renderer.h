// The caption tool's core: the caption list (data/captions/captions.txt) read
// into lines, and one caption drawn as a 1024 × 512 RGBA image: white
// lettering with a dark outline on a transparent field, the lines stacked and
// centred. The same text and font give the same pixels.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr int caption_width = 1024;
constexpr int caption_height = 512;
constexpr int caption_total = 12;

struct CaptionLine {
    int height;        // letter height in pixels (ascent to descent)
    std::string text;  // printable ASCII
};

struct CaptionList {
    std::vector<CaptionLine> captions[caption_total];
};

// Each non-blank line that does not start with '#' is
// "<index 0..11> <height 8..400> <text>". False, with "<name>:<line>: why" in
// *error, for a malformed line or a caption left without lines.
bool parse_captions(const std::string& text, const std::string& name, CaptionList* list, std::string* error);

// Draws the lines with the font (a TrueType file's bytes) into rgba
// (caption_width × caption_height × 4, top row first). False, with a message,
// when the font cannot be read.
bool render_caption(const std::vector<uint8_t>& font, const std::vector<CaptionLine>& lines,
                    std::vector<uint8_t>* rgba, std::string* error);

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include "caption_renderer.h"
#include "common/read_text_file.h"
#include "platform/embedded.h"

extern "C" const EmbeddedFile caption_files[];
extern "C" const int caption_files_count;

namespace {

// Every caption has a line, so only the line under test can fail.
std::string complete_list_after(const std::string& line) {
    std::string text = line + "\n";
    for (int i = 0; i < caption_total; ++i) text += std::to_string(i) + " 100 caption\n";
    return text;
}

TEST(CaptionList, MalformedLinesAreNamedWithTheirLineNumber) {
    struct Case {
        std::string line, message;
    };
    const Case cases[] = {
        {"velmo 100 title", "list.txt:1: expected \"<index> <height> <text>\""},
        {"12 100 thirteenth", "list.txt:1: caption index 12 is not in 0..11"},
        {"-1 100 before", "list.txt:1: caption index -1 is not in 0..11"},
        {"0 5 tiny", "list.txt:1: letter height 5 is not in 8..400"},
        {"0 100   ", "list.txt:1: the line has no text"},
        {"0 100 caf\xc3\xa9", "list.txt:1: only printable ASCII letters can be drawn"},
    };
    for (const Case& c : cases) {
        CaptionList list;
        std::string error;
        EXPECT_FALSE(parse_captions(complete_list_after(c.line), "list.txt", &list, &error)) << c.line;
        EXPECT_EQ(error, c.message);
    }
    CaptionList list;
    std::string error;
    EXPECT_FALSE(parse_captions("# only one\n\n0 100 title\n", "list.txt", &list, &error));
    EXPECT_EQ(error, "list.txt:3: caption 1 has no lines");
}

TEST(CaptionList, CommentsAndBlankLinesAreSkippedAndLinesKeepTheirOrder) {
    CaptionList list;
    std::string error;
    ASSERT_TRUE(parse_captions(complete_list_after("# heading\n\n\t\n3 90 made with\r\n3 110  free software"), "l",
                               &list, &error))
        << error;
    ASSERT_EQ(list.captions[3].size(), 3u);
    EXPECT_EQ(list.captions[3][0].height, 90);
    EXPECT_EQ(list.captions[3][0].text, "made with");
    EXPECT_EQ(list.captions[3][1].text, "free software");
    EXPECT_EQ(list.captions[3][2].text, "caption");
}

std::vector<uint8_t> font_bytes() {
    std::ifstream in(CAPTION_FONT, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(CaptionDrawing, WhiteLettersInADarkOutlineOnATransparentField) {
    std::vector<uint8_t> rgba, again;
    std::string error;
    const std::vector<CaptionLine> lines = {{300, "I"}};
    ASSERT_TRUE(render_caption(font_bytes(), lines, &rgba, &error)) << error;
    ASSERT_TRUE(render_caption(font_bytes(), lines, &again, &error));
    EXPECT_EQ(rgba, again) << "the same text draws the same pixels";
    ASSERT_EQ(rgba.size(), size_t(caption_width) * caption_height * 4);
    auto at = [&](int x, int y) { return &rgba[(size_t(y) * caption_width + x) * 4]; };
    EXPECT_EQ(at(0, 0)[3], 0) << "the field is transparent";
    EXPECT_EQ(at(1023, 511)[3], 0);
    const uint8_t* centre = at(512, 256);  // inside the stem of the I
    EXPECT_EQ(centre[0], 255);
    EXPECT_EQ(centre[3], 255);
    // Walking right from the stem: white, then the opaque dark outline, then nothing.
    int x = 512;
    while (x < caption_width && at(x, 256)[0] == 255) ++x;
    while (x < caption_width && at(x, 256)[0] > 30) ++x;
    ASSERT_LT(x, caption_width);
    EXPECT_LT(at(x + 2, 256)[0], 30);
    EXPECT_EQ(at(x + 2, 256)[3], 255) << "the outline is opaque";
    EXPECT_EQ(at(x + 40, 256)[3], 0);

    const std::vector<uint8_t> font = font_bytes();
    const std::vector<std::vector<uint8_t>> broken = {{}, {1, 2, 3}, {font.begin(), font.begin() + 2000}};
    for (const std::vector<uint8_t>& bytes : broken) {
        EXPECT_FALSE(render_caption(bytes, lines, &rgba, &error)) << bytes.size() << " bytes";
        EXPECT_EQ(error, "the font cannot be read");
    }
}

// The embedded captions are the tool's output for the shipped list: twelve
// 1024 × 512 images with alpha, and caption 0 byte for byte as drawn now.
TEST(EmbeddedCaptions, TwelveImagesWithAlphaAsTheToolDrawsThem) {
    ASSERT_EQ(caption_files_count, caption_total);
    for (int i = 0; i < caption_files_count; ++i) {
        int w = 0, h = 0, channels = 0;
        ASSERT_TRUE(stbi_info_from_memory(caption_files[i].bytes, caption_files[i].size, &w, &h, &channels))
            << caption_files[i].name;
        EXPECT_EQ(w, 1024);
        EXPECT_EQ(h, 512);
        EXPECT_EQ(channels, 4) << caption_files[i].name;
    }
    std::string text, error;
    ASSERT_TRUE(read_text_file(CAPTION_LIST, &text, &error)) << error;
    CaptionList list;
    ASSERT_TRUE(parse_captions(text, CAPTION_LIST, &list, &error)) << error;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(render_caption(font_bytes(), list.captions[0], &rgba, &error)) << error;
    std::vector<uint8_t> png;
    stbi_write_png_to_func(
        [](void* out, void* data, int size) {
            auto* bytes = static_cast<std::vector<uint8_t>*>(out);
            bytes->insert(bytes->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
        },
        &png, caption_width, caption_height, 4, rgba.data(), caption_width * 4);
    EXPECT_EQ(png, std::vector<uint8_t>(caption_files[0].bytes, caption_files[0].bytes + caption_files[0].size));
}

}  // namespace

#include "editor_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "scripted_editor.h"

namespace {

std::vector<uint8_t> greeting_then(const std::vector<uint8_t>& commands) {
    std::vector<uint8_t> bytes(SERVER_GREETING.size() + commands.size());
    std::copy(SERVER_GREETING.begin(), SERVER_GREETING.end(), bytes.begin());
    std::copy(commands.begin(), commands.end(), bytes.begin() + static_cast<long>(SERVER_GREETING.size()));
    return bytes;
}

// One of each command the editor sends, in one stream.
std::vector<uint8_t> every_command() {
    std::vector<uint8_t> b;
    b.push_back(0);  // SET_KEY track 31, row 1266, value -2.5, ramp
    append_be32(&b, 31);
    append_be32(&b, 1266);
    float value = -2.5f;
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    append_be32(&b, bits);
    b.push_back(3);
    b.push_back(1);  // DELETE_KEY track 0, row 0x01020304
    append_be32(&b, 0);
    append_be32(&b, 0x01020304);
    b.push_back(3);  // SET_ROW 700
    append_be32(&b, 700);
    b.push_back(4);  // PAUSE 1, then 0
    b.push_back(1);
    b.push_back(4);
    b.push_back(0);
    b.push_back(5);  // SAVE_TRACKS
    return greeting_then(b);
}

void expect_every_command(const std::vector<EditorMessage>& got) {
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].command, EDITOR_SET_KEY);
    EXPECT_EQ(got[0].track, 31u);
    EXPECT_EQ(got[0].row, 1266);
    EXPECT_EQ(got[0].value, -2.5f);
    EXPECT_EQ(got[0].type, 3);
    EXPECT_EQ(got[1].command, EDITOR_DELETE_KEY);
    EXPECT_EQ(got[1].track, 0u);
    EXPECT_EQ(got[1].row, 0x01020304);
    EXPECT_EQ(got[2].command, EDITOR_SET_ROW);
    EXPECT_EQ(got[2].target_row, 700u);
    EXPECT_EQ(got[3].command, EDITOR_PAUSE);
    EXPECT_TRUE(got[3].paused);
    EXPECT_FALSE(got[4].paused);
    EXPECT_EQ(got[5].command, EDITOR_SAVE_TRACKS);
}

TEST(EditorProtocol, DecodesEveryCommandWhetherTheBytesComeWholeOrOneByOne) {
    const std::vector<uint8_t> stream = every_command();
    std::string error;

    EditorParser whole;
    editor_parser_reset(&whole, 32);
    std::vector<EditorMessage> at_once;
    ASSERT_TRUE(editor_feed(&whole, stream.data(), stream.size(), &at_once, &error)) << error;
    expect_every_command(at_once);

    EditorParser split;
    editor_parser_reset(&split, 32);
    std::vector<EditorMessage> byte_by_byte;
    for (size_t i = 0; i < stream.size(); ++i) {
        ASSERT_TRUE(editor_feed(&split, &stream[i], 1, &byte_by_byte, &error)) << "byte " << i << ": " << error;
        // The SET_KEY one byte short of its 14 produces nothing yet.
        if (i + 1 == SERVER_GREETING.size() + 13) {
            EXPECT_TRUE(byte_by_byte.empty());
        }
    }
    expect_every_command(byte_by_byte);
    EXPECT_TRUE(editor_finish(split, &error)) << error;
}

TEST(EditorProtocol, TheShowsMessagesAreBigEndian) {
    std::vector<uint8_t> out;
    encode_get_track("cam:at.x", &out);
    encode_set_row(0x01020304, &out);
    const std::vector<uint8_t> expected = {2, 0, 0, 0, 8, 'c', 'a', 'm', ':', 'a', 't', '.', 'x', 3, 1, 2, 3, 4};
    EXPECT_EQ(out, expected);
}

TEST(EditorProtocol, TheTrackLimitIsTheNumberOfTracksAskedFor) {
    std::vector<uint8_t> b = {1};  // DELETE_KEY track 3: valid for 4 tracks, not for 3
    append_be32(&b, 3);
    append_be32(&b, 0);
    const std::vector<uint8_t> stream = greeting_then(b);
    for (uint32_t asked : {4u, 3u}) {
        EditorParser parser;
        editor_parser_reset(&parser, asked);
        std::vector<EditorMessage> out;
        std::string error;
        EXPECT_EQ(editor_feed(&parser, stream.data(), stream.size(), &out, &error), asked == 4) << asked;
        EXPECT_EQ(out.size(), asked == 4 ? 1u : 0u);
    }
}

}  // namespace

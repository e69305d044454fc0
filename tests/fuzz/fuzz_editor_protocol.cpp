// velmo-edit's protocol parser over an arbitrary byte stream from the editor.
// The first byte is how many tracks were asked for, the second how the rest
// is cut into chunks; the rest is what the editor sent. However the stream is
// cut, the parser must give the same messages and the same verdict, and every
// message it gives must be valid.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "editor_protocol.h"
#include "fuzz_target.h"

namespace {

struct Outcome {
    std::vector<EditorMessage> messages;
    bool ok = true;
    bool finished = true;
};

Outcome feed(uint32_t track_count, const uint8_t* bytes, size_t size, size_t chunk) {
    EditorParser parser;
    editor_parser_reset(&parser, track_count);
    Outcome outcome;
    std::string error;
    for (size_t at = 0; at < size && outcome.ok; at += chunk) {
        const size_t n = std::min(chunk, size - at);
        outcome.ok = editor_feed(&parser, bytes + at, n, &outcome.messages, &error);
        FUZZ_CHECK(outcome.ok || (!error.empty() && error.find('\n') == std::string::npos));
    }
    error.clear();
    outcome.finished = editor_finish(parser, &error);
    FUZZ_CHECK(outcome.finished || !error.empty());
    return outcome;
}

bool same(const EditorMessage& a, const EditorMessage& b) {
    return a.command == b.command && a.track == b.track && a.row == b.row && a.target_row == b.target_row &&
           std::memcmp(&a.value, &b.value, sizeof a.value) == 0 && a.type == b.type && a.paused == b.paused;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint32_t track_count = data[0];
    const size_t chunk = data[1] % 32 + 1;
    const uint8_t* stream = data + 2;
    const size_t stream_size = size - 2;

    const Outcome whole = feed(track_count, stream, stream_size, stream_size ? stream_size : 1);
    const Outcome cut = feed(track_count, stream, stream_size, chunk);
    FUZZ_CHECK(whole.ok == cut.ok && whole.finished == cut.finished);
    FUZZ_CHECK(whole.messages.size() == cut.messages.size());
    for (size_t i = 0; i < whole.messages.size(); ++i) {
        const EditorMessage& m = whole.messages[i];
        FUZZ_CHECK(same(m, cut.messages[i]));
        FUZZ_CHECK(editor_command_name(m.command) != nullptr && m.command != EDITOR_GET_TRACK);
        if (m.command == EDITOR_SET_KEY || m.command == EDITOR_DELETE_KEY) FUZZ_CHECK(m.track < track_count && m.row >= 0);
        if (m.command == EDITOR_SET_KEY) FUZZ_CHECK(m.type >= 0 && m.type <= 3);
    }
    return 0;
}

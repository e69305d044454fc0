#include "editor_protocol.h"

#include <climits>
#include <cstring>

namespace {

uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void put_be32(uint32_t v, std::vector<uint8_t>* out) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

using Decode = bool (*)(const uint8_t* args, const EditorParser& parser, EditorMessage* message, std::string* error);

bool decode_track(const uint8_t* args, const EditorParser& parser, EditorMessage* message, std::string* error) {
    message->track = be32(args);
    if (message->track >= parser.track_count) {
        *error = "track index " + std::to_string(message->track) + " past the last track (" +
                 std::to_string(parser.track_count) + " were asked for)";
        return false;
    }
    uint32_t row = be32(args + 4);
    if (row > uint32_t(INT32_MAX)) {
        *error = "key row " + std::to_string(row) + " past the largest row a track holds (" +
                 std::to_string(INT32_MAX) + ")";
        return false;
    }
    message->row = static_cast<int32_t>(row);
    return true;
}

bool decode_set_key(const uint8_t* args, const EditorParser& parser, EditorMessage* message, std::string* error) {
    if (!decode_track(args, parser, message, error)) return false;
    uint32_t bits = be32(args + 8);
    std::memcpy(&message->value, &bits, 4);
    uint8_t type = args[12];
    if (type > 3) {
        *error = "interpolation type " + std::to_string(type) + " above 3 (ramp)";
        return false;
    }
    message->type = static_cast<int8_t>(type);
    return true;
}

bool decode_set_row(const uint8_t* args, const EditorParser&, EditorMessage* message, std::string*) {
    message->target_row = be32(args);
    return true;
}

bool decode_pause(const uint8_t* args, const EditorParser&, EditorMessage* message, std::string*) {
    message->paused = args[0] != 0;
    return true;
}

bool decode_nothing(const uint8_t*, const EditorParser&, EditorMessage*, std::string*) { return true; }

struct CommandSpec {
    const char* name;
    size_t argument_bytes;
    Decode decode;  // null: a command the editor never sends
};

// Indexed by command byte.
constexpr CommandSpec command_table[] = {
    {"SET_KEY", 13, decode_set_key},
    {"DELETE_KEY", 8, decode_track},
    {"GET_TRACK", 0, nullptr},
    {"SET_ROW", 4, decode_set_row},
    {"PAUSE", 1, decode_pause},
    {"SAVE_TRACKS", 0, decode_nothing},
};
constexpr size_t command_count = sizeof command_table / sizeof command_table[0];

std::string byte_text(uint8_t b) { return std::to_string(b); }

}  // namespace

void editor_parser_reset(EditorParser* parser, uint32_t track_count) {
    *parser = EditorParser{};
    parser->track_count = track_count;
}

bool editor_greeted(const EditorParser& parser) { return parser.greeting_seen == SERVER_GREETING.size(); }

const char* editor_command_name(uint8_t command) {
    return command < command_count ? command_table[command].name : nullptr;
}

bool editor_feed(EditorParser* parser, const uint8_t* bytes, size_t count, std::vector<EditorMessage>* out,
                 std::string* error) {
    if (parser->failed) {
        *error = "the connection already failed";
        return false;
    }
    size_t at = 0;
    for (; at < count && !editor_greeted(*parser); ++at, ++parser->greeting_seen) {
        if (bytes[at] != static_cast<uint8_t>(SERVER_GREETING[parser->greeting_seen])) {
            *error = "wrong greeting: byte " + std::to_string(parser->greeting_seen) + " is " + byte_text(bytes[at]) +
                     " where \"" + std::string(SERVER_GREETING) + "\" was expected";
            parser->failed = true;
            return false;
        }
    }

    std::vector<uint8_t>& partial = parser->partial;
    partial.insert(partial.end(), bytes + at, bytes + count);
    size_t consumed = 0;
    while (consumed < partial.size()) {
        const uint8_t code = partial[consumed];
        if (code >= command_count || command_table[code].decode == nullptr) {
            *error = code < command_count
                         ? std::string("command ") + byte_text(code) + " (" + command_table[code].name +
                               ") is not one the editor sends"
                         : "unknown command byte " + byte_text(code);
            parser->failed = true;
            partial.clear();
            return false;
        }
        const CommandSpec& spec = command_table[code];
        if (partial.size() - consumed < 1 + spec.argument_bytes) break;  // the rest comes later
        EditorMessage message{};
        message.command = static_cast<EditorCommand>(code);
        std::string why;
        if (!spec.decode(partial.data() + consumed + 1, *parser, &message, &why)) {
            *error = std::string(spec.name) + ": " + why;
            parser->failed = true;
            partial.clear();
            return false;
        }
        out->push_back(message);
        consumed += 1 + spec.argument_bytes;
    }
    partial.erase(partial.begin(), partial.begin() + static_cast<std::ptrdiff_t>(consumed));
    return true;
}

bool editor_finish(const EditorParser& parser, std::string* error) {
    if (parser.failed) return true;  // the fault was reported already
    if (!editor_greeted(parser)) {
        *error = "the connection ended inside the greeting (" + std::to_string(parser.greeting_seen) + " of " +
                 std::to_string(SERVER_GREETING.size()) + " bytes)";
        return false;
    }
    if (!parser.partial.empty()) {
        const CommandSpec& spec = command_table[parser.partial[0]];
        *error = std::string("the connection ended inside a ") + spec.name + " message (" +
                 std::to_string(parser.partial.size()) + " of " + std::to_string(1 + spec.argument_bytes) +
                 " bytes)";
        return false;
    }
    return true;
}

void encode_get_track(std::string_view track_name, std::vector<uint8_t>* out) {
    out->push_back(EDITOR_GET_TRACK);
    put_be32(static_cast<uint32_t>(track_name.size()), out);
    out->insert(out->end(), track_name.begin(), track_name.end());
}

void encode_set_row(uint32_t row, std::vector<uint8_t>* out) {
    out->push_back(EDITOR_SET_ROW);
    put_be32(row, out);
}

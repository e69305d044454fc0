// The track editor's wire protocol, as a byte-stream parser and the few
// messages the show sends. No sockets here: the link feeds in whatever bytes
// arrived and sends what the encoders return.
//
// The editor is the server. The show connects, sends CLIENT_GREETING and
// expects SERVER_GREETING back; then it asks for every track by name (GET_TRACK),
// which fixes the track indices the editor uses from then on. All integers are
// big-endian. The editor sends, at any time, one command byte followed by its
// arguments:
//   0 SET_KEY     track u32, row u32, value (f32 bits) u32, interpolation u8
//   1 DELETE_KEY  track u32, row u32
//   3 SET_ROW     row u32
//   4 PAUSE       flag u8 (0 plays, anything else pauses)
//   5 SAVE_TRACKS nothing
// The show sends 2 GET_TRACK (name length u32, name bytes) and 3 SET_ROW.
//
// Contract
// - editor_feed() takes the bytes in arrival order, in chunks of any size, and
//   appends every complete, valid message to `out` in order. A message is only
//   produced once all of its bytes are in and every argument is valid, so a
//   fault never leaves half a message applied.
// - The first fault (wrong greeting, unknown command byte, track index past the
//   last track, interpolation type above ramp, a key row past the i32 range)
//   makes editor_feed return false with one line in `error` naming it; the
//   messages before it are still in `out`. The parser is then spent: reset it
//   for a new connection.
// - editor_finish() tells the parser the connection ended: false with a line
//   when it stopped inside the greeting or inside a message.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int EDITOR_DEFAULT_PORT = 1338;
inline constexpr std::string_view CLIENT_GREETING = "hello, synctracker!";
inline constexpr std::string_view SERVER_GREETING = "hello, demo!";

enum EditorCommand : uint8_t {
    EDITOR_SET_KEY = 0,
    EDITOR_DELETE_KEY = 1,
    EDITOR_GET_TRACK = 2,
    EDITOR_SET_ROW = 3,
    EDITOR_PAUSE = 4,
    EDITOR_SAVE_TRACKS = 5,
};

// One decoded command from the editor. Only the fields of its command are set.
struct EditorMessage {
    EditorCommand command;
    uint32_t track;       // SET_KEY, DELETE_KEY
    int32_t row;          // SET_KEY, DELETE_KEY: the key's row
    uint32_t target_row;  // SET_ROW
    float value;          // SET_KEY
    int8_t type;          // SET_KEY: 0 step, 1 linear, 2 smooth, 3 ramp
    bool paused;          // PAUSE
};

struct EditorParser {
    uint32_t track_count = 0;    // tracks requested: indices at or past this are refused
    size_t greeting_seen = 0;    // bytes of the server greeting matched so far
    std::vector<uint8_t> partial;  // the start of a message still waiting for its end
    bool failed = false;
};

// A parser for a fresh connection that asked for track_count tracks.
void editor_parser_reset(EditorParser* parser, uint32_t track_count);

// True once the whole server greeting has arrived.
bool editor_greeted(const EditorParser& parser);

bool editor_feed(EditorParser* parser, const uint8_t* bytes, size_t count, std::vector<EditorMessage>* out,
                 std::string* error);
bool editor_finish(const EditorParser& parser, std::string* error);

// The name of a command byte ("SET_KEY", ...), or null for one the protocol lacks.
const char* editor_command_name(uint8_t command);

// Messages the show sends, appended to `out`.
void encode_get_track(std::string_view track_name, std::vector<uint8_t>* out);
void encode_set_row(uint32_t row, std::vector<uint8_t>* out);

// The timeline: 32 keyframed sync tracks carried inside the executable, read at
// the row clock that follows the music.
//
// Contract
// - Tracks are addressed by slot (TrackSlot). Slot order is the byte-wise
//   ascending order of the track names; the seven "img0:" and seven "img1:"
//   tracks are consecutive, in the order alpha, angle, index, mode, scale, x, y.
// - open_sync_tracks() (app_init) reads every track once from the embedded
//   track table through the I/O callbacks; destroy_sync_tracks() (app_cleanup)
//   frees them. Keys never change in between. Main thread only.
// - track_value(track, row) follows the track player's rules exactly: binary
//   search over floor(row), the first key's value before it, the last key's
//   value after it, and step / linear / smooth / ramp interpolation with t in
//   double from the unrounded row and the value difference in single precision.
//   A missing track or one without keys reads 0 at every row.
// - update_row_clock() is called once per frame with one read of the playback
//   position, before any part or layer runs; music_time and current_row are
//   read-only for everyone else.
// - A track file is a u32 key count N followed by N keys of 9 bytes each
//   (i32 row, f32 value, i8 interpolation), little-endian, no padding. A file
//   that ends inside a key keeps only the keys that are complete.
//
// The inline part of this header (names, name encoding, the file writer) has no
// link dependency, so the build-time track compiler shares it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/embedded.h"

// ---------------------------------------------------------------------------
// Names and slots

enum TrackSlot : int {
    TRACK_BG_INDEX,
    TRACK_CAM_AT_X,
    TRACK_CAM_AT_Y,
    TRACK_CAM_AT_Z,
    TRACK_CAM_DIST,
    TRACK_CAM_FOV,
    TRACK_CAM_INDEX,
    TRACK_CAM_ROLL,
    TRACK_CAM_X,
    TRACK_CAM_Y,
    TRACK_CAM_Z,
    TRACK_IMG0_ALPHA,
    TRACK_IMG0_ANGLE,
    TRACK_IMG0_INDEX,
    TRACK_IMG0_MODE,
    TRACK_IMG0_SCALE,
    TRACK_IMG0_X,
    TRACK_IMG0_Y,
    TRACK_IMG1_ALPHA,
    TRACK_IMG1_ANGLE,
    TRACK_IMG1_INDEX,
    TRACK_IMG1_MODE,
    TRACK_IMG1_SCALE,
    TRACK_IMG1_X,
    TRACK_IMG1_Y,
    TRACK_LIGHT,
    TRACK_PARAM,
    TRACK_PART,
    TRACK_POST_GLOW,
    TRACK_POST_VIGNETTE,
    TRACK_SIM_SHUFFLE,
    TRACK_SIM_SPEED,
    TRACK_COUNT
};

// An image layer's seven tracks, in name order: image_track(layer, IMG_SCALE).
inline constexpr int IMG_ALPHA = 0, IMG_ANGLE = 1, IMG_INDEX = 2, IMG_MODE = 3, IMG_SCALE = 4, IMG_X = 5, IMG_Y = 6;
inline constexpr int IMAGE_LAYER_TRACKS = 7;
constexpr TrackSlot image_track(int layer, int field) {
    return static_cast<TrackSlot>(TRACK_IMG0_ALPHA + layer * IMAGE_LAYER_TRACKS + field);
}
static_assert(image_track(1, IMG_ALPHA) == TRACK_IMG1_ALPHA && image_track(0, IMG_Y) == TRACK_IMG0_Y);
static_assert(image_track(1, IMG_Y) == TRACK_IMG1_Y && TRACK_IMG1_Y + 1 == TRACK_LIGHT);

// The track name table, in slot order.
inline constexpr const char* track_name_table[TRACK_COUNT] = {
    "bg.index",   "cam:at.x",   "cam:at.y",   "cam:at.z",   "cam:dist",   "cam:fov",
    "cam:index",  "cam:roll",   "cam:x",      "cam:y",      "cam:z",      "img0:alpha",
    "img0:angle", "img0:index", "img0:mode",  "img0:scale", "img0:x",     "img0:y",
    "img1:alpha", "img1:angle", "img1:index", "img1:mode",  "img1:scale", "img1:x",
    "img1:y",     "light",      "param",      "part",       "post:glow",  "post:vignette",
    "sim:shuffle", "sim:speed",
};

namespace sync_detail {
constexpr bool names_ascend() {
    for (int i = 1; i < TRACK_COUNT; ++i)
        if (!(std::string_view(track_name_table[i - 1]) < std::string_view(track_name_table[i]))) return false;
    return true;
}
}  // namespace sync_detail
static_assert(sync_detail::names_ascend(), "slot order is the byte-wise order of the names");

// The slot of a track name, or -1.
inline int track_slot(std::string_view name) {
    for (int i = 0; i < TRACK_COUNT; ++i)
        if (name == track_name_table[i]) return i;
    return -1;
}

// ---------------------------------------------------------------------------
// Name encodings
//
// Letters, digits, '.', '/' and '_' pass; every other byte becomes `escape`
// followed by its value in two upper-case hex digits. The player asks for files
// with escape '-' (P), the track table stores them with escape '_' (E). The
// result is cut at 259 characters, an escape never split.

inline std::string encode_track_name(std::string_view name, char escape) {
    constexpr size_t limit = 259;
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char ch : name) {
        bool passes = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                      ch == '.' || ch == '/' || ch == '_';
        if (passes) {
            if (out.size() + 1 > limit) break;
            out += static_cast<char>(ch);
        } else {
            if (out.size() + 3 > limit) break;
            out += escape;
            out += hex[ch >> 4];
            out += hex[ch & 15];
        }
    }
    return out;
}

inline constexpr char SYNC_BASE_NAME[] = "sync";

// The name a track is stored under in the track table: "sync_" + E(name) + ".track".
inline std::string track_file_name(std::string_view track_name) {
    return std::string(SYNC_BASE_NAME) + "_" + encode_track_name(track_name, '_') + ".track";
}

// ---------------------------------------------------------------------------
// Track file format

enum KeyType : int8_t { KEY_STEP = 0, KEY_LINEAR = 1, KEY_SMOOTH = 2, KEY_RAMP = 3 };

struct TrackKey {
    int32_t row;
    float value;
    int8_t type;  // interpolation towards the next key; see KeyType
};

inline constexpr size_t TRACK_COUNT_BYTES = 4;
inline constexpr size_t TRACK_KEY_BYTES = 9;

// The bytes of a track file holding `keys` (4 + 9N).
inline std::vector<unsigned char> write_track_file(const TrackKey* keys, size_t count) {
    static_assert(sizeof(float) == 4 && sizeof(int32_t) == 4);
    std::vector<unsigned char> out(TRACK_COUNT_BYTES + TRACK_KEY_BYTES * count);
    auto put_le32 = [&out](size_t at, uint32_t v) {
        for (int b = 0; b < 4; ++b) out[at + b] = static_cast<unsigned char>(v >> (8 * b));
    };
    put_le32(0, static_cast<uint32_t>(count));
    for (size_t k = 0; k < count; ++k) {
        size_t at = TRACK_COUNT_BYTES + TRACK_KEY_BYTES * k;
        uint32_t value_bits;
        std::memcpy(&value_bits, &keys[k].value, 4);
        put_le32(at, static_cast<uint32_t>(keys[k].row));
        put_le32(at + 4, value_bits);
        out[at + 8] = static_cast<unsigned char>(keys[k].type);
    }
    return out;
}

// ---------------------------------------------------------------------------
// The track player: a device with a base name, file I/O callbacks and the
// tracks it has read. The device owns its tracks; handles stay valid until
// sync_destroy_device.

struct SyncIoCb {
    void* (*open)(char* path, const char* mode);  // path is writable and zero-terminated
    size_t (*read)(void* destination, size_t element_size, size_t element_count, void* handle);
    int (*close)(void* handle);
};

struct SyncTrack {
    std::string name;
    std::vector<TrackKey> keys;  // strictly ascending rows
};

struct SyncDevice;

SyncDevice* sync_create_device(const char* base);
void sync_set_io_cb(SyncDevice* device, const SyncIoCb* cb);
// The track of that name; read through the open callback the first time it is
// asked for ("<base>_" + P(name) + ".track"). Without a file it has no keys.
const SyncTrack* sync_get_track(SyncDevice* device, const char* name);
double sync_get_val(const SyncTrack* track, double row);
void sync_destroy_device(SyncDevice* device);

// ---------------------------------------------------------------------------
// The track set

// The embedded track table: 32 entries {file name, bytes, size} in slot order.
extern "C" const EmbeddedFile track_files[];
extern "C" const int track_files_count;

// One open track file (zero-filled by track_open, freed by track_close).
struct TrackFileHandle {
    int32_t size;
    int32_t position;
    const unsigned char* bytes;  // into the track table; never owned
};

// I/O callbacks over the track table the set was opened with. track_open turns
// every '-' in path into '_' and then needs an exact match of a file name.
void* track_open(char* path, const char* mode);
size_t track_read(void* destination, size_t element_size, size_t element_count, void* handle);
int track_close(void* handle);

struct SyncTrackSet {
    SyncDevice* device;
    const SyncTrack* tracks[TRACK_COUNT];  // slot order
};

extern SyncTrackSet sync_tracks;

// Creates the "sync" device and reads the 32 tracks from `table` (the embedded
// track table unless a test passes its own). Opening again first destroys the
// previous set. Returns false only when the device cannot be created.
bool open_sync_tracks(const EmbeddedFile* table = track_files, int table_count = track_files_count);
void destroy_sync_tracks();

// sync_get_val of the track at the row widened to double; 0 for a null track.
double track_value(const SyncTrack* track, float row);
// The same for a slot of the open set; 0 before open_sync_tracks.
double track_value(TrackSlot slot, float row);

// ---------------------------------------------------------------------------
// The row clock

inline constexpr double PLAYBACK_BYTES_PER_SECOND = 352800.0;  // f32 stereo at 44,100 frames/s
inline constexpr double ROWS_PER_SECOND = 6.666666666666667;   // 400 rows a minute

extern float music_time;   // seconds of music played
extern float current_row;  // the row the tracks are read at

// From one read of the playback position (bytes handed to the audio device):
// both values computed in double from the unrounded seconds, stored as floats.
void update_row_clock(double playback_position_bytes);

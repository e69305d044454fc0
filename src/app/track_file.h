// The track file format and the track names: what the show reads and the
// build-time track compiler writes. Header only, with no link dependency, so
// the compiler and the tools share it.
//
// - Tracks are addressed by slot (TrackSlot). Slot order is the byte-wise
//   ascending order of the track names; the seven "img0:" and seven "img1:"
//   tracks are consecutive, in the order alpha, angle, index, mode, scale, x, y.
// - A track named n is stored as "sync_" + E(n) + ".track"; the player asks
//   for "sync_" + P(n) + ".track" (see encode_track_name).
// - A track file is a u32 key count N followed by N keys of 9 bytes each
//   (i32 row, f32 value, i8 interpolation), little-endian, no padding. A file
//   that ends inside a key keeps only the keys that are complete.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

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

namespace track_file_detail {
inline uint32_t get_le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void put_le32(unsigned char* p, uint32_t v) {
    for (int b = 0; b < 4; ++b) p[b] = static_cast<unsigned char>(v >> (8 * b));
}
}  // namespace track_file_detail

// The 9 bytes of one key, and back: i32 row, f32 value bits, i8 type.
inline void encode_track_key(const TrackKey& key, unsigned char* out) {
    static_assert(sizeof(float) == 4 && sizeof(int32_t) == 4);
    uint32_t value_bits;
    std::memcpy(&value_bits, &key.value, 4);
    track_file_detail::put_le32(out, static_cast<uint32_t>(key.row));
    track_file_detail::put_le32(out + 4, value_bits);
    out[8] = static_cast<unsigned char>(key.type);
}
inline TrackKey decode_track_key(const unsigned char* in) {
    TrackKey key;
    key.row = static_cast<int32_t>(track_file_detail::get_le32(in));
    uint32_t value_bits = track_file_detail::get_le32(in + 4);
    std::memcpy(&key.value, &value_bits, 4);
    key.type = static_cast<int8_t>(in[8]);
    return key;
}

// The bytes of a track file holding `keys` (4 + 9N).
inline std::vector<unsigned char> write_track_file(const TrackKey* keys, size_t count) {
    std::vector<unsigned char> out(TRACK_COUNT_BYTES + TRACK_KEY_BYTES * count);
    track_file_detail::put_le32(out.data(), static_cast<uint32_t>(count));
    for (size_t k = 0; k < count; ++k) encode_track_key(keys[k], out.data() + TRACK_COUNT_BYTES + TRACK_KEY_BYTES * k);
    return out;
}

// Reads a track file through `read(destination, bytes)`, which returns how
// many bytes it copied: the count, then per key three reads (row, value, type),
// as the player reads. A key the file ends inside is dropped together with
// everything after it; the count is never trusted for an allocation.
template <typename Read>
void read_track_keys(Read&& read, std::vector<TrackKey>& keys) {
    unsigned char word[TRACK_COUNT_BYTES];
    if (read(word, TRACK_COUNT_BYTES) != TRACK_COUNT_BYTES) return;
    uint32_t count = track_file_detail::get_le32(word);
    for (uint32_t k = 0; k < count; ++k) {
        unsigned char key[TRACK_KEY_BYTES];
        if (read(key, 4) != 4 || read(key + 4, 4) != 4 || read(key + 8, 1) != 1) return;
        keys.push_back(decode_track_key(key));
    }
}

// The keys of a track file held in memory, by the same rule.
inline std::vector<TrackKey> read_track_file(const unsigned char* bytes, size_t size) {
    std::vector<TrackKey> keys;
    size_t position = 0;
    read_track_keys(
        [&](unsigned char* destination, size_t n) {
            n = std::min(n, size - position);
            if (n > 0) std::memcpy(destination, bytes + position, n);
            position += n;
            return n;
        },
        keys);
    return keys;
}

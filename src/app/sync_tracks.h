// The show's timeline: the 32 keyframed sync tracks carried inside the
// executable, opened through the track player, and the row clock that follows
// the music. Names, slots and the file format are in app/track_file.h.
//
// Contract
// - open_sync_tracks() (app_init) reads every track once from the embedded
//   track table through the I/O callbacks; destroy_sync_tracks() (app_cleanup)
//   frees them. Keys never change in between. Main thread only.
// - track_value(track, row) follows the track player's rules exactly: binary
//   search over floor(row), the first key's value before it, the last key's
//   value after it, and step / linear / smooth / ramp interpolation with t in
//   double from the unrounded row and the value difference in single precision.
//   A missing track or one without keys reads 0 at every row.
// - This set is read-only. A program that edits tracks while the show runs
//   (app/editable_tracks.h) makes track_value by slot read its own keys, with
//   the same lookup (track_keys_value).
// - update_row_clock() is called once per frame with one read of the playback
//   position, before any part or layer runs; music_time and current_row are
//   read-only for everyone else.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "app/track_file.h"
#include "audio/pcm_format.h"
#include "platform/embedded.h"

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

// The player's value at `row` over any keys in strictly ascending row order
// (what sync_get_val computes for a track); 0 without keys.
double track_keys_value(const TrackKey* keys, size_t count, double row);

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
// The same for a slot of the open set; 0 before open_sync_tracks. While a
// program edits the tracks (use_editable_tracks) the slot reads its keys.
double track_value(TrackSlot slot, float row);

// ---------------------------------------------------------------------------
// The row clock

inline constexpr double PLAYBACK_BYTES_PER_SECOND = kPcmBytesPerSecond;  // f32 stereo at 44,100 frames/s
inline constexpr double ROWS_PER_SECOND = 6.666666666666667;   // 400 rows a minute

extern float music_time;   // seconds of music played
extern float current_row;  // the row the tracks are read at

// From one read of the playback position (bytes handed to the audio device):
// both values computed in double from the unrounded seconds, stored as floats.
void update_row_clock(double playback_position_bytes);

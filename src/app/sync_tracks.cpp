#include "app/sync_tracks.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>

#include "app/editable_tracks.h"

// ---------------------------------------------------------------------------
// The track player

struct SyncDevice {
    std::string base;
    SyncIoCb io{};
    std::vector<std::unique_ptr<SyncTrack>> tracks;
};

SyncDevice* sync_create_device(const char* base) {
    auto* device = new (std::nothrow) SyncDevice;
    if (device) device->base = base;
    return device;
}

void sync_set_io_cb(SyncDevice* device, const SyncIoCb* cb) { device->io = *cb; }

void sync_destroy_device(SyncDevice* device) { delete device; }

const SyncTrack* sync_get_track(SyncDevice* device, const char* name) {
    for (const auto& track : device->tracks)
        if (track->name == name) return track.get();

    auto track = std::make_unique<SyncTrack>();
    track->name = name;
    if (device->io.open) {
        std::string path = device->base + "_" + encode_track_name(name, '-') + ".track";
        if (void* file = device->io.open(path.data(), "rb")) {
            const SyncIoCb& io = device->io;
            read_track_keys([&](unsigned char* destination, size_t n) { return io.read(destination, 1, n, file); },
                            track->keys);
            device->io.close(file);
        }
    }
    device->tracks.push_back(std::move(track));
    return device->tracks.back().get();
}

namespace {

// The last key whose row <= row, or -1 when row is before the first key.
int find_key_floor(const TrackKey* keys, int count, int row) {
    int lo = 0, hi = count;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (keys[mid].row < row)
            lo = mid + 1;
        else if (keys[mid].row > row)
            hi = mid;
        else
            return mid;
    }
    return lo - 1;  // lo is the first key after row
}

int floor_to_int(double row) {
    double f = std::floor(row);
    if (!(f > double(INT_MIN))) return INT_MIN;  // NaN lands here too
    if (f >= double(INT_MAX)) return INT_MAX;
    return static_cast<int>(f);
}

}  // namespace

double track_keys_value(const TrackKey* keys, size_t count, double row) {
    if (count == 0) return 0.0;
    const int n = static_cast<int>(count);
    int k = find_key_floor(keys, n, floor_to_int(row));
    if (k < 0) return keys[0].value;
    if (k >= n - 1) return keys[n - 1].value;

    const TrackKey& a = keys[k];
    const TrackKey& b = keys[k + 1];
    double t = (row - a.row) / (double(b.row) - a.row);
    float d = b.value - a.value;
    switch (a.type) {
    case KEY_STEP: return a.value;
    case KEY_LINEAR: return a.value + d * t;
    case KEY_SMOOTH: return a.value + d * (t * t * (3 - 2 * t));  // the weight first, as the player groups it
    case KEY_RAMP: return a.value + d * std::pow(t, 2.0);
    default: return 0.0;
    }
}

double sync_get_val(const SyncTrack* track, double row) {
    if (!track) return 0.0;
    return track_keys_value(track->keys.data(), track->keys.size(), row);
}

// ---------------------------------------------------------------------------
// The track set

SyncTrackSet sync_tracks{};

namespace {
// The table the I/O callbacks serve, fixed by open_sync_tracks.
const EmbeddedFile* open_table = nullptr;
int open_table_count = 0;
}  // namespace

void* track_open(char* path, const char*) {
    for (char* p = path; *p; ++p)
        if (*p == '-') *p = '_';
    for (int i = 0; i < open_table_count; ++i) {
        if (std::strcmp(path, open_table[i].name) != 0) continue;
        auto* handle = new (std::nothrow) TrackFileHandle{};
        if (!handle) return nullptr;
        handle->size = open_table[i].size;
        handle->bytes = open_table[i].bytes;
        return handle;
    }
    return nullptr;
}

size_t track_read(void* destination, size_t element_size, size_t element_count, void* handle) {
    auto* file = static_cast<TrackFileHandle*>(handle);
    size_t left = static_cast<size_t>(file->size - file->position);
    size_t n = std::min(left, element_size * element_count);
    if (n > 0) std::memcpy(destination, file->bytes + file->position, n);  // an empty file may have no bytes at all
    file->position += static_cast<int32_t>(n);
    return n;
}

int track_close(void* handle) {
    delete static_cast<TrackFileHandle*>(handle);
    return 0;
}

bool open_sync_tracks(const EmbeddedFile* table, int table_count) {
    destroy_sync_tracks();
    SyncDevice* device = sync_create_device(SYNC_BASE_NAME);
    if (!device) return false;
    const SyncIoCb io{track_open, track_read, track_close};
    sync_set_io_cb(device, &io);
    open_table = table;
    open_table_count = table_count;
    sync_tracks.device = device;
    for (int slot = 0; slot < TRACK_COUNT; ++slot) sync_tracks.tracks[slot] = sync_get_track(device, track_name_table[slot]);
    return true;
}

void destroy_sync_tracks() {
    if (sync_tracks.device) sync_destroy_device(sync_tracks.device);
    sync_tracks = SyncTrackSet{};
}

double track_value(const SyncTrack* track, float row) { return sync_get_val(track, static_cast<double>(row)); }

double track_value(TrackSlot slot, float row) {
    if (slot < 0 || slot >= TRACK_COUNT) return 0.0;
    if (const EditableTrackSet* edited = editable_tracks_in_use()) return editable_track_value(*edited, slot, row);
    return track_value(sync_tracks.tracks[slot], row);
}

// ---------------------------------------------------------------------------
// The row clock

float music_time = 0.0f;
float current_row = 0.0f;

void update_row_clock(double playback_position_bytes) {
    double seconds = playback_position_bytes / PLAYBACK_BYTES_PER_SECOND;
    music_time = static_cast<float>(seconds);
    current_row = static_cast<float>(seconds * ROWS_PER_SECOND);
}

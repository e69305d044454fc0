// The show's track reader over one arbitrary track file: the input is the
// file of every one of the 32 tracks, opened through the player's I/O
// callbacks as the show opens its embedded table. What the player reads must
// be what the in-memory reader reads, and a track in strictly ascending rows
// must give each key's own value at its row.
#include <cmath>
#include <string>
#include <vector>

#include "app/sync_tracks.h"
#include "fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;  // the embedded files are a few kilobytes
    std::vector<std::string> names;
    std::vector<EmbeddedFile> table;
    for (int slot = 0; slot < TRACK_COUNT; ++slot) names.push_back(track_file_name(track_name_table[slot]));
    for (const std::string& name : names)
        table.push_back(EmbeddedFile{name.c_str(), data, static_cast<int32_t>(size)});
    FUZZ_CHECK(open_sync_tracks(table.data(), static_cast<int>(table.size())));

    const std::vector<TrackKey> expected = read_track_file(data, size);
    FUZZ_CHECK(expected.size() <= (size < TRACK_COUNT_BYTES ? 0 : (size - TRACK_COUNT_BYTES) / TRACK_KEY_BYTES));
    bool ascending = true, finite = true;
    for (size_t k = 0; k < expected.size(); ++k) {
        if (k > 0 && expected[k].row <= expected[k - 1].row) ascending = false;
        if (!std::isfinite(expected[k].value) || expected[k].type < KEY_STEP || expected[k].type > KEY_RAMP) finite = false;
    }
    for (int slot = 0; slot < TRACK_COUNT; ++slot) {
        const SyncTrack* track = sync_tracks.tracks[slot];
        FUZZ_CHECK(track != nullptr && track->keys.size() == expected.size());
        for (size_t k = 0; k < expected.size(); ++k) {
            const TrackKey& key = track->keys[k];
            FUZZ_CHECK(key.row == expected[k].row && key.type == expected[k].type);
            FUZZ_CHECK(std::memcmp(&key.value, &expected[k].value, sizeof key.value) == 0);
        }
    }
    // Values between, before and after the keys; any key order must be safe to read.
    const SyncTrack* track = sync_tracks.tracks[TRACK_PART];
    for (size_t k = 0; k < expected.size() && k < 64; ++k) {
        const double row = expected[k].row;
        for (double offset : {-1.5, -0.5, 0.25, 0.5, 1.0}) (void)sync_get_val(track, row + offset);
        if (ascending && finite) FUZZ_CHECK(sync_get_val(track, row) == double(expected[k].value));
    }
    for (double row : {-1e30, -1.0, 0.0, 1e30, double(NAN), double(INFINITY)}) (void)sync_get_val(track, row);
    destroy_sync_tracks();
    return 0;
}

#include "app/editable_tracks.h"

#include <algorithm>

#include "app/sync_tracks.h"

namespace {
const EditableTrackSet* tracks_in_use = nullptr;

std::vector<TrackKey>::iterator first_at_or_after(std::vector<TrackKey>* keys, int32_t row) {
    return std::lower_bound(keys->begin(), keys->end(), row,
                            [](const TrackKey& key, int32_t r) { return key.row < r; });
}
}  // namespace

void set_track_key(std::vector<TrackKey>* keys, TrackKey key) {
    auto at = first_at_or_after(keys, key.row);
    if (at != keys->end() && at->row == key.row)
        *at = key;
    else
        keys->insert(at, key);
}

bool delete_track_key(std::vector<TrackKey>* keys, int32_t row) {
    auto at = first_at_or_after(keys, row);
    if (at == keys->end() || at->row != row) return false;
    keys->erase(at);
    return true;
}

void copy_open_tracks(EditableTrackSet* set) {
    for (int slot = 0; slot < TRACK_COUNT; ++slot) {
        const SyncTrack* track = sync_tracks.tracks[slot];
        set->tracks[slot] = track ? track->keys : std::vector<TrackKey>{};
    }
}

void clear_tracks(EditableTrackSet* set) {
    for (std::vector<TrackKey>& keys : set->tracks) keys.clear();
}

double editable_track_value(const EditableTrackSet& set, TrackSlot slot, float row) {
    if (slot < 0 || slot >= TRACK_COUNT) return 0.0;
    const std::vector<TrackKey>& keys = set.tracks[slot];
    return track_keys_value(keys.data(), keys.size(), static_cast<double>(row));
}

void use_editable_tracks(const EditableTrackSet* set) { tracks_in_use = set; }

const EditableTrackSet* editable_tracks_in_use() { return tracks_in_use; }

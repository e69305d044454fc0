// Tracks whose keys change while the show runs: what a live link to the track
// editor edits (velmo-edit). The show's own track set stays read-only.
//
// Contract
// - Each slot holds its keys in strictly ascending, unique row order, as the
//   lookup needs; set_track_key and delete_track_key keep that order.
// - editable_track_value reads with the same lookup as the show's tracks
//   (track_keys_value), so an edited track answers exactly as a track file with
//   the same keys would.
// - use_editable_tracks(set) makes the frame (track_value by slot) read `set`
//   from then on, until use_editable_tracks(nullptr). The set must outlive that
//   use. Main thread only.
#pragma once
#include <cstdint>
#include <vector>

#include "app/track_file.h"

struct EditableTrackSet {
    std::vector<TrackKey> tracks[TRACK_COUNT];  // slot order
};

// Inserts the key, or replaces the key at its row.
void set_track_key(std::vector<TrackKey>* keys, TrackKey key);
// Removes the key at row; false when there is none.
bool delete_track_key(std::vector<TrackKey>* keys, int32_t row);

// Every slot's keys from the show's open track set (the embedded timeline).
void copy_open_tracks(EditableTrackSet* set);
void clear_tracks(EditableTrackSet* set);

double editable_track_value(const EditableTrackSet& set, TrackSlot slot, float row);

void use_editable_tracks(const EditableTrackSet* set);
const EditableTrackSet* editable_tracks_in_use();

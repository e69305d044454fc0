// A track table held in memory, for opening the track set on hand-made files.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "app/sync_tracks.h"

struct TrackTableFixture {
    std::vector<std::string> names;
    std::vector<std::vector<unsigned char>> blobs;
    std::vector<EmbeddedFile> entries;

    void add_file(std::string file_name, std::vector<unsigned char> bytes) {
        names.push_back(std::move(file_name));
        blobs.push_back(std::move(bytes));
    }
    void add_track(std::string_view track_name, const std::vector<TrackKey>& keys) {
        add_file(track_file_name(track_name), write_track_file(keys.data(), keys.size()));
    }
    // The entries point into names and blobs, so they are made once all files are in.
    bool open() {
        entries.clear();
        for (size_t i = 0; i < names.size(); ++i)
            entries.push_back(EmbeddedFile{names[i].c_str(), blobs[i].data(), static_cast<int32_t>(blobs[i].size())});
        return open_sync_tracks(entries.data(), static_cast<int>(entries.size()));
    }
};

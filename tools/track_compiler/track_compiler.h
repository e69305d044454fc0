// Compiles the timeline project (the track editor's XML: a <tracks> element of
// <track name="..."> elements holding <key row="..." value="..."
// interpolation="..."/>) into the 32 track files the show embeds.
//
// Every refusal names the file, the line and, where there is one, the track;
// nothing is written unless the whole project is sound.
#pragma once
#include <string>
#include <vector>

#include "app/track_file.h"

struct CompiledTimeline {
    std::vector<TrackKey> tracks[TRACK_COUNT];  // slot order
};

// Parses `xml`; `file_label` is the name used in messages. On failure returns
// false and sets `error` to one line "file:line: what".
bool compile_timeline(const char* xml, const std::string& file_label, CompiledTimeline& out, std::string& error);

// Writes every track as "<directory>/" + track_file_name(name) and reads each
// file back: a file that is not exactly 4 + 9N bytes of what was meant fails.
bool write_track_files(const CompiledTimeline& timeline, const std::string& directory, std::string& error);

#include "edit_session.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "app/parts.h"
#include "app/sync_tracks.h"
#include "audio/music.h"
#include "track_compiler/track_compiler.h"

namespace {

void jump_to_row(EditSession* session, uint32_t row) {
    seek_playback_position(double(row) * PLAYBACK_BYTES_PER_ROW);
    scene_setup_afresh_requested = true;
    session->last_row = row;  // the editor knows where it sent us
}

void save(EditSession* session) {
    std::string where, error;
    if (save_track_files(session->tracks, session->save_dir, &where, &error)) {
        std::printf("velmo-edit: saved %d track files to %s\n", TRACK_COUNT, where.c_str());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "velmo-edit: the tracks were not saved: %s\n", error.c_str());
    }
}

void apply(EditSession* session, const EditorMessage& message) {
    switch (message.command) {
    case EDITOR_SET_KEY:
        set_track_key(&session->tracks.tracks[message.track], TrackKey{message.row, message.value, message.type});
        break;
    case EDITOR_DELETE_KEY: delete_track_key(&session->tracks.tracks[message.track], message.row); break;
    case EDITOR_SET_ROW: jump_to_row(session, message.target_row); break;
    case EDITOR_PAUSE: set_music_paused(message.paused); break;
    case EDITOR_SAVE_TRACKS: save(session); break;
    case EDITOR_GET_TRACK: break;  // the parser never yields it
    }
}

}  // namespace

bool edit_session_open(EditSession* session, const std::string& host, int port, const std::string& save_dir,
                       std::string* error) {
    session->save_dir = save_dir;
    session->last_row = -1;
    std::vector<std::string> names(std::begin(track_name_table), std::end(track_name_table));
    return editor_link_open(&session->link, host, port, std::move(names), error);
}

void edit_session_use_tracks(EditSession* session) {
    copy_open_tracks(&session->tracks);
    use_editable_tracks(&session->tracks);
}

void edit_session_poll(EditSession* session, uint64_t now_ns) {
    EditorLinkEvents events;
    editor_link_poll(&session->link, now_ns, &events);
    if (events.greeted) {
        clear_tracks(&session->tracks);  // the editor sends every key it has
        session->last_row = -1;          // and learns where the music is
    }
    for (const EditorMessage& message : events.messages) apply(session, message);
}

void edit_session_follow(EditSession* session) {
    if (!editor_link_connected(session->link) || music_paused()) return;
    const auto row = static_cast<int64_t>(std::floor(current_row));
    if (row == session->last_row) return;
    session->last_row = row;
    editor_link_send_row(&session->link, static_cast<uint32_t>(row));
}

void edit_session_close(EditSession* session) {
    editor_link_close(&session->link);
    if (editable_tracks_in_use() == &session->tracks) use_editable_tracks(nullptr);
}

bool save_track_files(const EditableTrackSet& tracks, const std::string& directory, std::string* where,
                      std::string* error) {
    CompiledTimeline timeline;
    for (int slot = 0; slot < TRACK_COUNT; ++slot) timeline.tracks[slot] = tracks.tracks[slot];
    if (!write_track_files(timeline, directory, *error)) return false;
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(directory, ec);
    *where = ec ? directory : absolute.lexically_normal().string();
    return true;
}

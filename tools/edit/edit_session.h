// velmo-edit's link between the track editor and the running show, without
// the window: the editable tracks the frame reads, the connection, and what
// each editor command does to the tracks and the music.
//
// Each frame: edit_session_poll() before app_frame (the editor's changes show in
// that same frame), edit_session_follow() after it (the editor's cursor follows
// the row the frame showed). Neither ever waits on the network.
//
// - Until an editor answers, the tracks are the embedded timeline. When one
//   answers the greeting they start empty and fill with the keys it sends; when
//   the connection drops the last keys stay and the link tries again.
// - SET_KEY / DELETE_KEY edit the tracks; SET_ROW moves the music's playback
//   position to the row (playing or paused) and asks the scene part to set its
//   scene up afresh; PAUSE stops and restarts the music and its row clock;
//   SAVE_TRACKS writes the 32 track files into the save folder and says where.
// - While playing, each change of the integer row is sent to the editor once.
#pragma once
#include <cstdint>
#include <string>

#include "app/editable_tracks.h"
#include "editor_link.h"

struct EditSession {
    EditorLink link;
    EditableTrackSet tracks;
    std::string save_dir = ".";
    int64_t last_row = -1;  // the integer row the editor was last told, or jumped to
};

// Music bytes per row: 352,800 bytes a second at 400 rows a minute.
inline constexpr double PLAYBACK_BYTES_PER_ROW = 352800.0 * 60.0 / 400.0;
static_assert(PLAYBACK_BYTES_PER_ROW == 52920.0);

// Opens the link (no connection yet) before the window exists. False with a
// line in *error when the host cannot be resolved.
bool edit_session_open(EditSession* session, const std::string& host, int port, const std::string& save_dir,
                       std::string* error);
// After app_init: copies the open tracks and makes the frame read the copy.
void edit_session_use_tracks(EditSession* session);
void edit_session_poll(EditSession* session, uint64_t now_ns);
void edit_session_follow(EditSession* session);
// Closes the link; the frame goes back to the show's own tracks.
void edit_session_close(EditSession* session);

// The 32 track files of `tracks` in the show's format, into directory (made when
// missing). On success *where is the folder's absolute path.
bool save_track_files(const EditableTrackSet& tracks, const std::string& directory, std::string* where,
                      std::string* error);

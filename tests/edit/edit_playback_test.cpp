// The editor moving the show: pause, jumps, and the cursor following the music,
// on the real frame with the manual audio device (the music plays exactly as
// far as the test pulls it).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>

#include "app/frame_driver.h"
#include "app/parts.h"
#include "app/sync_tracks.h"
#include "audio/music.h"
#include "edit_session.h"
#include "edit_loop.h"
#include "scripted_editor.h"
#include "support/frame_harness.h"

namespace {

constexpr uint64_t frame_ns = 16666667;

class EditPlaybackTest : public ::testing::Test {
  protected:
    ScriptedEditor editor;
    EditSession session;
    uint64_t now_ns = frame_ns;

    void SetUp() override {
        ASSERT_TRUE(harness_open(64, 36));
        edit_session_use_tracks(&session);  // before the editor: the embedded timeline
        harness_frame(now_ns);              // the first frame loads and starts the music
        ASSERT_TRUE(music_started());
        for (int slot = 0; slot < TRACK_COUNT; ++slot) editor.keys[track_name_table[slot]] = sync_tracks.tracks[slot]->keys;
        ASSERT_TRUE(editor.listen());
        std::string error;
        ASSERT_TRUE(edit_session_open(&session, "127.0.0.1", editor.port, ".", &error)) << error;
        ASSERT_TRUE(pump_until([&] {
            return editor.decode_received().track_names.size() == TRACK_COUNT && editor.outgoing.empty() &&
                   session.tracks.tracks[TRACK_SIM_SPEED].size() == editor.keys["sim:speed"].size();
        }));
    }
    void TearDown() override {
        edit_session_close(&session);
        harness_close();
    }

    template <typename Done>
    bool pump_until(Done done) {
        return ::pump_until(editor, session, now_ns, done);
    }

    // One frame of velmo-edit, with audio_frames of music played before it.
    void frame(uint32_t audio_frames) {
        now_ns += frame_ns;
        edit_session_poll(&session, now_ns);
        harness_frame(now_ns, audio_frames);
        edit_session_follow(&session);
    }
};

TEST_F(EditPlaybackTest, PausedTheClockStandsAndJumpsLandExactlyOnTheRow) {
    frame(4410);
    const double playing = read_playback_position();
    EXPECT_EQ(playing, 4410.0 * 8);

    editor.send_pause(true);
    ASSERT_TRUE(pump_until([] { return music_paused(); }));
    for (int i = 0; i < 5; ++i) frame(4410);
    EXPECT_EQ(read_playback_position(), playing);

    scene_setup_afresh_requested = false;
    editor.send_set_row(700);
    ASSERT_TRUE(pump_until([] { return read_playback_position() != 4410.0 * 8; }));
    EXPECT_EQ(read_playback_position(), 700 * 52920.0);  // 700 rows × 0.15 s × 352,800 bytes
    EXPECT_TRUE(scene_setup_afresh_requested);
    frame(4410);
    EXPECT_EQ(current_row, 700.0f);
    EXPECT_EQ(read_playback_position(), 700 * 52920.0);

    // Paused, the picture stays live: a key set at the current row shows in the next frame.
    EXPECT_EQ(frame_driver.active_part, 2);
    editor.send_set_key(TRACK_PART, 700, 1.0f, KEY_STEP);
    ASSERT_TRUE(pump_until([] { return track_value(TRACK_PART, 700.0f) == 1.0; }));
    frame(4410);
    EXPECT_EQ(frame_driver.active_part, 1);

    editor.send_pause(false);
    ASSERT_TRUE(pump_until([] { return !music_paused(); }));
    frame(4410);
    EXPECT_EQ(read_playback_position(), 700 * 52920.0 + 4410.0 * 8);
}

TEST_F(EditPlaybackTest, PlayingTheEditorHearsEachRowOnce) {
    editor.send_set_row(100);
    ASSERT_TRUE(pump_until([] { return read_playback_position() == 100 * 52920.0; }));
    // A third of a row per frame for ten rows.
    for (int i = 0; i < 30; ++i) frame(2205);
    ASSERT_TRUE(pump_until([&] { return !editor.decode_received().rows.empty() && editor.decode_received().rows.back() ==
                                                                                     uint32_t(std::floor(current_row)); }));
    const std::vector<uint32_t> rows = editor.decode_received().rows;
    ASSERT_GE(rows.size(), 9u);
    EXPECT_EQ(rows.front(), 101u);  // the jump itself is not sent back
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i], rows[i - 1] + 1) << "at " << i;
    EXPECT_EQ(current_row, 110.0f);

    // Paused, nothing is sent.
    editor.send_pause(true);
    ASSERT_TRUE(pump_until([] { return music_paused(); }));
    editor.send_set_row(200);
    ASSERT_TRUE(pump_until([] { return read_playback_position() == 200 * 52920.0; }));
    for (int i = 0; i < 5; ++i) frame(2205);
    for (int i = 0; i < 20; ++i) editor.pump();
    EXPECT_EQ(editor.decode_received().rows.size(), rows.size());
}

}  // namespace

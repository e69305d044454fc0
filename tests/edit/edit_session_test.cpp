// velmo-edit's session against the scripted editor over loopback: the
// greeting, the track requests, the keys, the bad inputs and reconnecting.
#include "edit_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/sync_tracks.h"
#include "edit_loop.h"
#include "scripted_editor.h"

namespace {

constexpr uint64_t second_ns = 1000000000;

class EditSessionTest : public ::testing::Test {
  protected:
    ScriptedEditor editor;
    EditSession session;
    uint64_t now_ns = 1;

    void SetUp() override {
        ASSERT_TRUE(open_sync_tracks());
        for (int slot = 0; slot < TRACK_COUNT; ++slot) editor.keys[track_name_table[slot]] = sync_tracks.tracks[slot]->keys;
        ASSERT_TRUE(editor.listen());
        std::string error;
        ASSERT_TRUE(edit_session_open(&session, "127.0.0.1", editor.port, ".", &error)) << error;
        edit_session_use_tracks(&session);
    }
    void TearDown() override {
        edit_session_close(&session);
        destroy_sync_tracks();
    }

    // Runs the editor and one session poll per round, up to 2 s, until done().
    template <typename Done>
    bool pump_until(Done done) {
        return ::pump_until(editor, session, now_ns, done);
    }

    std::vector<TrackKey> embedded_keys(TrackSlot slot) const { return sync_tracks.tracks[slot]->keys; }
    bool holds_embedded_timeline() const {
        for (int slot = 0; slot < TRACK_COUNT; ++slot)
            if (!same_keys(session.tracks.tracks[slot], embedded_keys(TrackSlot(slot)))) return false;
        return true;
    }
    static bool same_keys(const std::vector<TrackKey>& a, const std::vector<TrackKey>& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const TrackKey& x, const TrackKey& y) {
                   return x.row == y.row && std::memcmp(&x.value, &y.value, 4) == 0 && x.type == y.type;
               });
    }

    // Connected, every track asked for and every key the editor holds applied.
    void connect_and_sync() {
        ASSERT_TRUE(pump_until([&] {
            return editor.connected() && editor.decode_received().track_names.size() == TRACK_COUNT;
        }));
        ASSERT_TRUE(pump_until([&] { return editor.outgoing.empty() && holds_embedded_timeline(); }));
        ASSERT_TRUE(editor_link_connected(session.link));
    }
};

TEST_F(EditSessionTest, GreetsThenAsksForEveryTrackInSlotOrder) {
    connect_and_sync();
    const ClientStream stream = editor.decode_received();
    EXPECT_TRUE(stream.well_formed);
    EXPECT_EQ(stream.greeting, "hello, synctracker!");
    const std::vector<std::string> expected(std::begin(track_name_table), std::end(track_name_table));
    EXPECT_EQ(stream.track_names, expected);
    EXPECT_EQ(stream.track_names.front(), "bg.index");
    EXPECT_EQ(stream.track_names[TRACK_POST_VIGNETTE], "post:vignette");
}

TEST_F(EditSessionTest, KeysFromTheEditorReadAsTheEmbeddedTimeline) {
    // A key the editor does not have: the tracks start empty on connecting.
    set_track_key(&session.tracks.tracks[TRACK_PART], TrackKey{500, 99.0f, KEY_STEP});
    connect_and_sync();
    for (int i = 0; i < 1000; ++i) {
        const float row = static_cast<float>(i) * 1.2673f;  // 0 … 1266.0, most of them fractional
        for (int slot = 0; slot < TRACK_COUNT; ++slot) {
            const double shown = track_value(TrackSlot(slot), row);  // what the frame reads
            const double embedded = track_value(sync_tracks.tracks[slot], row);
            ASSERT_EQ(shown, embedded) << track_name_table[slot] << " at row " << row;
        }
    }
}

TEST_F(EditSessionTest, SetKeyInsertsAndReplacesAndDeleteKeyRemoves) {
    editor.keys.clear();  // an editor with empty tracks
    ASSERT_TRUE(pump_until([&] { return editor.decode_received().track_names.size() == TRACK_COUNT; }));
    auto value_at = [](float row) { return track_value(TRACK_BG_INDEX, row); };
    ASSERT_TRUE(pump_until([&] { return session.tracks.tracks[TRACK_BG_INDEX].empty() && value_at(5) == 0.0; }));

    editor.send_set_key(TRACK_BG_INDEX, 10, 4.0f, KEY_LINEAR);
    editor.send_set_key(TRACK_BG_INDEX, 20, 8.0f, KEY_STEP);
    editor.send_set_key(TRACK_BG_INDEX, 0, 2.0f, KEY_LINEAR);  // inserted before the others
    ASSERT_TRUE(pump_until([&] { return session.tracks.tracks[TRACK_BG_INDEX].size() == 3; }));
    EXPECT_EQ(value_at(5.0f), 3.0);   // between 0 (2) and 10 (4)
    EXPECT_EQ(value_at(15.0f), 6.0);  // between 10 (4) and 20 (8)
    EXPECT_EQ(value_at(25.0f), 8.0);

    editor.send_set_key(TRACK_BG_INDEX, 10, 0.0f, KEY_STEP);  // replaces the key at row 10
    ASSERT_TRUE(pump_until([&] { return value_at(15.0f) == 0.0; }));
    EXPECT_EQ(session.tracks.tracks[TRACK_BG_INDEX].size(), 3u);
    EXPECT_EQ(value_at(5.0f), 1.0);

    editor.send_delete_key(TRACK_BG_INDEX, 10);
    ASSERT_TRUE(pump_until([&] { return session.tracks.tracks[TRACK_BG_INDEX].size() == 2; }));
    EXPECT_EQ(value_at(10.0f), 5.0);  // now halfway between 0 (2) and 20 (8)
    editor.send_delete_key(TRACK_BG_INDEX, 11);  // no key there: nothing changes
    editor.send_delete_key(TRACK_BG_INDEX, 0);
    ASSERT_TRUE(pump_until([&] { return session.tracks.tracks[TRACK_BG_INDEX].size() == 1; }));
    EXPECT_EQ(value_at(0.0f), 8.0);

    const std::vector<TrackKey>& keys = session.tracks.tracks[TRACK_BG_INDEX];
    EXPECT_EQ(keys[0].row, 20);
    EXPECT_TRUE(editor_link_connected(session.link));
}

// Each case, on a fresh connection: either a wrong greeting, or bytes the
// editor sends after a valid SET_KEY (row 600 of "part" set to 7) in the same
// burst. The link drops with one line naming the fault; the tracks are as they
// were before the faulty message.
struct BadInput {
    const char* what;
    const char* greeting;  // null: the right one
    std::vector<uint8_t> bytes;
    bool then_disconnect;
    const char* message;
};

std::vector<uint8_t> set_key_bytes(uint32_t track, uint32_t row, uint32_t value_bits, uint8_t type) {
    std::vector<uint8_t> b = {0};
    append_be32(&b, track);
    append_be32(&b, row);
    append_be32(&b, value_bits);
    b.push_back(type);
    return b;
}

std::vector<BadInput> bad_inputs() {
    std::vector<uint8_t> delete_past = {1};
    append_be32(&delete_past, 32);
    append_be32(&delete_past, 0);
    std::vector<uint8_t> cut = set_key_bytes(TRACK_PART, 601, 0, 0);
    cut.resize(5);
    return {
        {"wrong greeting", "hello, demi!", {}, false, "wrong greeting: byte 10"},
        {"greeting cut off", "hello", {}, true, "inside the greeting (5 of 12 bytes)"},
        {"unknown command byte", nullptr, {9, 0, 0, 0}, false, "unknown command byte 9"},
        {"command the show sends", nullptr, {2, 0, 0, 0, 0}, false, "GET_TRACK"},
        {"set key past track 31", nullptr, set_key_bytes(32, 601, 0, 0), false, "track index 32"},
        {"delete key past track 31", nullptr, delete_past, false, "track index 32"},
        {"type above 3", nullptr, set_key_bytes(TRACK_PART, 601, 0, 4), false, "interpolation type 4"},
        {"row past the i32 range", nullptr, set_key_bytes(TRACK_PART, 0x80000000u, 0, 0), false, "key row 2147483648"},
        {"cut off at the end", nullptr, cut, true, "inside a SET_KEY message (5 of 14 bytes)"},
    };
}

TEST_F(EditSessionTest, BadInputDropsTheConnectionAndKeepsTheTracks) {
    float seven = 7.0f;
    uint32_t seven_bits;
    std::memcpy(&seven_bits, &seven, 4);
    for (const BadInput& bad : bad_inputs()) {
        SCOPED_TRACE(bad.what);
        editor.disconnect();
        editor.reply_greeting = bad.greeting ? bad.greeting : "hello, demo!";
        now_ns += second_ns;  // the next try is due
        session.link.last_error.clear();
        EditableTrackSet before = session.tracks;

        testing::internal::CaptureStderr();
        if (bad.greeting) {
            ASSERT_TRUE(pump_until([&] { return editor.decode_received().greeting.size() == 19; }));
        } else {
            connect_and_sync();
            before = session.tracks;
            set_track_key(&before.tracks[TRACK_PART], TrackKey{600, 7.0f, KEY_STEP});
            editor.send_raw(set_key_bytes(TRACK_PART, 600, seven_bits, KEY_STEP));
            editor.send_raw(bad.bytes);
        }
        editor.pump();  // sends the greeting or the bytes
        if (bad.then_disconnect) editor.disconnect();
        const bool dropped = pump_until([&] { return !session.link.last_error.empty(); });
        const std::string said = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(dropped);

        EXPECT_FALSE(editor_link_connected(session.link));
        EXPECT_NE(said.find(bad.message), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        for (int slot = 0; slot < TRACK_COUNT; ++slot)
            EXPECT_TRUE(same_keys(session.tracks.tracks[slot], before.tracks[slot])) << track_name_table[slot];
        if (bad.greeting) {
            EXPECT_TRUE(editor.decode_received().track_names.empty()) << "no track asked for";
        }
    }
}

TEST_F(EditSessionTest, ReconnectsOnceASecondAndKeepsTheKeysMeanwhile) {
    connect_and_sync();
    editor.send_set_key(TRACK_BG_INDEX, 0, 42.0f, KEY_STEP);
    ASSERT_TRUE(pump_until([&] { return track_value(TRACK_BG_INDEX, 0.0f) == 42.0; }));

    editor.disconnect();  // the editor goes away
    ASSERT_TRUE(pump_until([&] { return !editor_link_connected(session.link); }));
    EXPECT_EQ(track_value(TRACK_BG_INDEX, 0.0f), 42.0);

    // Half a second later it has not tried again; a second later it has.
    now_ns += second_ns / 2;
    for (int round = 0; round < 50; ++round) {
        editor.pump();
        edit_session_poll(&session, now_ns);
        usleep(1000);
    }
    EXPECT_EQ(editor.connections, 1);
    now_ns += second_ns / 2;
    ASSERT_TRUE(pump_until([&] { return editor.connections == 2; }));
    connect_and_sync();
    EXPECT_NE(track_value(TRACK_BG_INDEX, 0.0f), 42.0);  // the editor's own keys again
}

TEST_F(EditSessionTest, WithoutAnEditorItPlaysTheEmbeddedTimeline) {
    editor.stop();  // nobody listens
    for (int round = 0; round < 20; ++round) {
        edit_session_poll(&session, now_ns);
        now_ns += second_ns / 4;
    }
    EXPECT_FALSE(editor_link_connected(session.link));
    EXPECT_TRUE(holds_embedded_timeline());
    EXPECT_EQ(track_value(TRACK_PART, 300.0f), 2.0);
}

TEST_F(EditSessionTest, SaveTracksWritesTheShowsTrackFiles) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("velmo_edit_save_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    session.save_dir = (dir / "new").string();  // made when missing
    connect_and_sync();
    editor.send_set_key(TRACK_LIGHT, 1300, 5.5f, KEY_SMOOTH);

    testing::internal::CaptureStdout();
    editor.send_save_tracks();
    const bool saved = pump_until([&] { return std::filesystem::exists(dir / "new" / "sync_light.track"); });
    const std::string said = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(saved);
    EXPECT_NE(said.find("saved 32 track files to " + (dir / "new").string()), std::string::npos) << said;

    for (int slot = 0; slot < TRACK_COUNT; ++slot) {
        std::ifstream in(dir / "new" / track_file_name(track_name_table[slot]), std::ios::binary);
        std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::vector<TrackKey> expected = embedded_keys(TrackSlot(slot));
        if (slot == TRACK_LIGHT) expected.push_back(TrackKey{1300, 5.5f, KEY_SMOOTH});
        EXPECT_EQ(bytes.size(), 4 + 9 * expected.size()) << track_name_table[slot];
        EXPECT_TRUE(same_keys(read_track_file(bytes.data(), bytes.size()), expected)) << track_name_table[slot];
    }
    std::filesystem::remove_all(dir);
}

}  // namespace

// What the live link costs a frame: a poll with nothing arriving, the whole
// timeline arriving as the editor sends it on connecting, and the frame's 32
// track reads from the edited tracks against the show's own.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include "app/sync_tracks.h"
#include "edit_loop.h"

namespace {

struct Connected {
    ScriptedEditor editor;
    EditSession session;
    bool ok = false;
    Connected() {
        open_sync_tracks();
        for (int slot = 0; slot < TRACK_COUNT; ++slot)
            editor.keys[track_name_table[slot]] = sync_tracks.tracks[slot]->keys;
        std::string error;
        ok = editor.listen() && edit_session_open(&session, "127.0.0.1", editor.port, ".", &error);
        edit_session_use_tracks(&session);
        ok = ok && pump_until(editor, session, 1, [&] {
                 return editor_link_connected(session.link) && editor.outgoing.empty() &&
                        session.tracks.tracks[TRACK_SIM_SPEED].size() == editor.keys["sim:speed"].size();
             });
    }
    ~Connected() {
        edit_session_close(&session);
        destroy_sync_tracks();
    }
};

void BM_PollWithNothingArriving(benchmark::State& state) {
    Connected link;
    if (!link.ok) state.SkipWithError("no connection");
    for (auto _ : state) edit_session_poll(&link.session, 1);
}
BENCHMARK(BM_PollWithNothingArriving);

// The bytes of every key of the timeline as SET_KEY commands, parsed and
// applied to empty tracks: what the first frames after connecting do.
void BM_ApplyTheWholeTimeline(benchmark::State& state) {
    open_sync_tracks();
    std::vector<uint8_t> stream(SERVER_GREETING.begin(), SERVER_GREETING.end());
    size_t keys = 0;
    ScriptedEditor encoder;
    for (int slot = 0; slot < TRACK_COUNT; ++slot)
        for (const TrackKey& key : sync_tracks.tracks[slot]->keys) {
            encoder.send_set_key(uint32_t(slot), uint32_t(key.row), key.value, uint8_t(key.type));
            ++keys;
        }
    stream.insert(stream.end(), encoder.outgoing.begin(), encoder.outgoing.end());
    EditableTrackSet tracks;
    std::vector<EditorMessage> messages;
    for (auto _ : state) {
        EditorParser parser;
        editor_parser_reset(&parser, TRACK_COUNT);
        messages.clear();
        std::string error;
        editor_feed(&parser, stream.data(), stream.size(), &messages, &error);
        clear_tracks(&tracks);
        for (const EditorMessage& m : messages)
            set_track_key(&tracks.tracks[m.track], TrackKey{m.row, m.value, m.type});
        benchmark::DoNotOptimize(tracks.tracks[TRACK_PART].data());
    }
    state.counters["keys"] = double(keys);
    state.counters["bytes"] = double(stream.size());
    destroy_sync_tracks();
}
BENCHMARK(BM_ApplyTheWholeTimeline)->Unit(benchmark::kMicrosecond);

void BM_FrameReadsEditedTracks(benchmark::State& state) {
    open_sync_tracks();
    EditableTrackSet tracks;
    copy_open_tracks(&tracks);
    const bool edited = state.range(0) != 0;
    if (edited) use_editable_tracks(&tracks);
    float row = 0.0f;
    for (auto _ : state) {
        for (int slot = 0; slot < TRACK_COUNT; ++slot)
            benchmark::DoNotOptimize(track_value(static_cast<TrackSlot>(slot), row));
        row = row < 1266.0f ? row + 0.37f : 0.0f;
    }
    state.SetLabel(edited ? "edited tracks" : "the show's tracks");
    use_editable_tracks(nullptr);
    destroy_sync_tracks();
}
BENCHMARK(BM_FrameReadsEditedTracks)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();

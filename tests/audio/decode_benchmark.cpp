// Decode time of the embedded music: start_music on the manual device (no
// sound card involved), which publishes the buffer and decodes all of it.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "audio/music.h"
#include "platform/embedded.h"

extern "C" const EmbeddedFile music_files[];

static void BM_DecodeEmbeddedMusic(benchmark::State& state) {
    select_playback_backend(&manual_playback_backend);
    std::FILE* quiet = std::freopen("/dev/null", "w", stdout);  // "decoding full mp3..." per run
    for (auto _ : state) {
        start_music(music_files[0].bytes, music_files[0].size);
        state.PauseTiming();
        music_shutdown();
        state.ResumeTiming();
    }
    if (quiet != nullptr) std::freopen("/dev/tty", "w", stdout);
    state.counters["mp3_bytes"] = music_files[0].size;
}
BENCHMARK(BM_DecodeEmbeddedMusic)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();

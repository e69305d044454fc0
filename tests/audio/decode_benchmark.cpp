// Decode time of the embedded music: start_music on the manual device (no
// sound card involved), which publishes the buffer and decodes all of it.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "audio/music.h"
#include "platform/embedded.h"

extern "C" const EmbeddedFile music_files[];

static void BM_DecodeEmbeddedMusic(benchmark::State& state) {
    select_playback_backend(&manual_playback_backend);
    // "decoding full mp3..." once per run goes to /dev/null, the figures to stdout.
    std::fflush(stdout);
    const int saved_stdout = dup(1);
    const int null_fd = open("/dev/null", O_WRONLY);
    for (auto _ : state) {
        dup2(null_fd, 1);
        start_music(music_files[0].bytes, music_files[0].size);
        dup2(saved_stdout, 1);
        state.PauseTiming();
        music_shutdown();
        state.ResumeTiming();
    }
    close(null_fd);
    close(saved_stdout);
    state.counters["mp3_bytes"] = music_files[0].size;
}
BENCHMARK(BM_DecodeEmbeddedMusic)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();

// How long the build's render of the show's music takes (it runs whenever the
// score or the composer changes): parse, schedule, synthesise, master, WAV bytes.
#include <benchmark/benchmark.h>

#include "score.h"
#include "synth.h"

static void BM_RenderShowMusic(benchmark::State& state) {
    const compose::ParseResult parsed = compose::load_score(VELMO_MUSIC_SCORE);
    if (!parsed.ok) {
        state.SkipWithError(parsed.error.c_str());
        return;
    }
    for (auto _ : state) {
        const compose::Render r = compose::render_score(parsed.score);
        benchmark::DoNotOptimize(compose::wav_bytes(r, parsed.score.seed).data());
    }
    state.counters["audio_seconds"] = parsed.score.length_s;
    state.counters["notes"] = double(compose::schedule(parsed.score).size());
}
BENCHMARK(BM_RenderShowMusic)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();

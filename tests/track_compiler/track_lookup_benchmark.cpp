// What a frame's track reads cost: track_value over the shipped timeline at
// rows sweeping the whole show, one slot at a time and all 32 per row.
#include <benchmark/benchmark.h>

#include "app/sync_tracks.h"

namespace {

void BM_TrackValueOneSlot(benchmark::State& state) {
    open_sync_tracks();
    const TrackSlot slot = static_cast<TrackSlot>(state.range(0));
    float row = 0.0f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(track_value(slot, row));
        row = row < 1266.0f ? row + 0.37f : 0.0f;
    }
    state.SetLabel(track_name_table[slot]);
    destroy_sync_tracks();
}
BENCHMARK(BM_TrackValueOneSlot)->Arg(TRACK_PART)->Arg(TRACK_POST_GLOW)->Arg(TRACK_CAM_X)->Arg(TRACK_IMG1_X);

void BM_TrackValueAllSlotsPerRow(benchmark::State& state) {
    open_sync_tracks();
    float row = 0.0f;
    for (auto _ : state) {
        for (int slot = 0; slot < TRACK_COUNT; ++slot)
            benchmark::DoNotOptimize(track_value(static_cast<TrackSlot>(slot), row));
        row = row < 1266.0f ? row + 0.37f : 0.0f;
    }
    destroy_sync_tracks();
}
BENCHMARK(BM_TrackValueAllSlotsPerRow);

void BM_OpenSyncTracks(benchmark::State& state) {
    for (auto _ : state) {
        open_sync_tracks();
        benchmark::DoNotOptimize(sync_tracks.tracks[TRACK_PART]);
    }
    destroy_sync_tracks();
}
BENCHMARK(BM_OpenSyncTracks);

}  // namespace

BENCHMARK_MAIN();

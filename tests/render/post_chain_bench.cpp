// CPU cost of one frame's post chain at 1920 × 1080: the off-screen pass is
// begun (cleared), then run_post_chain's seven bloom passes and the composite,
// then commit. "Submit" times the calls alone (the GPU's work is waited for
// outside the timing); "Finished" includes waiting for llvmpipe to draw them.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstdio>

#include "render/bloom.h"
#include "render/render_targets.h"
#include "render_window.h"

namespace {

void one_frame() {
    const float clear[4] = {0.2f, 0.3f, 0.4f, 0.0f};
    resize_targets(1920, 1080);
    composite_params = {1.0f, 1.0f, 1.0f};
    gfx::begin_pass(render_targets.offscreen_pass, offscreen_pass_action(clear));
    run_post_chain();
    gfx::commit();
}

void BM_PostChainSubmit(benchmark::State& state) {
    for (auto _ : state) {
        one_frame();
        state.PauseTiming();
        glFinish();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PostChainSubmit)->Unit(benchmark::kMicrosecond);

void BM_PostChainFinished(benchmark::State& state) {
    for (auto _ : state) {
        one_frame();
        glFinish();
    }
}
BENCHMARK(BM_PostChainFinished)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (!open_render_window(1920, 1080)) {
        std::fprintf(stderr, "post_chain_bench: no GL 4.5 context (run under Xvfb)\n");
        return 1;
    }
    one_frame();  // first build of targets and pipelines, outside the timing
    glFinish();
    std::printf("target samples %d\n", render_targets.target_sample_count);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

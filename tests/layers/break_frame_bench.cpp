// Part of gfx_bench: the CPU cost of one frame of the break, the off-screen
// pass as the show draws it there: the pattern background, the shape effect
// (512 bars and 64 triangles, built in the scratch memory each frame) and two
// captions, into the 64 × 64 window's small targets so that the rasteriser
// does little.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <vector>

#include "audio/fft_image.h"
#include "audio/spectrum.h"
#include "layers/background.h"
#include "layers/image_overlays.h"
#include "layers/shape_effect.h"
#include "layers/shape_renderer.h"
#include "render/render_targets.h"

namespace {

void set_up_layers() {
    resize_targets(64, 64);
    shape_renderer_setup();
    background_setup();
    image_overlays_setup();
    spectrum_setup();
    upload_fft_image();
}

struct BreakFrame {
    std::vector<uint8_t> scratch = std::vector<uint8_t>(2097152);
    std::vector<float> spectrum = std::vector<float>(512);
    double time = 30.0;
};

void draw_break_frame(BreakFrame& f) {
    for (int i = 0; i < 512; ++i) f.spectrum[i] = 1.0f / (1.0f + i * 0.02f);  // a falling music-like spectrum
    const float clear[4] = {247 / 255.0f, 173 / 255.0f, 40 / 255.0f, 0.0f};
    gfx::begin_pass(render_targets.offscreen_pass, offscreen_pass_action(clear));
    FrameInfo info{f.time, 1.0 / 60.0, 64.0f, 64.0f, false};
    draw_background(info, 12.0, f.spectrum.data(), f.scratch.data());
    draw_shape_effect(info, 3.0, f.spectrum.data(), f.scratch.data());
    const ImageLayerValues layers[2] = {{1, 0, 2, 3, 0.8, 0, -0.3}, {1, 0, 0, 0, 0.7, 0, 0.3}};
    draw_image_overlays(layers, f.time);
    gfx::end_pass();
    f.time += 1.0 / 60.0;
}

// The layers' own work plus Mesa's on the calling thread and its rasteriser threads.
void BM_BreakFrame(benchmark::State& state) {
    static bool ready = (set_up_layers(), true);
    (void)ready;
    BreakFrame f;
    for (auto _ : state) {
        draw_break_frame(f);
        gfx::commit();
        glFinish();
    }
    draw_break_frame(f);
    gfx::FrameStats fs = gfx::query_frame_stats();
    gfx::commit();
    state.counters["draws"] = fs.draws;
    state.counters["skipped"] = fs.draws_skipped;
    state.counters["last_skip_reason"] = static_cast<int>(fs.last_skip_reason);
    state.counters["uniform_KiB"] = fs.uniform_bytes / 1024.0;
}
BENCHMARK(BM_BreakFrame)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The effect's own instance building alone: 64 noise-driven triangle matrices.
void BM_TriangleTunnel(benchmark::State& state) {
    mat4 matrices[tunnel_slots];
    vec4 colours[tunnel_slots];
    float time = 30.0f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(build_triangle_tunnel(time, {1, 1, 1, 1}, matrices, colours));
        benchmark::ClobberMemory();
        time += 1.0f / 60.0f;
    }
}
BENCHMARK(BM_TriangleTunnel)->Unit(benchmark::kMicrosecond);

}  // namespace

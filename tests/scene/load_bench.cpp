// What the load step costs on this machine: each of the seven models with its
// parts (parse, image decode, mip chains, uploads, shape building), the rest
// of the step (part start-up, the full-length music decode, the spectrum and
// FFT set-up), the whole step, and the process's peak memory. Prints figures;
// not a test.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/frame_driver.h"
#include "scene/shipped_models.h"
#include "support/frame_harness.h"

// Usage: load_bench [decoding threads] (default: one per hardware thread, at most four).
int main(int argc, char** argv) {
    if (argc > 1) model_decode_threads = std::atoi(argv[1]);
    unsigned threads = model_decode_threads > 0 ? static_cast<unsigned>(model_decode_threads)
                       : std::thread::hardware_concurrency() < 4 ? std::thread::hardware_concurrency()
                                                                 : 4;
    if (!harness_open(640, 360)) {
        std::fprintf(stderr, "load_bench: no window with a GL 4.5 context (run under Xvfb)\n");
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    load_step();
    double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("\n%-16s %7s %7s %7s %7s %7s %7s %7s %6s %7s %7s\n", "model (ms)", "parse", "decode*", "mips*",
                "upload", "img-wall", "shapes", "total", "images", "verts", "indices");
    ModelLoadStats sum{};
    for (int slot = 0; slot < MODEL_COUNT; ++slot) {
        const ModelLoadStats& s = shipped_model_stats[slot];
        std::printf("%-16s %7.1f %7.1f %7.1f %7.1f %7.1f %7.1f %7.1f %6d %7d %7d\n", model_files[slot].name,
                    1e3 * s.parse, 1e3 * s.image_decode, 1e3 * s.mip_chains, 1e3 * s.upload, 1e3 * s.images_wall,
                    1e3 * s.shapes, 1e3 * s.total, s.images, s.vertices, s.indices);
        sum.parse += s.parse;
        sum.image_decode += s.image_decode;
        sum.mip_chains += s.mip_chains;
        sum.upload += s.upload;
        sum.shapes += s.shapes;
        sum.images_wall += s.images_wall;
        sum.total += s.total;
    }
    std::printf("%-16s %7.1f %7.1f %7.1f %7.1f %7.1f %7.1f %7.1f\n", "all models", 1e3 * sum.parse,
                1e3 * sum.image_decode, 1e3 * sum.mip_chains, 1e3 * sum.upload, 1e3 * sum.images_wall, 1e3 * sum.shapes,
                1e3 * sum.total);
    std::printf("* summed over the %u decoding thread(s); img-wall: the image stage (decode, mips, upload) as it ran\n",
                threads);
    std::printf("rest of the step (part start-up, music decode, spectrum, FFT plan): %.1f ms\n",
                1e3 * (total - sum.total));
    std::printf("load_step: %.1f ms\n", 1e3 * total);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory (max resident set): %.1f MiB\n", usage.ru_maxrss / 1024.0);
    harness_close();
    return 0;
}

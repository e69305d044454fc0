// The physics scene's heaviest moments with the shipped models: the face
// filled with 1,024 pieces (scene type 7.1), 256 chips dropped on top of it
// (type 8), and the pyramid's steady state at the 3,200-piece limit. Prints,
// per case, the mean and worst physics step and whole scene update per frame.
// Run under Xvfb (the models need a GL context to load).
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "physics/director.h"
#include "physics/spawner.h"
#include "support/frame_harness.h"

namespace {

struct Figures {
    double step_sum = 0, step_worst = 0, update_sum = 0, update_worst = 0;
    int frames = 0;
};

float music_time_now = 100;

Figures run(double param, int frames) {
    Figures f;
    SceneInputs in{};
    in.param = param;
    in.sim_speed = 1;
    in.frame_delta = 1.0f / 60.0f;
    for (int i = 0; i < frames; ++i) {
        in.music_time = music_time_now += in.frame_delta;
        auto start = std::chrono::steady_clock::now();
        scene_update(in);
        double update = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        f.update_sum += update;
        f.update_worst = std::max(f.update_worst, update);
        f.step_sum += director.last_step_seconds;
        f.step_worst = std::max(f.step_worst, director.last_step_seconds);
        ++f.frames;
    }
    return f;
}

void print(const char* name, const Figures& f) {
    std::printf("%-34s %6d %6d %9.2f %9.2f %9.2f %9.2f\n", name, item_count, f.frames, 1e3 * f.step_sum / f.frames,
                1e3 * f.step_worst, 1e3 * f.update_sum / f.frames, 1e3 * f.update_worst);
    std::fflush(stdout);
}

}  // namespace

// Usage: physics_scene_bench [measured frames per case] (default 240).
int main(int argc, char** argv) {
    int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 240;
    if (!harness_open(64, 36)) {
        std::fprintf(stderr, "physics_scene_bench: no window with a GL 4.5 context (run under Xvfb)\n");
        return 1;
    }
    harness_frame(16666667);  // the load step: the models and the scene part's world
    std::printf("\n%-34s %6s %6s %9s %9s %9s %9s\n", "case (ms per frame)", "pieces", "frames", "step", "step-max",
                "update", "upd-max");

    scene_request_setup_afresh();
    print("7.1: face, 1,024 pieces", run(7.1, frames));
    print("8: 256 chips on top of 7.1", run(8, frames));

    scene_request_setup_afresh();
    Figures filling = run(11, 1);
    while (item_count < max_items && filling.frames < 3000) {
        Figures more = run(11, 1);
        filling.frames += 1;
        (void)more;
    }
    std::printf("(pyramid filled to %d pieces in %d frames)\n", item_count, filling.frames);
    print("11: pyramid, steady at 3,200", run(11, frames));
    harness_close();
    return 0;
}

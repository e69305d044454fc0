// The show's spine: the four application callbacks, the load step at the end
// of the first frame, and the per-frame order of work (app_frame reads like a
// numbered list of it). Every callback runs on the main thread.
#pragma once
#include <cstddef>
#include <cstdint>

#include "app/parts.h"
#include "platform/app_window.h"

struct FrameDriverState {
    bool loading = true;          // from program start until the end of load_step
    bool models_loaded = false;   // set by load_step after the model loads
    int active_part = 0;          // 0, 1 or 2; recomputed every frame
    uint64_t last_frame_time = 0; // ns since clock set-up at the previous frame; 0 before the first
    double delta = 0.0;           // this frame's rounded interval in seconds
    int frame_count = 0;          // app_frame calls so far
    int load_step_count = 0;      // load_step runs so far (1 once loaded)
};

extern FrameDriverState frame_driver;

// The frame interval in seconds as a float (the scene director reads it).
extern float frame_delta;

// 2 MiB of zero-filled scratch memory, allocated by load_step, in which the
// background and the shape effect build their per-frame vertex data.
constexpr size_t vertex_scratch_size = 2097152;
extern uint8_t* vertex_scratch;

// Marks at the boundaries of the frame's stages and of the load step's, for a
// tool that times them (velmo-bench). The show leaves the hook null; then
// nothing is called. A frame runs BEGIN (then clock, spectrum, row clock and the
// part's update), DRAW (targets, shadow and off-screen passes), POST (bloom,
// composite, commit), END; the load step then runs LOAD_PARTS (PART_INIT),
// LOAD_MODELS, LOAD_SPECTRUM, LOAD_MUSIC, LOAD_FFT and LOAD_END.
enum FrameMark : int {
    FRAME_MARK_BEGIN,
    FRAME_MARK_DRAW,
    FRAME_MARK_POST,
    FRAME_MARK_END,
    FRAME_MARK_LOAD_PARTS,
    FRAME_MARK_LOAD_MODELS,
    FRAME_MARK_LOAD_SPECTRUM,
    FRAME_MARK_LOAD_MUSIC,
    FRAME_MARK_LOAD_FFT,
    FRAME_MARK_LOAD_END,
    FRAME_MARK_COUNT
};
extern void (*frame_mark_hook)(FrameMark mark);

// Models loaded and the spectrum set up: after loading this always holds.
bool content_ready();

void app_init();
void app_frame();
void load_step();
void app_event(const platform::Event* event);
void app_cleanup();

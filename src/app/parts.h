// The show's parts: three message-driven functions in a fixed table, indexed
// by the "part" track. Only the active part receives messages in a frame.
#pragma once
#include <cstdint>

#include "physics/scene_inputs.h"

enum PartMessage : int32_t {
    PART_INIT = 0,         // argument: none; once to every part, in table order, at the start of loading
    PART_UPDATE = 2,       // argument: none; once per frame to the active part
    PART_DRAW = 3,         // argument: const FrameInfo*; shadow variant, then main variant
    PART_CLEAR_COLOR = 4,  // argument: float[4] preset to 0; the part may overwrite it
    PART_RESET = 5,        // scene part only; never sent by the frame driver
};

// Returns true when the part handled the message; the frame driver ignores it.
using PartFn = bool (*)(int32_t message, void* argument);

struct FrameInfo {
    double time;       // music time of this frame, seconds
    double delta;      // this frame's interval after refresh rounding, seconds
    float width;       // window framebuffer size in pixels, at least 1
    float height;
    bool shadow_pass;  // true for the variant drawn into the shadow map
};

constexpr int part_count = 3;

// 0 the empty part, 1 the shape effect part, 2 the scene part. Mutable only so
// that tests can observe the messages; the show never changes it.
extern PartFn part_table[part_count];

bool empty_part(int32_t message, void* argument);
bool shape_effect_part(int32_t message, void* argument);
bool scene_part(int32_t message, void* argument);

// Set by a program that moves the playback position (velmo-edit's jumps; the
// show never jumps): at its next update the scene part is to set its current
// scene up afresh, as at its first update, and clear the flag.
extern bool scene_setup_afresh_requested;

// What the scene part reads this frame from the tracks at current_row and the clock.
SceneInputs scene_inputs();

// The part index for a "part" track value: truncated toward zero, negative
// values raised to 0, then taken modulo the table size.
int select_part(double part_value);

// The clear colour that the shape effect and scene parts answer: (247, 173, 40)/255;
// the alpha stays as the caller set it (the frame driver passes 0).
void write_part_clear_color(float* rgba);

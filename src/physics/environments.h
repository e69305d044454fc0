// The environments the pieces fall into, onto or out of: a mill, a face with
// teeth, a stomping face over a bowl, a plate or bowl, a pyramid and a donkey,
// each an environment model instantiated with one static body per mesh; and
// their behaviour per frame (moving props, emitters, recycling of fallen
// pieces, their own shadow box and spawn material), with the greeting scenes.
//
// Contract
// - Everything happens in sim_world and scene_graph, with the shipped models.
// - Props are looked up by name every frame; a behaviour whose prop is missing
//   is skipped for that frame (an environment made by another scene type, or a
//   model without that mesh), and the rest of the frame's behaviour still runs.
// - The emitter accumulators, the donkey's and the greeting scene's last
//   fractions survive scene resets; the bowl sphere list does not.
// - Frame thread only, never during a physics step.
#pragma once
#include <cstdint>

#include "physics/scene_inputs.h"
#include "physics/sim.h"

// The shadow camera's square view: half-size and distance from the target.
// The scene director presets them per setup; some environments set their own.
extern float shadow_half_extent;  // 64
extern float shadow_distance;     // 128

struct environment_state_s {
    float mill_chip_accumulator = 0;
    float pyramid_food_accumulator = 0;
    float pyramid_chip_accumulator = 0;
    float donkey_last_fraction = 0;
    float greeting_last_fraction = -1;
    vec3 wheel_position = {0, 0, 0};  // the wheel's origin before the step
};
extern environment_state_s environment_state;

constexpr int bowl_sphere_capacity = 256;
extern BodyID bowl_spheres[bowl_sphere_capacity];
extern int32_t bowl_sphere_count;
void clear_bowl_spheres();

// The environment model(s) of a scene type with their filters, each root node
// renamed after the environment; param chooses the plate variant of 3 and 13.
// Scene types without an environment make nothing.
void create_environment(int32_t scene_type, double param);

// Gravity while a scene type runs.
vec3 scene_gravity(int32_t scene_type);

// The per-frame behaviour of the current scene type, before the step.
void environment_frame(int32_t scene_type, const SceneInputs& inputs);
// The mill's wheel after the step: back to its origin, awake, node copied.
void environment_after_step(int32_t scene_type);

// Scene type 9's 256 invisible spheres over the bowl.
void create_bowl_spheres();
// Scene type 14's two groups of the twelve greetings, one from above and one
// from below.
void greeting_groups();

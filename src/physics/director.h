// The scene director: what the scene part does with the physics scene. At
// start it makes the world and the graph; every update it reads the timeline
// (through SceneInputs), sets a new scene up when the scene type changes, runs
// the environment's behaviour, steps the physics, copies body transforms into
// the nodes and places the camera, the shadow camera and the four lights.
//
// Contract
// - The scene type is "param" truncated toward zero; its fraction selects
//   variants. Types 4, 5, 8 and 10, and 13, 14 and 15 with a fraction above
//   0.01, add to the running scene; every other setup empties the world and
//   the graph and builds the camera, shadow camera and light nodes anew.
// - A change of type to −1 sets nothing up (updates go on); the next value,
//   even the one before, counts as a change.
// - scene_update runs only with the scene models loaded (the scene part checks).
// - Frame thread only.
#pragma once
#include <cstdint>

#include "physics/scene_inputs.h"
#include "render/math3d.h"

struct director_s {
    int32_t current_scene_type = -1;
    uint32_t camera_node = 0;         // "camera"
    uint32_t shadow_camera_node = 0;  // "shadow camera"
    uint32_t light_nodes[4] = {};     // "light0" to "light3"
    int32_t last_shuffle = 0;
    float light_pitch[4] = {};  // radians
    float light_yaw[4] = {};
    float light_intensity[4] = {};
    double last_step_seconds = 0;  // how long the last physics step took (for the benchmark)
};
extern director_s director;

// The fixed light colours, by light.
extern const vec3 light_colors[4];

// Seeds the normal generator, makes (or empties) the world and the graph and
// forgets the previous scene.
void scene_init();
void scene_update(const SceneInputs& inputs);
// Sets the given scene type up, keeping or resetting the running scene.
void scene_setup(int32_t scene_type, const SceneInputs& inputs);
// The next update sets its scene up afresh, as the first update does (after
// a jump of the playback position).
void scene_request_setup_afresh();
void camera_update(const SceneInputs& inputs);
void light_presets(vec3 eye, vec3 target, const SceneInputs& inputs);

// A direction from pitch and yaw (radians): (cos yaw cos pitch, sin pitch, sin yaw cos pitch).
vec3 light_direction(float pitch, float yaw);
// Sub-steps per update for a piece count: 4 up to 1024, 2 up to 2048, then 1.
int32_t sub_steps_for(int32_t pieces);

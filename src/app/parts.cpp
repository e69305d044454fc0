#include "app/parts.h"

#include "app/frame_driver.h"
#include "app/sync_tracks.h"
#include "audio/spectrum.h"
#include "layers/shape_effect.h"
#include "physics/director.h"
#include "physics/spawner.h"
#include "scene/scene_graph.h"
#include "scene/scene_render.h"
#include "scene/shipped_models.h"

PartFn part_table[part_count] = {empty_part, shape_effect_part, scene_part};

bool scene_setup_afresh_requested = false;

int select_part(double part_value) {
    // Negative values (and NaN) select part 0; values past the 32-bit range are
    // held at its end rather than converted out of range.
    if (!(part_value > 0.0)) return 0;
    int32_t p = part_value >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(part_value);
    return p % part_count;
}

void write_part_clear_color(float* rgba) {
    rgba[0] = 247.0f / 255.0f;
    rgba[1] = 173.0f / 255.0f;
    rgba[2] = 40.0f / 255.0f;
}

bool empty_part(int32_t message, void*) {
    return message == PART_INIT || message == PART_DRAW;
}

// The shape effect: bars and the triangle tunnel, drawn from the layers module
// with "param" at the current row.
bool shape_effect_part(int32_t message, void* argument) {
    switch (message) {
        case PART_INIT: return true;
        case PART_DRAW:
            draw_shape_effect(*static_cast<const FrameInfo*>(argument), track_value(TRACK_PARAM, current_row),
                              smoothed_spectrum(), vertex_scratch);
            return true;
        case PART_CLEAR_COLOR: write_part_clear_color(static_cast<float*>(argument)); return true;
        default: return false;
    }
}

// What the physics scene reads this frame: the tracks at the current row and
// the clock.
SceneInputs scene_inputs() {
    const float row = current_row;
    SceneInputs in{};
    in.param = track_value(TRACK_PARAM, row);
    in.cam_index = track_value(TRACK_CAM_INDEX, row);
    in.cam_x = track_value(TRACK_CAM_X, row);
    in.cam_y = track_value(TRACK_CAM_Y, row);
    in.cam_z = track_value(TRACK_CAM_Z, row);
    in.cam_at_x = track_value(TRACK_CAM_AT_X, row);
    in.cam_at_y = track_value(TRACK_CAM_AT_Y, row);
    in.cam_at_z = track_value(TRACK_CAM_AT_Z, row);
    in.cam_dist = track_value(TRACK_CAM_DIST, row);
    in.cam_fov = track_value(TRACK_CAM_FOV, row);
    in.cam_roll = track_value(TRACK_CAM_ROLL, row);
    in.light = track_value(TRACK_LIGHT, row);
    in.sim_speed = track_value(TRACK_SIM_SPEED, row);
    in.sim_shuffle = track_value(TRACK_SIM_SHUFFLE, row);
    in.music_time = music_time;
    in.frame_delta = frame_delta;
    return in;
}

// The scene part: the physics scene of the director, drawn by scene rendering.
// Nothing is simulated or drawn until the models the scenes use are loaded
// (all but the donkey).
bool scene_part(int32_t message, void* argument) {
    switch (message) {
        case PART_INIT: scene_init(); return true;
        case PART_UPDATE:
            if (!scene_models_ready()) return true;
            if (scene_setup_afresh_requested) {
                scene_request_setup_afresh();
                scene_setup_afresh_requested = false;
            }
            scene_update(scene_inputs());
            return true;
        case PART_DRAW:
            if (scene_models_ready())
                draw_scene_view(scene_graph, static_cast<const FrameInfo*>(argument)->shadow_pass);
            return true;
        case PART_CLEAR_COLOR:
            // The scene part clears golden with alpha 0, whatever was passed.
            write_part_clear_color(static_cast<float*>(argument));
            static_cast<float*>(argument)[3] = 0.0f;
            return true;
        case PART_RESET: place_items(director.current_scene_type); return true;
        default: return false;
    }
}

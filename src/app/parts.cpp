#include "app/parts.h"

#include "app/frame_driver.h"
#include "app/sync_tracks.h"
#include "audio/spectrum.h"
#include "layers/shape_effect.h"
#include "physics/sim.h"
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

// The scene part answers every message as the show expects; its drawing and
// simulation join it from the physics module.
bool scene_part(int32_t message, void* argument) {
    switch (message) {
        case PART_INIT:
            init_sim_world();
            init_scene_graph();
            return true;
        case PART_UPDATE: return true;
        case PART_DRAW:
            // Nothing until the models the scenes draw are loaded (all but the donkey).
            if (scene_models_ready())
                draw_scene_view(scene_graph, static_cast<const FrameInfo*>(argument)->shadow_pass);
            return true;
        case PART_CLEAR_COLOR:
            // The scene part clears golden with alpha 0, whatever was passed.
            write_part_clear_color(static_cast<float*>(argument));
            static_cast<float*>(argument)[3] = 0.0f;
            return true;
        case PART_RESET: return true;
        default: return false;
    }
}

#include "scene_models.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "physics/director.h"
#include "physics/environments.h"
#include "physics/sim.h"
#include "physics/spawner.h"
#include "scene/model.h"
#include "scene/scene_graph.h"
#include "scene/shipped_models.h"

namespace {

const std::vector<std::vector<const char*>> entry_names = {
    /* ingredients */ {"chip001", "chip002", "chip003", "chip004", "cheese", "bean", "corn", "jalapeno", "onion",
                       "tomatodice", "meatblob1", "meatblob2"},
    /* donkey */ {"DonkeyFront", "DonkeyBack"},
    /* mill */ {"wheel", "helix", "door1", "door2", "door_funnel"},
    /* face */ {"TeethBottom", "Face", "TeethTop", "Face2"},
    /* plate */ {"Plate", "Bowl1", "Bowl2"},
    /* pyramid */ {"pyra"},
    /* greetings */ {},
};

// Allocated as the loader allocates, so free_model_records can release them.
Model* make_model(const std::vector<const char*>& names, int32_t shape) {
    auto* model = static_cast<Model*>(std::calloc(1, sizeof(Model)));
    model->entry_count = static_cast<int32_t>(names.size());
    model->entries = static_cast<MeshEntry*>(std::calloc(names.size(), sizeof(MeshEntry)));
    for (size_t i = 0; i < names.size(); ++i) {
        MeshEntry& entry = model->entries[i];
        copy_name(entry.name, sizeof entry.name, names[i]);
        entry.primitive_count = 1;
        entry.primitives = static_cast<Primitive*>(std::calloc(1, sizeof(Primitive)));
        entry.primitives[0].shape = shape;
        entry.rotation[3] = 1;
    }
    // Where the mill's doors and the stomping face sit in the shipped models.
    for (size_t i = 0; i < names.size(); ++i)
        if (std::strcmp(names[i], "Face2") == 0) model->entries[i].translation[1] = 17;
    return model;
}

}  // namespace

void install_scene_models() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    // A 0.5-unit cube: every piece and prop has the same small hull.
    float cube[24];
    for (int i = 0; i < 8; ++i) {
        cube[3 * i] = (i & 1) ? 0.25f : -0.25f;
        cube[3 * i + 1] = (i & 2) ? 0.25f : -0.25f;
        cube[3 * i + 2] = (i & 4) ? 0.25f : -0.25f;
    }
    int32_t shape = build_convex_hull_shape(8, cube);
    std::vector<const char*> greetings(greeting_names, greeting_names + greeting_name_count);
    for (int slot = 0; slot < MODEL_COUNT; ++slot)
        shipped_models[slot] = make_model(slot == MODEL_GREETINGS ? greetings : entry_names[slot], shape);
}

void PhysicsScene::SetUp() {
    install_scene_models();
    scene_init();
    spawn_friction = 0.2f;
    spawn_restitution = 0.8f;
    environment_state = environment_state_s{};
    zone_stomp.accumulator = 0;
}

std::map<std::string, int> item_names() {
    std::map<std::string, int> names;
    for (int i = 0; i < item_count; ++i) ++names[scene_node(scene_graph, items[i])->name];
    return names;
}

static BodyID body_of(int i) { return BodyID{scene_node(scene_graph, items[i])->body}; }
vec3 item_position(int i) { return sim_world->get_position(body_of(i)); }
vec3 item_velocity(int i) { return sim_world->get_linear_velocity(body_of(i)); }

SceneInputs still_inputs(double param, float music_time) {
    SceneInputs in{};
    in.param = param;
    in.music_time = music_time;
    in.frame_delta = 1.0f / 60.0f;
    return in;
}

bool scene_transforms_finite() {
    for (const Node& node : scene_graph->nodes) {
        if (!node.slot) continue;
        for (float f : node.transform.m)
            if (!std::isfinite(f)) return false;
    }
    return true;
}

#include "physics/environments.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "physics/spawner.h"
#include "scene/model.h"
#include "scene/model_files.h"
#include "scene/scene_graph.h"
#include "scene/shipped_models.h"

float shadow_half_extent = 64;
float shadow_distance = 128;
environment_state_s environment_state;
BodyID bowl_spheres[bowl_sphere_capacity];
int32_t bowl_sphere_count = 0;

void clear_bowl_spheres() {
    std::fill(std::begin(bowl_spheres), std::end(bowl_spheres), BodyID{});
    bowl_sphere_count = 0;
}

namespace {

// Accepts the entries whose whole name is one of a null-terminated list.
bool name_in_list(void* filter_data, const MeshEntry* entry) {
    for (const char* const* name = static_cast<const char* const*>(filter_data); *name; ++name)
        if (std::strcmp(entry->name, *name) == 0) return true;
    return false;
}

// One model instantiated with a filter (all entries without one), its root renamed.
void instantiate_environment(int model_slot, const char* const* accepted, const char* root_name) {
    uint32_t root = instantiate_model(scene_graph, shipped_models[model_slot], sim_world,
                                      accepted ? name_in_list : nullptr, const_cast<char**>(accepted));
    node_set_name(scene_graph, root, root_name);
}

// The body of the node called `name`, with the node; invalid when there is none.
struct Prop {
    Node* node;
    BodyID body;
    explicit operator bool() const { return node != nullptr; }
};

Prop find_prop(const char* name) {
    Node* node = scene_node(scene_graph, node_find(scene_graph, name));
    return {node, BodyID{node ? node->body : 0u}};
}

void copy_from_body(const Prop& prop) { prop.node->transform = sim_world->get_transform(prop.body); }

void turn_prop(const Prop& prop, vec3 axis, float radians) {
    sim_world->set_rotation(prop.body, quat_from_axis_angle(axis, radians), Activation::DontActivate);
    copy_from_body(prop);
}

void move_prop(const Prop& prop, vec3 position) {
    sim_world->set_position(prop.body, position, false);
    copy_from_body(prop);
}

// ---- per scene type --------------------------------------------------------

void stomp_frame(const SceneInputs& in) {
    shadow_half_extent = 64;
    shadow_distance = 128;
    if (Prop face = find_prop("Face2")) move_prop(face, {0, 17, -40});
    spawn_restitution = 0.4f;
    spawn_friction = 0.2f;
    spawn_zone_s& zone = zone_stomp;
    if (pace(zone.accumulator, zone.rate, in.frame_delta)) {
        static const char* const foods[4] = {"corn", "bean", "onion", "tomatodice"};
        double pulse = scene_pulse(in);
        int32_t first = (pulse > 406 && pulse < 412) ? spawn_ingredients(4, "cheese")
                                                      : spawn_ingredients(1, foods[rand15() % 4]);
        apply_zone(first, zone);
    }
    recycle_fallen(-100, zone.position, zone.position_spread, zone.velocity, zone.velocity_spread);
}

void donkey_frame(const SceneInputs& in) {
    constexpr vec3 spread = {2, 1, 5}, velocity = {0, -10, 0}, velocity_spread = {4, 4, 4};
    float f = static_cast<float>(in.param - 12.0);
    float angle = 45 * f;
    environment_state_s& state = environment_state;
    if (std::fabs(f - state.donkey_last_fraction) >= 0.1f) {
        state.donkey_last_fraction = f;
        int32_t first = item_count;
        int32_t n = f > 0 ? static_cast<int32_t>(std::pow(f, 1.5f) * 16.0f) : 0;
        for (int i = 4; i < ingredient_count; ++i) spawn_ingredients(n, ingredient_names[i]);
        emit(first, {0, 0, 0}, spread, velocity, velocity_spread);
    }
    recycle_fallen(-40, {0, 0, 0}, spread, velocity, velocity_spread);
    float radians = angle * static_cast<float>(M_PI) / 180.0f;
    if (Prop front = find_prop("DonkeyFront")) turn_prop(front, {1, 0, 0}, -radians);
    if (Prop back = find_prop("DonkeyBack")) turn_prop(back, {1, 0, 0}, radians);
}

void pyramid_frame(const SceneInputs& in) {
    shadow_half_extent = 300;
    shadow_distance = 500;
    environment_state_s& state = environment_state;
    if (pace(state.pyramid_food_accumulator, 64, in.frame_delta)) {
        static const char* const foods[2] = {"tomatodice", "cheese"};
        int32_t first = spawn_ingredients(4, foods[rand15() % 2]);
        emit(first, {0, 200, 30}, {5, 10, 5}, {0, -10, 40}, {10, 10, 10});
    }
    constexpr vec3 chip_position = {0, 190, 50}, chip_spread = {0, 10, 0};
    constexpr vec3 chip_velocity = {0, -30, 40}, chip_velocity_spread = {0, 0, 10};
    if (pace(state.pyramid_chip_accumulator, 32, in.frame_delta)) {
        int32_t first = spawn_chips(3);
        emit(first, chip_position, chip_spread, chip_velocity, chip_velocity_spread);
    }
    recycle_fallen(0, chip_position, chip_spread, chip_velocity, chip_velocity_spread);
}

void greeting_frame(const SceneInputs& in) {
    static constexpr float keys[greeting_name_count] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f,  0.6f,
                                                        0.7f, 0.8f, 0.9f, 0.92f, 0.93f, 0.94f};
    int32_t first = item_count;
    float f = static_cast<float>(in.param - 13.0);
    environment_state_s& state = environment_state;
    if (f != state.greeting_last_fraction) {
        state.greeting_last_fraction = f;
        for (int k = 0; k < greeting_name_count; ++k) {
            if (std::fabs(f - keys[k]) < 0.001f) {
                spawn_greeting(greeting_names[k]);
                break;
            }
        }
    }
    float u = rand_signed();
    zone_greeting_single.orientation = quat_from_axis_angle({0, 1, 0}, 15 * u - 90);
    spawn_restitution = 0.4f;
    spawn_friction = 0.2f;
    apply_zone(first, zone_greeting_single);
}

void mill_frame(const SceneInputs& in) {
    double pulse = scene_pulse(in);
    if (pulse >= 268) {
        Prop door1 = find_prop("door1"), door2 = find_prop("door2");
        float a = static_cast<float>(std::min(1.0, (pulse - 268) * 0.5));
        a *= a;
        float quarter = static_cast<float>(M_PI) / 2;
        if (door1) turn_prop(door1, {0, 0, 1}, a * quarter);
        if (door2) turn_prop(door2, {0, 0, 1}, -a * quarter);
    }
    bool late = pulse >= 276;
    vec3 p = late ? vec3{0, 4, 0} : vec3{0, 100, 0};
    vec3 v = late ? vec3{0, -40, 0} : vec3{-20, -40, 25};
    constexpr vec3 spread = {8, 5, 8}, velocity_spread = {0, 0, 1};
    if (pace(environment_state.mill_chip_accumulator, 16, in.frame_delta)) {
        int32_t first = spawn_chips(1);
        emit(first, p, spread, v, velocity_spread);
    }
    recycle_fallen(-200, p, spread, v, velocity_spread);
    if (Prop wheel = find_prop("wheel")) {
        environment_state.wheel_position = sim_world->get_position(wheel.body);
        sim_world->set_rotation(wheel.body, quat_from_axis_angle({0, 0, 1}, -0.5f * in.music_time),
                                Activation::DontActivate);
    }
}

void face_frame(const SceneInputs& in) {
    Prop top = find_prop("TeethTop"), bottom = find_prop("TeethBottom");
    if (!top || !bottom) return;
    double m = std::sin(2 * M_PI * scene_pulse(in)) * 0.5 + 0.5;
    m *= m;
    float k = static_cast<float>(1 - m);
    move_prop(top, {0, 4 * k, 0});
    move_prop(bottom, {0, -4 * k, 0});
}

}  // namespace

void create_environment(int32_t scene_type, double param) {
    static const char* const face[] = {"Face", "TeethBottom", "TeethTop", nullptr};
    static const char* const bowl[] = {"Bowl", nullptr};
    static const char* const stomp_face[] = {"Face2", nullptr};
    static const char* const stomp_bowl[] = {"Bowl2", nullptr};
    static const char* const bowl1[] = {"Bowl1", nullptr};
    static const char* const bowl2[] = {"Bowl2", nullptr};
    static const char* const plate[] = {"Plate", nullptr};
    switch (scene_type) {
        case 6: instantiate_environment(MODEL_MILL, nullptr, "env_drop"); break;
        case 7: instantiate_environment(MODEL_FACE, face, "env_face"); break;
        case 9: instantiate_environment(MODEL_PLATE, bowl, "env_plate"); break;
        case 11: instantiate_environment(MODEL_PYRAMID, nullptr, "env_pyramid"); break;
        case 12: instantiate_environment(MODEL_DONKEY, nullptr, "env_donkey"); break;
        case 15:
            instantiate_environment(MODEL_FACE, stomp_face, "env_stomp");
            instantiate_environment(MODEL_PLATE, stomp_bowl, "env_plate");
            break;
        case 3:
        case 13: {
            const char* const* variant = std::fabs(param - 3.1) < 0.01   ? bowl1
                                         : std::fabs(param - 3.2) < 0.01 ? bowl2
                                                                         : plate;
            instantiate_environment(MODEL_PLATE, variant, "env_plate");
            break;
        }
        default: break;
    }
}

vec3 scene_gravity(int32_t scene_type) {
    switch (scene_type) {
        case 3:
        case 4:
        case 5:
        case 12: return {0, -50, 0};
        case 6:
        case 11: return {0, -100, 0};
        case 15: return {0, -98, 0};
        default: return {0, -9.8f, 0};
    }
}

void environment_frame(int32_t scene_type, const SceneInputs& inputs) {
    if (!sim_world || !scene_graph) return;
    switch (scene_type) {
        case 15: stomp_frame(inputs); break;
        case 12: donkey_frame(inputs); break;
        case 11: pyramid_frame(inputs); break;
        case 13: greeting_frame(inputs); break;
        case 6: mill_frame(inputs); break;
        case 7:
        case 8: face_frame(inputs); break;
        default: break;
    }
}

void environment_after_step(int32_t scene_type) {
    if (scene_type != 6 || !sim_world || !scene_graph) return;
    if (Prop wheel = find_prop("wheel")) {
        sim_world->set_position(wheel.body, environment_state.wheel_position, true);
        copy_from_body(wheel);
    }
}

void create_bowl_spheres() {
    if (!sim_world) return;
    for (int i = 0; i < bowl_sphere_capacity; ++i) {
        float x, z;
        do {
            x = rand_signed() * 22;
            z = rand_signed() * 22;
        } while (x * x + z * z > 484);
        BodyID body = sim_world->create_sphere(2);
        float y = -5 * rand_unit();
        sim_world->set_position(body, {x, y, z}, true);
        sim_world->set_material(body, 0, 0.9f);
        bowl_spheres[i] = body;
    }
    bowl_sphere_count = bowl_sphere_capacity;
}

void greeting_groups() {
    for (const spawn_zone_s* zone : {&zone_greetings_high, &zone_greetings_low}) {
        int32_t first = item_count;
        for (const char* name : greeting_names) spawn_greeting(name);
        spawn_friction = 0.2f;
        spawn_restitution = 0.4f;
        apply_zone(first, *zone);
    }
}

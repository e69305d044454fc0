#include "physics/director.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include <stb/stb_perlin.h>

#include "physics/environments.h"
#include "physics/sim.h"
#include "physics/spawner.h"
#include "render/render_targets.h"
#include "scene/scene_graph.h"

director_s director;

const vec3 light_colors[4] = {
    {1, 1, 1}, {1, 120 / 255.0f, 0}, {160 / 255.0f, 1, 1}, {156 / 255.0f, 1, 217 / 255.0f}};

namespace {

constexpr double degrees = M_PI / 180.0;

// Toward zero, with NaN as 0 and values past the 32-bit range held at its ends.
int32_t truncate_track(double value) {
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return 2147483647;
    if (value <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int32_t>(value);
}

float target_aspect() {
    const RenderTargets& t = render_targets;
    if (t.target_width <= 0 || t.target_height <= 0) return 16.0f / 9.0f;
    return static_cast<float>(t.target_width) / static_cast<float>(t.target_height);
}

bool adds_to_running_scene(int32_t type, float frac) {
    if (type == 4 || type == 5 || type == 8 || type == 10) return true;
    return (type == 13 || type == 14 || type == 15) && frac > 0.01f;
}

// Empties world, pieces and graph and builds the camera, shadow camera and light nodes.
void reset_scene() {
    Scene* scene = scene_graph;
    sim_world->clear_bodies();
    clear_items();
    clear_bowl_spheres();
    scene_reset(scene);

    director.camera_node = node_create(scene, scene->root);
    node_set_name(scene, director.camera_node, "camera");
    uint32_t camera = camera_create(scene);
    if (Camera* c = scene_camera(scene, camera)) {
        c->projection = perspective(75, target_aspect(), 0.1f, 1024);
        c->eye = {0, 0, 1};
        c->center = {0, 0, 0};
        c->up = {0, 1, 0};
        c->view = look_at(c->eye, c->center, c->up);
    }
    if (Node* node = scene_node(scene, director.camera_node)) node->camera = camera;

    director.shadow_camera_node = node_create(scene, scene->root);
    node_set_name(scene, director.shadow_camera_node, "shadow camera");
    if (Node* node = scene_node(scene, director.shadow_camera_node)) node->camera = camera_create(scene);

    for (int i = 0; i < 4; ++i) {
        uint32_t light = light_create(scene);
        uint32_t node = node_create(scene, scene->root);
        char name[16];
        std::snprintf(name, sizeof name, "light%d", i);
        node_set_name(scene, node, name);
        if (Node* n = scene_node(scene, node)) n->light = light;
        director.light_nodes[i] = node;
    }
}

Camera* node_camera(uint32_t node) {
    const Node* n = scene_node(scene_graph, node);
    return n ? scene_camera(scene_graph, n->camera) : nullptr;
}

bool near(double value, double key) { return std::fabs(value - key) < 0.01; }

}  // namespace

vec3 light_direction(float pitch, float yaw) {
    double p = pitch, y = yaw;
    return {static_cast<float>(std::cos(y) * std::cos(p)), static_cast<float>(std::sin(p)),
            static_cast<float>(std::sin(y) * std::cos(p))};
}

int32_t sub_steps_for(int32_t pieces) { return pieces <= 1024 ? 4 : pieces <= 2048 ? 2 : 1; }

void scene_init() {
    director = director_s{};
    seed_gaussian();
    init_sim_world();
    init_scene_graph();
    clear_items();
    clear_bowl_spheres();
}

void scene_request_setup_afresh() { director.camera_node = 0; }

void scene_setup(int32_t type, const SceneInputs& in) {
    if (!sim_world || !scene_graph) return;
    float frac = static_cast<float>(in.param - type);
    if (!(director.camera_node != 0 && adds_to_running_scene(type, frac))) reset_scene();

    spawn_restitution = 0.8f;
    shadow_half_extent = 64;
    shadow_distance = 128;
    spawn_friction = 0.2f;

    auto solid_material = [] {
        spawn_friction = 1;
        spawn_restitution = 0;
    };
    const double w = in.param;
    // The environment of this type with chips placed by its pattern.
    auto environment_with_chips = [&](int32_t chips) {
        create_environment(type, w);
        spawn_chips(chips);
        place_items(type);
    };
    auto wide_shadow = [] {
        shadow_distance = 256;
        shadow_half_extent = 128;
    };
    switch (type) {
        case 1: {
            spawn_chips(128);
            float v = static_cast<float>(w);
            spawn_ingredients(static_cast<int32_t>((v - std::floor(v)) * 512 + 64), "cheese");
            place_items(1);
            break;
        }
        case 3:
            shadow_half_extent = 32;
            solid_material();
            environment_with_chips(128);
            break;
        case 4: {
            shadow_half_extent = 32;
            solid_material();
            int32_t first = spawn_ingredients(256, "cheese");
            drop_in_disc(first, 15, 0, 24, 4);
            break;
        }
        case 5: {
            solid_material();
            int32_t first = item_count;
            static const struct {
                int32_t count;
                const char* name;
            } foods[] = {{64, "bean"},       {32, "corn"},      {16, "jalapeno"},  {16, "onion"},
                         {64, "tomatodice"}, {64, "meatblob1"}, {64, "meatblob2"}};
            for (const auto& food : foods) spawn_ingredients(food.count, food.name);
            drop_in_disc(first, 15, 0, 24, 4);
            break;
        }
        case 6:
            wide_shadow();
            spawn_friction = 0;
            spawn_restitution = 0.2f;
            environment_with_chips(10);
            break;
        case 7:
            create_environment(7, w);
            if (near(w, 7)) {
                spawn_chips(128);
                spawn_ingredients(256, "cheese");
            } else if (near(w, 7.1)) {
                spawn_ingredients(512, "bean");
                spawn_ingredients(512, "corn");
            } else if (near(w, 7.2)) {
                spawn_ingredients(512, "jalapeno");
            } else if (near(w, 7.3)) {
                spawn_ingredients(256, "onion");
                spawn_ingredients(256, "tomatodice");
            } else if (near(w, 7.4)) {
                spawn_ingredients(128, "meatblob1");
                spawn_ingredients(128, "meatblob2");
                spawn_ingredients(256, "corn");
            } else if (near(w, 7.5)) {
                spawn_ingredients(512, "cheese");
            }
            place_items(7);
            break;
        case 8: drop_in_disc(spawn_chips(256), 15, 0, 60, 6); break;
        case 9:
            create_environment(9, w);
            create_bowl_spheres();
            break;
        case 10: drop_in_disc(spawn_chips(32), 15, 0, 20, 6); break;
        case 11:
            wide_shadow();
            environment_with_chips(4);
            break;
        case 12: create_environment(12, w); break;
        case 13:
            if (frac == 0) environment_with_chips(128);
            break;
        case 14: greeting_groups(); break;
        case 15:
            if (frac == 0) {
                solid_material();
                create_environment(15, w);
            } else {
                drop_in_disc(spawn_chips(32), 15, 8, 50, 6);
            }
            break;
        default:  // 2 and every type outside 1 to 15
            spawn_chips(128);
            place_items(type);
            break;
    }
}

void scene_update(const SceneInputs& in) {
    if (!sim_world || !scene_graph) return;
    director_s& d = director;
    // 1. Scene type.
    int32_t type = truncate_track(in.param);
    if (type != d.current_scene_type) {
        d.current_scene_type = type;
        if (type != -1) scene_setup(type, in);
    }
    if (d.camera_node == 0) scene_setup(type, in);

    // 2. Shuffle.
    int32_t shuffle = truncate_track(in.sim_shuffle);
    if (shuffle != d.last_shuffle) {
        d.last_shuffle = shuffle;
        float k = static_cast<float>(in.sim_shuffle);
        int32_t t = d.current_scene_type;
        if (k > 0 && (t == 3 || t == 4 || t == 5 || t == 15)) kick_items(k);
    }

    // 3 to 5. Gravity, the environment's behaviour, the step.
    sim_world->set_gravity(scene_gravity(d.current_scene_type));
    environment_frame(d.current_scene_type, in);
    float delta = static_cast<float>(in.sim_speed * static_cast<double>(in.frame_delta));
    auto step_start = std::chrono::steady_clock::now();
    sim_world->step(delta, sub_steps_for(item_count));
    d.last_step_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - step_start).count();

    // 6, 7. Bodies into nodes; the mill's wheel back in place.
    for (int32_t i = 0; i < item_count; ++i)
        if (Node* node = scene_node(scene_graph, items[i])) node->transform = sim_world->get_transform(BodyID{node->body});
    environment_after_step(d.current_scene_type);

    // 8. Lights, from the directions the previous camera update chose.
    for (int i = 0; i < 4; ++i) {
        vec3 dir = light_direction(d.light_pitch[i], d.light_yaw[i]);
        Node* node = scene_node(scene_graph, d.light_nodes[i]);
        if (!node) continue;
        if (Light* light = scene_light(scene_graph, node->light)) {
            light->color = light_colors[i];
            light->position_w = 0;
            light->intensity = d.light_intensity[i];
        }
        node->transform = translate(dir);
    }

    // 9. Camera, light presets and shadow camera.
    camera_update(in);
}

void camera_update(const SceneInputs& in) {
    int32_t mode = truncate_track(in.cam_index);
    float dist = static_cast<float>(in.cam_dist);
    float roll = static_cast<float>(in.cam_roll);
    vec3 p = {static_cast<float>(in.cam_x), static_cast<float>(in.cam_y), static_cast<float>(in.cam_z)};
    vec3 target = {static_cast<float>(in.cam_at_x), static_cast<float>(in.cam_at_y), static_cast<float>(in.cam_at_z)};
    float fov = static_cast<float>(in.cam_fov);
    if (fov == 0) fov = 75;

    vec3 axis = normalize(target - p);
    mat4 turn = rotate(roll, axis);
    vec3 up = {turn.at(1, 0), turn.at(1, 1), turn.at(1, 2)};

    vec3 eye = p;
    auto orbit = [&](double pitch_degrees, double yaw_degrees) {
        vec3 dir = light_direction(static_cast<float>(pitch_degrees * degrees), static_cast<float>(yaw_degrees * degrees));
        return target + dir * dist;
    };
    switch (mode) {
        case 1: eye = orbit(p.y, p.x); break;
        case 2:
        case 3:
        case 4: {
            static constexpr float amplitude[3] = {30, 5, 15}, speed[3] = {10, 5, 7.5f};
            float a = amplitude[mode - 2];
            float q = in.music_time * speed[mode - 2];
            float yaw = stb_perlin_noise3(p.x, q + p.y, p.z, 0, 0, 0) * a + p.x;
            float pitch = stb_perlin_noise3(q + p.x, p.y, p.z + 31.8657f, 0, 0, 0) * a + p.y;
            eye = orbit(pitch, yaw);
            break;
        }
        default: break;
    }
    if (eye.x == target.x && eye.y == target.y && eye.z == target.z) eye = {0, 10, 0};

    const Node* camera_node = scene_node(scene_graph, director.camera_node);
    if (Camera* camera = camera_node ? scene_camera(scene_graph, camera_node->camera) : nullptr) {
        camera_set_perspective(scene_graph, camera_node->camera, fov * 0.017453292f, target_aspect(), 0.1f, 1024);
        camera->eye = eye;
        camera->center = target;
        camera->up = up;
        camera->view = look_at(eye, target, up);
    }

    light_presets(eye, target, in);

    if (Camera* shadow = node_camera(director.shadow_camera_node)) {
        vec3 d = light_direction(director.light_pitch[0], director.light_yaw[0]);
        float e = shadow_half_extent, f = shadow_distance;
        mat4 projection = {};
        projection.at(0, 0) = 1 / e;
        projection.at(1, 1) = 1 / e;
        projection.at(2, 2) = -2 / (3 * f);
        projection.at(3, 2) = -1.0f / 3.0f;
        projection.at(3, 3) = 1;
        shadow->projection = projection;
        shadow->eye = target + d * f;
        shadow->center = target;
        shadow->up = {0, 1, 0};
        shadow->view = look_at(shadow->eye, target, shadow->up);
    }
}

void light_presets(vec3 eye, vec3 target, const SceneInputs& in) {
    struct Preset {
        int32_t mode;
        float pitch[4], yaw[4], intensity[4];  // degrees
    };
    static constexpr Preset presets[] = {
        {0, {75, 45, 90, -90}, {150, 56, 0, 0}, {10, 0.4f, 0.1f, 0.9f}},
        {2, {10, -1.6f, 90, -90}, {131, 113, 0, 0}, {10, 1.1f, 3.6f, 0.9f}},
        {3, {0.8f, 27.8f, 90, -90}, {145, 42.5f, 0, 0}, {7.6f, 3.8f, 16.2f, 0.7f}},
        {4, {29.5f, 8, 90, -90}, {47.5f, 145, 0, 0}, {10, 0.4f, 1, 0.4f}},
        {6, {54.9f, 45, 90, -90}, {122, 56, 0, 0}, {8, 0.4f, 0.1f, 0.9f}},
        // Mode 5 starts dark; its lights rise after pulse 444 (below).
        {5, {29.5f, 45, 90, -90}, {180, 56, 0, 0}, {0, 0, 0, 0}},
    };
    director_s& d = director;
    int32_t mode = truncate_track(in.light);
    for (const Preset& preset : presets) {
        if (preset.mode != mode) continue;
        for (int i = 0; i < 4; ++i) {
            d.light_pitch[i] = static_cast<float>(preset.pitch[i] * degrees);
            d.light_yaw[i] = static_cast<float>(preset.yaw[i] * degrees);
            d.light_intensity[i] = preset.intensity[i];
        }
    }
    if (mode == 5) {
        double pulse = scene_pulse(in);
        if (pulse >= 444) {
            float h = static_cast<float>(std::min(1.0, (pulse - 444) / 2.4));
            h = h * h * h;
            const float rise[4] = {10, 0.4f, 0.1f, 0.9f};
            for (int i = 0; i < 4; ++i) d.light_intensity[i] = rise[i] * h;
            d.light_yaw[0] = static_cast<float>(M_PI) - 2.31256127f * h;
        }
    } else if (mode == 1) {
        vec3 dir = normalize(target - eye);
        float phi = std::atan2(dir.z, dir.x) + static_cast<float>(M_PI) / 4;
        d.light_pitch[0] = d.light_pitch[1] = static_cast<float>(M_PI) / 4;
        d.light_pitch[2] = 0;
        d.light_yaw[0] = phi;
        d.light_yaw[1] = phi + 90;
        d.light_yaw[2] = phi - 90;
        const float intensity[4] = {10, 2, 5, 0};
        for (int i = 0; i < 4; ++i) d.light_intensity[i] = intensity[i];
    }
}

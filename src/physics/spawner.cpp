#include "physics/spawner.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "physics/sim.h"
#include "scene/model.h"
#include "scene/model_files.h"
#include "scene/scene_graph.h"
#include "scene/shipped_models.h"

uint32_t items[max_items];
int32_t item_count = 0;
float spawn_friction = 0.2f;
float spawn_restitution = 0.8f;

const char* const ingredient_names[ingredient_count] = {
    "chip001", "chip002", "chip003",    "chip004",   "cheese",    "bean",
    "corn",    "jalapeno", "onion", "tomatodice", "meatblob1", "meatblob2",
};

const char* const greeting_names[greeting_name_count] = {
    greeting_pieces[0].node, greeting_pieces[1].node, greeting_pieces[2].node,  greeting_pieces[3].node,
    greeting_pieces[4].node, greeting_pieces[5].node, greeting_pieces[6].node,  greeting_pieces[7].node,
    greeting_pieces[8].node, greeting_pieces[9].node, greeting_pieces[10].node, greeting_pieces[11].node,
};
static_assert(greeting_name_count == GREETING_COUNT);

constexpr quat identity_quat = {0, 0, 0, 1};
spawn_zone_s zone_greetings_high = {0, 0, false, true, {0, 100, 0}, {30, 30, 30}, {0, -100, 0}, {0, 10, 0}, identity_quat};
spawn_zone_s zone_greetings_low = {0, 0, false, true, {0, -100, 0}, {30, 30, 30}, {0, 100, 0}, {0, 10, 0}, identity_quat};
spawn_zone_s zone_greeting_single = {0, 0, false, false, {0, 30, 0}, {4, 2, 4}, {0, -50, 0}, {0, 0, 0}, identity_quat};
spawn_zone_s zone_stomp = {32, 0, true, false, {0, 17, -40}, {2, 2, 0}, {0, 0, 60}, {2, 2, 25}, identity_quat};

// ---- random sources ---------------------------------------------------------

gauss_rng_s gauss_rng;

void seed_gaussian() { gauss_rng = {0x7165f7f07990fcbcull, 0x937a76fe72089b2full, 0, 0, 0, 0}; }

namespace {

uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

uint64_t xoroshiro_next() {
    uint64_t s0 = gauss_rng.s0, s1 = gauss_rng.s1;
    uint64_t result = s0 + s1;
    uint64_t t = s1 ^ s0;
    gauss_rng.s0 = rotl(s0, 55) ^ t ^ (t << 14);
    gauss_rng.s1 = rotl(t, 36);
    return result;
}

// The top 52 bits as the mantissa of a double in [1, 2), less 1.
double unit_double(uint64_t r) {
    uint64_t bits = (r >> 12) | 0x3FF0000000000000ull;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d - 1.0;
}

}  // namespace

float gaussian() {
    gauss_rng_s& g = gauss_rng;
    if (g.has_spare == 1) {
        g.has_spare = 0;
        return static_cast<float>(std::sqrt(-2.0 * std::log(g.s) / g.s) * g.v);
    }
    do {
        double first = unit_double(xoroshiro_next());
        double second = unit_double(xoroshiro_next());
        g.u = static_cast<float>(first) * 2.0f - 1.0f;
        g.v = static_cast<float>(second) * 2.0f - 1.0f;
        g.s = g.v * g.v + g.u * g.u;
    } while (!(g.s < 1.0) || g.s == 0.0);
    g.has_spare = 1;
    return static_cast<float>(std::sqrt(-2.0 * std::log(g.s) / g.s) * g.u);
}

int32_t rand15() { return std::rand() & 0x7fff; }
float rand_signed() { return static_cast<float>(rand15()) / 32767.0f * 2.0f - 1.0f; }
float rand_unit() { return static_cast<float>(rand15()) / 32767.0f; }

quat random_orientation() {
    float r1 = rand_signed(), r2 = rand_signed(), r3 = rand_signed();
    vec3 axis = normalize({r3, r2, r1});
    float d = rand_signed();
    float theta = static_cast<float>(static_cast<double>(d) * M_PI);
    float s = std::sin(theta / 2);
    return {axis.x * s, axis.y * s, axis.z * s, std::cos(theta / 2)};
}

// ---- spawning ---------------------------------------------------------------

int32_t spawn(const Model* model, int32_t count, const char* name) {
    const int32_t first = item_count;
    if (item_count >= max_items) return first;
    int32_t room = max_items - item_count;
    if (count > room) {
        std::printf("reached max spawn count attempting %d %s!\n", count, name);
        std::fflush(stdout);
        count = room;
    }
    if (count <= 0 || !model || !scene_graph || !sim_world) return first;

    Scene* scene = scene_graph;
    uint32_t node_template = node_find(scene, name);
    int32_t shape = find_mesh_shape(model, name);
    bool fresh = false;
    if (!node_template) {
        node_template = instantiate_mesh(scene, model, name);
        if (!node_template) return first;  // the model has no such mesh (or the graph is full)
        node_mark_shadow_caster(scene, node_template);
        fresh = true;
    }
    for (int32_t i = 0; i < count; ++i) {
        uint32_t handle = (i == 0 && fresh) ? node_template : node_clone(scene, node_template, scene->root);
        Node* node = scene_node(scene, handle);
        if (!node) break;  // the node pool is full
        BodyID body = sim_world->create_body(shape, true);
        sim_world->set_material(body, spawn_friction, spawn_restitution);
        node->body = body.value;
        items[item_count++] = handle;
    }
    return first;
}

int32_t spawn_ingredients(int32_t count, const char* name) {
    return spawn(shipped_models[MODEL_INGREDIENTS], count, name);
}

int32_t spawn_greeting(const char* name) { return spawn(shipped_models[MODEL_GREETINGS], 1, name); }

int32_t spawn_chips(int32_t count) {
    const int32_t first = item_count;
    int32_t b = count / 4 < 1 ? 1 : count / 4;
    spawn_ingredients(b, "chip001");
    if (count - b > 0) spawn_ingredients(b, "chip002");
    if (count - 2 * b > 0) spawn_ingredients(b, "chip003");
    if (count - 3 * b > 0) spawn_ingredients(count - 3 * b, "chip004");
    return first;
}

void clear_items() {
    std::memset(items, 0, sizeof items);
    item_count = 0;
}

// ---- placing ----------------------------------------------------------------

namespace {

BodyID item_body(int32_t i) {
    const Node* node = scene_node(scene_graph, items[i]);
    return BodyID{node ? node->body : 0u};
}

void place(int32_t i, vec3 position, quat rotation) {
    BodyID body = item_body(i);
    sim_world->set_position(body, position, false);
    sim_world->set_rotation(body, rotation, Activation::Activate);
}

void place(int32_t i, vec3 position, quat rotation, vec3 velocity) {
    place(i, position, rotation);
    sim_world->set_linear_velocity(item_body(i), velocity);
}

vec3 gaussian_around(vec3 mean, vec3 spread) {
    float g1 = gaussian(), g2 = gaussian(), g3 = gaussian();
    return {g3 * spread.x + mean.x, g2 * spread.y + mean.y, g1 * spread.z + mean.z};
}

void emit_one(int32_t i, vec3 p, vec3 ps, vec3 v, vec3 vs) {
    vec3 position = gaussian_around(p, ps);
    vec3 velocity = gaussian_around(v, vs);
    place(i, position, random_orientation(), velocity);
}

bool world_ready() { return sim_world && scene_graph; }

}  // namespace

void apply_zone(int32_t first, const spawn_zone_s& zone) {
    if (!world_ready()) return;
    for (int32_t i = first < 0 ? 0 : first; i < item_count; ++i) {
        vec3 position = gaussian_around(zone.position, zone.position_spread);
        vec3 velocity = gaussian_around(zone.velocity, zone.velocity_spread);
        quat rotation = zone.orientation;
        if (zone.random_orientation) {
            rotation = random_orientation();
        } else if (zone.random_yaw) {
            float angle = gaussian() * static_cast<float>(M_PI) / 8;
            rotation = {0, std::sin(angle / 2), 0, std::cos(angle / 2)};
        }
        place(i, position, rotation, velocity);
    }
}

void emit(int32_t first, vec3 position, vec3 position_spread, vec3 velocity, vec3 velocity_spread) {
    if (!world_ready()) return;
    for (int32_t i = first < 0 ? 0 : first; i < item_count; ++i)
        emit_one(i, position, position_spread, velocity, velocity_spread);
}

void recycle_fallen(float threshold, vec3 position, vec3 position_spread, vec3 velocity, vec3 velocity_spread) {
    if (!world_ready()) return;
    for (int32_t i = 0; i < item_count; ++i) {
        const Node* node = scene_node(scene_graph, items[i]);
        if (node && node->transform.at(3, 1) < threshold)
            emit_one(i, position, position_spread, velocity, velocity_spread);
    }
}

void drop_in_disc(int32_t first, float radius, float inner, float height, float height_spread) {
    if (!world_ready()) return;
    for (int32_t i = first < 0 ? 0 : first; i < item_count; ++i) {
        float x, z;
        do {
            x = rand_signed() * radius;
            z = rand_signed() * radius;
        } while (x * x + z * z > radius * radius || x * x + z * z < inner);
        float y = gaussian() * height_spread + height;
        quat rotation = random_orientation();
        float g1 = gaussian(), g2 = gaussian(), g3 = gaussian();
        place(i, {x, y, z}, rotation, {g3, -20 - 2 * g2, g1});
    }
}

void place_items(int32_t scene_type) {
    if (!world_ready()) return;
    switch (scene_type) {
        case 3:
        case 13: drop_in_disc(0, 15, 0, 16, 4); return;
        case 9:
        case 14: return;
        default: break;
    }
    for (int32_t i = 0; i < item_count; ++i) {
        switch (scene_type) {
            case 1: {
                quat rotation = random_orientation();
                float u1 = rand_signed(), u2 = rand_signed(), u3 = rand_signed();
                bool low = i < 128;
                vec3 position = {32 * u3, 4 * u2 + (low ? -64.0f : 64.0f), 4 * u1};
                float g = gaussian();
                place(i, position, rotation, {0, low ? 50 * g + 50 : -50 - 50 * g, 0});
                break;
            }
            case 2: {
                float x = rand_signed() < 0 ? -50.0f : 50.0f;
                float g = gaussian();
                float u1 = rand_signed(), u2 = rand_signed();
                float speed = 20 * g + 100;
                place(i, {x, 8 * u2 + 8, 16 * u1}, random_orientation(), {x < 0 ? speed : -speed, 0, 0});
                break;
            }
            case 6:
            case 11: {
                float g1 = gaussian();
                float w = rand_unit();
                float g2 = gaussian();
                place(i, {3 * g2, 10 * w + 100, 3 * g1}, random_orientation());
                break;
            }
            case 7: {
                float g0 = gaussian(), g1 = gaussian(), g2 = gaussian(), g3 = gaussian();
                float k = 25 * g0 + 50;
                vec3 p = {8 * g3, 8 * g2 + 5, 16 * g1 + 80};
                vec3 velocity = normalize(p) * -k + vec3{0, 4, 0};
                place(i, p, random_orientation(), velocity);
                break;
            }
            default: {
                float u1 = rand_signed(), u2 = rand_signed(), u3 = rand_signed();
                quat rotation = random_orientation();
                float g = gaussian();
                place(i, {48 * u3, 4 * u2 - 64, 4 * u1}, rotation, {0, 50 * g + 50, 0});
                break;
            }
        }
    }
}

void kick_items(float strength) {
    if (!world_ready()) return;
    for (int32_t i = 0; i < item_count; ++i)
        sim_world->set_linear_velocity(item_body(i), {0, gaussian() * strength * 10, 0});
}

bool pace(float& accumulator, float rate, float delta) {
    accumulator += delta;
    if (static_cast<double>(rate) * static_cast<double>(accumulator) > 0.3) {
        accumulator = 0;
        return true;
    }
    return false;
}

// The ingredient spawner: the pieces of the physics scene (food from the
// ingredient model, words from the greeting model), each a scene node drawn
// with its model's mesh plus a dynamic body whose transform drives the node.
// It creates pieces, keeps the list of all of them, places them (spawn zones,
// emitter parameters, fixed patterns per scene type), sends fallen pieces back
// and kicks them on demand; and it owns the two random sources all of this
// draws from.
//
// Contract
// - Pieces live in sim_world and scene_graph (the show's one world and graph)
//   and come from shipped_models; nothing here runs before those exist.
// - The list only grows; clear_items empties it when the scene director
//   empties the world and the graph.
// - Every placement makes three body calls per piece, in this order:
//   set_position (no wake), set_rotation (Activate, which wakes it), then
//   set_linear_velocity.
// - At max_items pieces spawning stops: a request that does not fit prints
//   "reached max spawn count attempting %d %s!\n" once and makes what fits; a
//   request made when the list is full prints nothing.
// - Frame thread only.
#pragma once
#include <cstdint>

#include "render/math3d.h"

struct Model;

constexpr int32_t max_items = 3200;

// Node handles of the pieces, in creation order; item_count of them in use.
extern uint32_t items[max_items];
extern int32_t item_count;

// The material every newly made piece gets.
extern float spawn_friction;     // 0.2 at start
extern float spawn_restitution;  // 0.8 at start

constexpr int ingredient_count = 12;
extern const char* const ingredient_names[ingredient_count];
// The greeting model's twelve word pieces, in ascending byte order of the names.
constexpr int greeting_name_count = 12;
extern const char* const greeting_names[greeting_name_count];

struct spawn_zone_s {
    float rate;          // batches per pacing unit; 0 for zones used once
    float accumulator;   // seconds since the last batch
    bool random_orientation;
    bool random_yaw;     // else: a random turn about the vertical axis
    vec3 position;
    vec3 position_spread;  // standard deviation per axis
    vec3 velocity;
    vec3 velocity_spread;
    quat orientation;    // used when neither flag is set
};

extern spawn_zone_s zone_greetings_high;
extern spawn_zone_s zone_greetings_low;
extern spawn_zone_s zone_greeting_single;
extern spawn_zone_s zone_stomp;

// ---- random sources ---------------------------------------------------------

// The normal generator's state: xoroshiro128+ and the polar method's spare.
struct gauss_rng_s {
    uint64_t s0, s1;
    double u, v, s;
    int32_t has_spare;
};
extern gauss_rng_s gauss_rng;

// The scene part's seeds; later draws run on from here for the whole process.
void seed_gaussian();
// Standard normal (standard deviation 1). Values come in pairs: the second of
// a pair reuses the first's s and scales v.
float gaussian();
// A 15-bit draw (0 to 32767) from the standard library's rand.
int32_t rand15();
// rand15 / 32767 × 2 − 1, in [−1, 1] (a uniform draw).
float rand_signed();
// rand15 / 32767, in [0, 1] (a unit draw).
float rand_unit();
// Three uniform draws r1, r2, r3 make the axis (r3, r2, r1), a fourth the
// angle (× π); a zero axis gives a zero vector part.
quat random_orientation();

// ---- spawning ---------------------------------------------------------------

// Up to count pieces of the named mesh of `model`; returns the index of the
// first new piece (item_count before the call). The first spawn of a name
// after a reset makes the mesh's node, which becomes the first piece; later
// ones clone it. A name the model lacks makes nothing.
int32_t spawn(const Model* model, int32_t count, const char* name);
int32_t spawn_ingredients(int32_t count, const char* name);
int32_t spawn_greeting(const char* name);
// count chips over the four chip meshes: b = max(1, count / 4) each of the
// first three (while any are left to make), the rest of chip004.
int32_t spawn_chips(int32_t count);

// Empties the list (the world and the graph are emptied by their owner).
void clear_items();

// ---- placing ----------------------------------------------------------------

// Every piece from `first` to the end, from the zone's means and spreads.
void apply_zone(int32_t first, const spawn_zone_s& zone);
// The same with these means and spreads and always a random orientation.
void emit(int32_t first, vec3 position, vec3 position_spread, vec3 velocity, vec3 velocity_spread);
// Pieces whose height is below threshold are placed again as emit would.
void recycle_fallen(float threshold, vec3 position, vec3 position_spread, vec3 velocity, vec3 velocity_spread);
// On the disc of `radius` (x² + z² ≥ inner too) at height ± spread, thrown down.
void drop_in_disc(int32_t first, float radius, float inner, float height, float height_spread);
// All pieces by the fixed pattern of a scene type.
void place_items(int32_t scene_type);
// Every piece's velocity becomes (0, gaussian × strength × 10, 0).
void kick_items(float strength);

// The emitters' pacing: accumulator += delta; when rate × accumulator
// passes 0.3 the accumulator restarts and a batch is due (true).
bool pace(float& accumulator, float rate, float delta);

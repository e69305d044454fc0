// The physics world: one rigid-body world on Bullet (libbullet-dev), the
// process-wide list of collision shapes that the model loader fills, and the
// few body operations the spawner, the environments, the scene graph and the
// scene director use.
//
// Everything runs on the frame thread. Bodies are named by 32-bit ids (slot
// index and sequence number); the rest of the show never holds a body any
// other way. No operation reports errors except the shape builders' −1; an id
// that names no live body is ignored (get_transform gives the identity).
//
// Layers. Five object layers and three broad-phase layers:
//   object layers 0, 1, 2 → broad-phase layer 2, collide with nothing (no body uses them)
//   LAYER_NON_MOVING (3)  → broad-phase layer 0, collides with LAYER_MOVING only
//   LAYER_MOVING (4)      → broad-phase layer 1, collides with both
// In Bullet the two rules become collision filter groups and masks: a body's
// group is the bit of its object layer, its mask the bits of the layers it
// collides with (object_layers_collide). Two static bodies never meet.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "render/math3d.h"

class btCollisionShape;

// ---- body ids ---------------------------------------------------------------

// Slot index in bits 0 to 15, sequence number in bits 16 to 31. Sequence
// numbers start at 1 and skip 0 when they wrap, so the zero id (a
// zero-initialised node's) never names a body, and an id of a destroyed body
// stays invalid after its slot is reused.
struct BodyID {
    uint32_t value = 0;

    constexpr uint32_t index() const { return value & 0xffffu; }
    constexpr uint32_t sequence() const { return value >> 16; }
    constexpr bool is_invalid() const { return sequence() == 0; }
    friend constexpr bool operator==(BodyID, BodyID) = default;
};

// Whether a body operation wakes the body (the values of the original
// activation enumeration).
enum class Activation : int32_t { Activate = 0, DontActivate = 1 };

// ---- layers -----------------------------------------------------------------

enum ObjectLayer : uint8_t {
    LAYER_NON_MOVING = 3,  // environment bodies (static)
    LAYER_MOVING = 4,      // food pieces, greeting pieces, spheres (dynamic)
};
constexpr int object_layer_count = 5;
constexpr int broad_phase_layer_count = 3;
constexpr uint8_t object_to_broad_phase[object_layer_count] = {2, 2, 2, 0, 1};

// (3, 4), (4, 3) and (4, 4) collide; no other pair does.
bool object_layers_collide(int layer_a, int layer_b);
// Layer 3 meets broad-phase layer 1 only; layer 4 meets 0 and 1; nothing else.
bool object_layer_meets_broad_phase(int object_layer, int broad_phase_layer);

// ---- shapes -----------------------------------------------------------------

// One built collision shape. The Bullet shape is centred on its centre of mass
// and turned to its principal axes; local_frame is where that frame sits in
// the shape's own (model) coordinates, so a body's origin transform is its
// Bullet transform × inverse(local_frame).
struct shape_s {
    btCollisionShape* shape = nullptr;  // owned
    bool is_mesh = false;               // a static triangle mesh (no volume, mass 0)
    float mass = 0;                     // volume × 1000 for hulls and spheres; 0 for meshes
    vec3 inertia = {0, 0, 0};           // principal moments, about the centre of mass
    vec3 center_of_mass = {0, 0, 0};    // in model coordinates
    quat principal_rotation = {0, 0, 0, 1};  // principal axes in model coordinates
    vec3 bounds_min = {0, 0, 0};        // local bounding box in model coordinates
    vec3 bounds_max = {0, 0, 0};
    float inner_radius = 0;             // distance from the centre of mass to the nearest face
    float outer_radius = 0;             // distance from the centre of mass to the farthest point
    int32_t planes = 0;                 // face planes of a hull, 0 otherwise
    int32_t points = 0;                 // points of a hull after reduction, 0 otherwise
    int32_t triangles = 0;              // triangles of a mesh after sanitising, 0 otherwise

    struct storage_s;                   // the vertex and index arrays a mesh shape reads
    std::unique_ptr<storage_s> storage;
    shape_s();
    ~shape_s();
};

// Every shape the builders made, in build order; a shape's index is its shape
// id. Appended to by the builders, never shrunk or cleared; shapes are shared
// by all bodies made from them.
extern std::vector<std::unique_ptr<shape_s>> shape_list;

// A hull is reduced to at most max_hull_points points before it enters the
// world, by default to hull_points: the collision cost of a piece grows with
// its points, and 16 keep a piece's outline within a few per cent.
constexpr int max_hull_points = 32;
constexpr int hull_points = 16;

// Convex hull of count points (3 floats each, x y z), reduced to at most
// max_points (4 to max_hull_points) of them, margin 0.05. Prints
// "  %d convex planes\n" with the built hull's face count (0 when it could not
// be built) and returns the new shape id, or −1 for fewer than four points or
// points that span no volume (coplanar, collinear, coincident, non-finite).
int32_t build_convex_hull_shape(int32_t count, const float* points, int32_t max_points = hull_points);

// Static triangle mesh (btBvhTriangleMeshShape) over vertex_count vertices (3
// floats each) and index_count / 3 triangles of 16-bit indices. Degenerate
// triangles (repeated indices or no area) and duplicates are removed first.
// Returns the new shape id, or −1 when no triangle is left or an index names
// no vertex (that one says which on standard error).
int32_t build_mesh_shape(int32_t vertex_count, const float* vertices, int32_t index_count,
                         const uint16_t* indices);

// ---- settings ---------------------------------------------------------------

// The world's physics settings, member by member as the show's scene asks for
// them (the original library's defaults), and what each became in Bullet.
// "none": Bullet has no such knob; the member is kept so the table stays whole.
struct sim_settings_s {
    int32_t max_in_flight_body_pairs = 16384;  // none: Bullet's pair cache grows as needed
    int32_t step_listeners_batch_size = 8;     // none: no step listeners, no jobs (Debian's
    int32_t step_listener_batches_per_job = 1; //   Bullet has no task scheduler)
    float baumgarte = 0.2f;                    // solver m_erp and m_erp2
    float speculative_contact_distance = 0.02f;  // gContactBreakingThreshold: contacts are kept
                                                 // up to this far apart
    float penetration_slop = 0.02f;            // split impulse takes over below this depth
                                               // (m_splitImpulsePenetrationThreshold); Bullet's
                                               // m_linearSlop stays 0, as it also takes
                                               // slop / step off every bounce
    float linear_cast_threshold = 0.75f;       // a piece moving more than this fraction of its
                                               // inner radius in a sub-step is swept against the
                                               // static meshes and stopped at their front faces
    float linear_cast_max_penetration = 0.25f; // the sweep's allowed penetration, as that fraction
    float manifold_tolerance_sq = 1.0e-6f;     // none: Bullet keeps its own four-point manifolds
    float max_penetration_distance = 0.2f;     // none
    float body_pair_cache_max_delta_position_sq = 1.0e-6f;       // a hull pair that moved less than
    float body_pair_cache_cos_max_delta_rotation_div2 = 0.99984771f;  // this against each other
                                                                 // keeps its contacts untested
    float contact_normal_cos_max_delta_rotation = 0.99619472f;   // none
    float contact_point_preserve_lambda_max_dist_sq = 1.0e-4f;   // none (points are matched
                                                                 // within the breaking threshold)
    int32_t num_velocity_steps = 10;           // solver m_numIterations
    int32_t num_position_steps = 2;            // > 0: split impulse, Bullet's separate position
                                               // pass (its iterations are m_numIterations)
    float min_velocity_for_restitution = 1.0f; // solver m_restitutionVelocityThreshold
    float time_before_sleep = 0.5f;            // gDeactivationTime
    float point_velocity_sleep_threshold = 0.03f;  // each body's linear sleeping threshold, or
                                                   // the one below if higher; the angular one is
                                                   // it over the body's outer radius
    bool constraint_warm_start = true;         // solver mode SOLVER_USE_WARMSTARTING
    bool use_body_pair_contact_cache = true;   // the cache above (Bullet alone always re-tests)
    bool use_manifold_reduction = true;        // none: always at most four points per pair
    bool allow_sleeping = true;                // bodies may deactivate (DISABLE_DEACTIVATION otherwise)
    bool check_active_edges = true;            // hull–mesh contacts are vertex–face contacts along
                                               // the face normal (mesh_contacts.h); other shapes'
                                               // mesh contacts get Bullet's internal-edge fix
    // Added for Bullet: a body slow for time_before_sleep rests on its own,
    // solid for the others, even while its island is awake (a pile under a
    // stream of pieces never sleeps as a whole); one striking it faster than
    // wake_speed wakes it.
    bool rest_in_busy_piles = true;
    float wake_speed = 2.0f;
    // Added for Bullet: a body slower than gravity makes it in this time
    // counts as still (2 units/s under gravity 50, 0.39 under 9.8).
    float sleep_time_under_gravity = 0.04f;
};
// What departs from the original behaviour, and why:
//  - hulls keep 16 points by default, 32 at most (collision cost per piece);
//  - pieces are swept against the static meshes only, never against each
//    other (the original's discrete pieces rely on speculative contacts that
//    Bullet's discrete contacts do not give: without the sweep most pieces
//    landing at 180 units/s passed through the pyramid);
//  - static meshes are one-sided: a face holds pieces whose centre is in
//    front of it (or just behind, pushing them back out) and lets those
//    farther behind it pass;
//  - resting alone (above), so that busy piles stop costing;
//  - the sleep threshold follows gravity (sleep_time_under_gravity), not the
//    fixed 0.03: under the scenes' gravity of 50 to 100 a Bullet pile never
//    gets that still. 3,200 pieces settled in a bowl under gravity 50 cost
//    over 300 ms a step at 0.03, 97 ms at 1 (405 still awake) and 13 ms at 2
//    (30 awake); tied to gravity, a piece starting to slide down any slope
//    steeper than 5° passes the threshold within the sleep time;
//  - Bullet's linear slop is 0 (see penetration_slop).

// ---- the world --------------------------------------------------------------

// Material combining, as the original library does it (Bullet would multiply
// both): friction √(f1 · f2), restitution max(r1, r2).
float combine_friction(float friction_a, float friction_b);
float combine_restitution(float restitution_a, float restitution_b);

// Creation defaults of every body.
constexpr float default_friction = 0.2f;
constexpr float default_restitution = 0.0f;
constexpr float default_damping = 0.05f;            // linear and angular
constexpr float max_linear_velocity = 500.0f;        // clamped every sub-step
constexpr float max_angular_velocity = 47.12389f;    // 0.25 × π × 60 rad/s
constexpr int32_t max_bodies = 4096;
constexpr float hull_density = 1000.0f;

struct sim_s {
    // Contact listening keeps the base behaviour: every contact between two
    // bodies whose layers collide is accepted; nothing is reported.
    sim_settings_s settings;
    int32_t collision_steps = 1;  // collision steps per update; each runs sub_steps fixed steps

    sim_s();
    ~sim_s();
    sim_s(const sim_s&) = delete;
    sim_s& operator=(const sim_s&) = delete;

    // Builds the world: broad phase, dispatcher with its pools (the temporary
    // memory), solver with settings, gravity (0, −9.81, 0). Once per world;
    // body operations before it do nothing.
    void init();

    // A body of shape_list[shape], added to the world but not activated, at
    // the origin with identity rotation. dynamic: LAYER_MOVING, mass from the
    // shape (hull volume × 1000); a shape without mass (a triangle mesh) gets
    // a solid box of density 1 that fills its bounding box: mass dx·dy·dz,
    // inertia ((dy² + dz²), (dx² + dz²), (dx² + dy²)) × m / 12. Otherwise
    // static in LAYER_NON_MOVING. A shape id outside shape_list, or a full
    // world (max_bodies), gives the invalid id.
    BodyID create_body(int32_t shape, bool dynamic);
    // A dynamic sphere in LAYER_MOVING, density 1000; added, not activated.
    BodyID create_sphere(float radius);

    // Moves the body's origin, keeps its rotation, updates the broad phase;
    // activate wakes a dynamic body, never a static one.
    void set_position(BodyID body, vec3 position, bool activate);
    void set_material(BodyID body, float friction, float restitution);
    // Rotation and origin position (not the centre of mass); identity for an
    // invalid or destroyed id.
    mat4 get_transform(BodyID body) const;
    // Removes and destroys every body.
    void clear_bodies();
    // Advances delta seconds in collision_steps × sub_steps equal fixed
    // sub-steps. Nothing happens for delta ≤ 0 or an empty world.
    void step(float delta, int32_t sub_steps);

    // Body-interface calls. set_rotation keeps the origin where it is.
    void set_rotation(BodyID body, quat rotation, Activation activation);
    // Clamped to max_linear_velocity; a non-zero velocity wakes the body.
    void set_linear_velocity(BodyID body, vec3 velocity);
    vec3 get_linear_velocity(BodyID body) const;
    vec3 get_position(BodyID body) const;  // origin position; (0, 0, 0) for an invalid id
    quat get_rotation(BodyID body) const;
    void set_gravity(vec3 gravity);
    vec3 get_gravity() const;

    // Inspection, for the scene director's figures and for tests.
    bool is_valid(BodyID body) const;   // names a live body
    bool is_active(BodyID body) const;  // awake and simulated; statics never are
    bool is_static(BodyID body) const;
    float get_mass(BodyID body) const;     // 0 for statics and invalid ids
    vec3 get_inertia(BodyID body) const;   // principal moments about the centre of mass
    int32_t body_count() const;
    int32_t active_body_count() const;
    // Whether the last step left contact points between the two bodies.
    bool in_contact(BodyID a, BodyID b) const;
    // Contact pairs with at least one point after the last step.
    int32_t contact_pair_count() const;
    // Pairs whose bounds overlap in the broad phase (each one a narrow-phase test).
    int32_t broad_phase_pair_count() const;

    struct world_s;  // the Bullet objects and the body slots
    std::unique_ptr<world_s> world;
};

// The show's one world, made by the scene part at its start (init_sim_world)
// and never destroyed while the process runs.
extern sim_s* sim_world;
// Creates and initialises sim_world once; a later call (a second start-up in
// the same process) empties it of bodies instead.
void init_sim_world();

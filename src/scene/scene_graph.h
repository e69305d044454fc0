// The scene graph: a tree of named nodes under one root, and the cameras,
// lights, materials and draw records nodes point to, all in one fixed block of
// five pools. Nothing in it is allocated or freed one by one.
//
// Contract
// - A handle is the slot index in bits 0..15 and the record's generation in
//   bits 16..31; 0 means none. Slot 0 of every pool is never handed out.
//   Allocation takes the lowest free slot (slot field 0), clears the record and
//   raises its generation to 1, so every live handle reads (1 << 16) | slot.
//   Lookups use the slot bits only.
// - A full pool gives handle 0: node_create then links nothing, and the
//   operations that would fill the record (clone, instantiation) stop there.
//   Every operation ignores handle 0 and handles of free or out-of-range
//   slots, so no call writes slot 0 or outside a pool.
// - Children stay in creation order (appended at the end of the parent's list).
//   node_find scans slots 2 upward and stops at the first free one: nodes are
//   only ever released all at once by scene_reset, so live nodes fill slots
//   1..n without gaps.
// - Draw and material records belong to an instantiation: clones share them.
//   Releasing records never releases GPU resources (they belong to the models).
// - scene_reset empties the graph down to the root, which keeps its slot,
//   name and transform.
// - Main thread only.
#pragma once
#include <cstdint>

#include "gfx/gfx.h"
#include "render/math3d.h"
#include "render/uniform_blocks.h"

struct Model;
struct MeshEntry;
struct sim_s;

constexpr uint32_t handle_slot(uint32_t handle) { return handle & 0xffffu; }

constexpr int scene_camera_capacity = 4;     // slots 1..3 usable
constexpr int scene_draw_capacity = 256;     // slots 1..255
constexpr int scene_light_capacity = 8;      // slots 1..7
constexpr int scene_material_capacity = 256; // slots 1..255
constexpr int scene_node_capacity = 4096;    // slots 1..4095

constexpr uint32_t NODE_SHADOW_CASTER = 2;  // flag bit 1: drawn in the shadow pass
constexpr int node_name_capacity = 16;       // 15 characters and the terminating zero

struct Node {
    uint32_t generation, slot;  // slot 0: free
    uint32_t first_child;
    uint32_t next_sibling;
    uint32_t parent;  // 0 for the root and for nodes made without parent
    uint32_t flags;
    uint32_t camera;
    uint32_t draw;
    uint32_t light;
    uint32_t material;
    char name[node_name_capacity];
    uint32_t body;   // physics body id, when the node has a body
    mat4 transform;  // local, column-major; identity at creation
};

struct Camera {
    uint32_t generation, slot;
    vec3 eye;  // read by the lit pass
    vec3 center, up;
    mat4 view;
    mat4 projection;
};

struct Light {
    uint32_t generation, slot;
    vec3 color;        // light_color rgb
    float position_w;  // light_pos w (no stage reads it)
    float intensity;   // light_color w
};

struct Material {
    uint32_t generation, slot;
    metallic_params params;
    gfx::Pipeline pipeline;   // the pipeline the lit pass applies
    int32_t shadow_map_slot;  // fragment image slot that gets the shadow map: 4
};

struct DrawRecord {
    uint32_t generation, slot;
    gfx::Bindings bindings;         // lit pass; image slot 4 is filled in per draw
    gfx::Bindings shadow_bindings;  // positions and indices only
    int32_t index_count;
};

struct Scene {
    Camera cameras[scene_camera_capacity];
    DrawRecord draws[scene_draw_capacity];
    Light lights[scene_light_capacity];
    Material materials[scene_material_capacity];
    Node nodes[scene_node_capacity];
    uint32_t root;
};

// The record a handle names, or nullptr for 0, a free slot or a slot past the pool.
Node* scene_node(Scene* scene, uint32_t handle);
const Node* scene_node(const Scene* scene, uint32_t handle);
Camera* scene_camera(Scene* scene, uint32_t handle);
Light* scene_light(Scene* scene, uint32_t handle);
const Light* scene_light(const Scene* scene, uint32_t handle);
Material* scene_material(Scene* scene, uint32_t handle);
const Material* scene_material(const Scene* scene, uint32_t handle);
DrawRecord* scene_draw_record(Scene* scene, uint32_t handle);

// Writes a node's name, truncated to 15 characters.
void node_set_name(Scene* scene, uint32_t node, const char* name);

// A zeroed block with the root node in slot 1, named "root".
Scene* scene_create();
uint32_t node_create(Scene* scene, uint32_t parent);
// First node from slot 2 up whose name equals `name` exactly; 0 if none (the root is never found).
uint32_t node_find(const Scene* scene, const char* name);
// Copies the subtree under `parent`: name, flags, camera, draw, light and
// material handles and transform, children in order; not the body.
uint32_t node_clone(Scene* scene, uint32_t source, uint32_t parent);
// Flags the node and all its descendants as shadow casters.
void node_mark_shadow_caster(Scene* scene, uint32_t node);
uint32_t camera_create(Scene* scene);
// projection = perspective(fov in radians, as degrees; aspect; near; far); the view is untouched.
void camera_set_perspective(Scene* scene, uint32_t camera, float fov, float aspect, float near_plane,
                            float far_plane);
uint32_t light_create(Scene* scene);
uint32_t material_create(Scene* scene, gfx::Pipeline pipeline);
uint32_t draw_record_create(Scene* scene, const gfx::Bindings& bindings, int32_t index_count);

using EntryFilter = bool (*)(void* filter_data, const MeshEntry* entry);

// One node "gltf scene" under the root and, for every primitive of every entry
// the filter accepts (all without a filter), a shadow-casting child named after
// the entry with its own material and draw record and a static body of the
// primitive's shape at the entry's translation and rotation; the child's
// transform is the body's. Returns the instance node.
uint32_t instantiate_model(Scene* scene, const Model* model, sim_s* sim, EntryFilter filter, void* filter_data);
// The entry called `name`: primitive 0 becomes a node under the root, later
// primitives nodes under it; no flag, no body, identity transforms. Returns the
// first node, 0 when no entry has that name.
uint32_t instantiate_mesh(Scene* scene, const Model* model, const char* name);
void scene_reset(Scene* scene);

// The show's one scene graph, made by the scene part at its start.
extern Scene* scene_graph;
// Creates scene_graph once; a later call (a second start-up in the same
// process) empties it down to the root instead.
void init_scene_graph();

// Scene rendering: the graph drawn into the shadow map as light-space depth,
// and lit and textured into the off-screen target.
//
// Contract
// - Each pass walks the tree from the root, depth first, parent before
//   children, forming world = parent world × node transform. The lit walk also
//   gathers the first four light nodes it meets into the light block (a
//   light's world position becomes its direction from the origin); further
//   lights are ignored. Drawable nodes (a draw record) enter the list; in the
//   shadow walk only those flagged NODE_SHADOW_CASTER, though the walk still
//   visits the children of unflagged nodes.
// - Lit order: by pipeline, then material, then draw record (a node without a
//   material sorts first); shadow order: by draw record. Copies that share a
//   draw record and material therefore draw one after another. Every entry
//   re-applies pipeline, bindings and all its uniform blocks.
// - The lit pass writes the shadow map's colour image into image slot 4 of
//   every draw record it draws. Entries whose draw record or material is not
//   live are skipped; entries the graphics layer refuses (an image without
//   content) are skipped there, and the pass goes on.
// - Nothing is allocated: the list is a value on the caller's stack
//   (about 290 KiB), cleared per call.
// - render_shadow_pass inside the begun shadow pass; render_lit_pass inside
//   the off-screen pass, after that frame's shadow pass has ended.
#pragma once
#include <cstdint>

#include "render/math3d.h"
#include "render/uniform_blocks.h"
#include "scene/scene_graph.h"

constexpr int draw_list_capacity = 4096;
constexpr int max_scene_lights = 4;

struct DrawItem {
    const Node* node;
    mat4 world;
};

struct DrawList {
    const Scene* scene;
    int32_t light_count;
    light_params lights;
    int32_t draw_item_count;
    DrawItem draw_items[draw_list_capacity];
};

// Maps light clip x and y from -1..1 to 0..1, z unchanged.
mat4 shadow_bias_matrix();

// Adds the subtree at `node` to the list (lights only when shadow is false).
void collect(DrawList& list, uint32_t node, const mat4& parent_world, bool shadow);

// The lists the passes draw: cleared, collected from the root and sorted; the
// lit list's block also carries shadowMapSize and lightDir (the shadow
// camera's eye direction, zero for an eye at the origin).
void prepare_lit_list(DrawList& list, const Scene* scene, const Camera& shadow_camera);
void prepare_shadow_list(DrawList& list, const Scene* scene);

void render_lit_pass(Scene* scene, const Camera& camera, const Camera& shadow_camera);
void render_shadow_pass(Scene* scene, const Camera& shadow_camera);

// The scene part's drawing, seen from the camera records of the nodes named
// "camera" and "shadow camera": the shadow variant into the shadow map, the
// main variant lit. Nothing while a camera it needs is missing.
void draw_scene_view(Scene* scene, bool shadow_pass);

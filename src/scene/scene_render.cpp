#include "scene/scene_render.h"

#include <algorithm>
#include <cstring>

#include "render/render_targets.h"

namespace {

// Lit sort key: the rule "same material: by draw record; else both materials
// set and their pipelines differ: by pipeline; else by material" is the
// lexicographic order of (pipeline or 0 without material, material, draw),
// since pipeline ids are above 0. As one key it is a strict weak order, which
// the sort needs.
struct LitKey {
    uint32_t pipeline, material, draw;
};

LitKey lit_key(const Scene* scene, const DrawItem& item) {
    const Material* m = scene_material(scene, item.node->material);
    return {m ? m->pipeline.id : 0u, item.node->material, item.node->draw};
}

bool lit_before(const Scene* scene, const DrawItem& a, const DrawItem& b) {
    LitKey ka = lit_key(scene, a), kb = lit_key(scene, b);
    if (ka.pipeline != kb.pipeline) return ka.pipeline < kb.pipeline;
    if (ka.material != kb.material) return ka.material < kb.material;
    return ka.draw < kb.draw;
}

void clear_list(DrawList& list, const Scene* scene) {
    std::memset(static_cast<void*>(&list), 0, sizeof list);
    list.scene = scene;
}

}  // namespace

mat4 shadow_bias_matrix() {
    mat4 bias = mat4_identity();
    bias.at(0, 0) = 0.5f;
    bias.at(1, 1) = 0.5f;
    bias.at(3, 0) = 0.5f;
    bias.at(3, 1) = 0.5f;
    return bias;
}

void collect(DrawList& list, uint32_t handle, const mat4& parent_world, bool shadow) {
    const Node* node = scene_node(list.scene, handle);
    if (!node) return;
    mat4 world = parent_world * node->transform;
    if (!shadow && node->light != 0 && list.light_count < max_scene_lights) {
        const Light* light = scene_light(list.scene, node->light);
        if (light) {
            int i = list.light_count++;
            list.lights.light_pos[i] = {world.at(3, 0), world.at(3, 1), world.at(3, 2), light->position_w};
            list.lights.light_color[i] = {light->color.x, light->color.y, light->color.z, light->intensity};
        }
    }
    if (node->draw != 0 && (!shadow || (node->flags & NODE_SHADOW_CASTER)) &&
        list.draw_item_count < draw_list_capacity)
        list.draw_items[list.draw_item_count++] = {node, world};
    for (uint32_t child = node->first_child; const Node* c = scene_node(list.scene, child); child = c->next_sibling)
        collect(list, child, world, shadow);
}

void prepare_lit_list(DrawList& list, const Scene* scene, const Camera& shadow_camera) {
    clear_list(list, scene);
    if (!scene) return;
    collect(list, scene->root, mat4_identity(), false);
    std::sort(list.draw_items, list.draw_items + list.draw_item_count,
              [scene](const DrawItem& a, const DrawItem& b) { return lit_before(scene, a, b); });
    list.lights.shadowMapSize = {static_cast<float>(shadow_map_size), static_cast<float>(shadow_map_size)};
    list.lights.lightDir = normalize(shadow_camera.eye);
}

void prepare_shadow_list(DrawList& list, const Scene* scene) {
    clear_list(list, scene);
    if (!scene) return;
    collect(list, scene->root, mat4_identity(), true);
    std::sort(list.draw_items, list.draw_items + list.draw_item_count,
              [](const DrawItem& a, const DrawItem& b) { return a.node->draw < b.node->draw; });
}

void render_lit_pass(Scene* scene, const Camera& camera, const Camera& shadow_camera) {
    DrawList list;
    prepare_lit_list(list, scene, shadow_camera);
    vs_params vs{};
    vs.view_proj = camera.projection * camera.view;
    vs.light_wvp = shadow_bias_matrix() * shadow_camera.projection * shadow_camera.view;
    vs.eye_pos = camera.eye;
    for (int i = 0; i < list.draw_item_count; ++i) {
        const DrawItem& item = list.draw_items[i];
        DrawRecord* draw = scene_draw_record(scene, item.node->draw);
        const Material* material = scene_material(scene, item.node->material);
        if (!draw || !material) continue;
        gfx::apply_pipeline(material->pipeline);
        if (material->shadow_map_slot >= 0 && material->shadow_map_slot < gfx::MAX_SHADERSTAGE_IMAGES)
            draw->bindings.fs_images[material->shadow_map_slot] = shadow_map.color_image;
        gfx::apply_bindings(draw->bindings);
        vs.world = item.world;
        gfx::apply_uniforms(gfx::ShaderStage::Vs, 0, &vs, sizeof vs);
        gfx::apply_uniforms(gfx::ShaderStage::Fs, 0, &list.lights, sizeof list.lights);
        gfx::apply_uniforms(gfx::ShaderStage::Fs, 1, &material->params, sizeof material->params);
        gfx::draw(0, draw->index_count, 1);
    }
}

void render_shadow_pass(Scene* scene, const Camera& shadow_camera) {
    DrawList list;
    prepare_shadow_list(list, scene);
    mat4 vp = shadow_camera.projection * shadow_camera.view;
    for (int i = 0; i < list.draw_item_count; ++i) {
        const DrawItem& item = list.draw_items[i];
        DrawRecord* draw = scene_draw_record(scene, item.node->draw);
        if (!draw) continue;
        gfx::apply_pipeline(shadow_map.pipeline);
        gfx::apply_bindings(draw->shadow_bindings);
        vs_shadow_params params{vp * item.world};
        gfx::apply_uniforms(gfx::ShaderStage::Vs, 0, &params, sizeof params);
        gfx::draw(0, draw->index_count, 1);
    }
}

void draw_scene_view(Scene* scene, bool shadow_pass) {
    const Node* camera_node = scene_node(scene, node_find(scene, "camera"));
    const Node* shadow_node = scene_node(scene, node_find(scene, "shadow camera"));
    const Camera* camera = camera_node ? scene_camera(scene, camera_node->camera) : nullptr;
    const Camera* shadow = shadow_node ? scene_camera(scene, shadow_node->camera) : nullptr;
    if (!shadow) return;
    if (shadow_pass)
        render_shadow_pass(scene, *shadow);
    else if (camera)
        render_lit_pass(scene, *camera, *shadow);
}

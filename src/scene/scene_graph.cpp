#include "scene/scene_graph.h"

#include <numbers>
#include <cstdlib>
#include <cstring>

#include "physics/sim.h"
#include "scene/model.h"

namespace {

// Lowest free slot from 1: cleared, generation raised, slot recorded. 0 when full.
template <typename Record, int N>
uint32_t allocate(Record (&pool)[N]) {
    for (uint32_t i = 1; i < static_cast<uint32_t>(N); ++i) {
        if (pool[i].slot != 0) continue;
        pool[i] = Record{};
        pool[i].generation += 1;
        pool[i].slot = i;
        return (pool[i].generation << 16) | i;
    }
    return 0;
}

template <typename Record, int N>
Record* live(Record (&pool)[N], uint32_t handle) {
    uint32_t i = handle_slot(handle);
    if (i == 0 || i >= static_cast<uint32_t>(N) || pool[i].slot != i) return nullptr;
    return &pool[i];
}

template <typename Record, int N>
void release_all(Record (&pool)[N], uint32_t keep_slot = 0) {
    for (uint32_t i = 1; i < static_cast<uint32_t>(N); ++i)
        if (i != keep_slot) pool[i].slot = 0;
}

// The shadow pass reads only positions and indices.
gfx::Bindings shadow_bindings_of(const gfx::Bindings& lit) {
    gfx::Bindings b{};
    b.vertex_buffers[0] = lit.vertex_buffers[0];
    b.vertex_buffer_offsets[0] = lit.vertex_buffer_offsets[0];
    b.index_buffer = lit.index_buffer;
    b.index_buffer_offset = lit.index_buffer_offset;
    return b;
}

// A material and a draw record for one primitive; false when a pool is full.
bool make_primitive_records(Scene* scene, const Primitive& p, uint32_t& material, uint32_t& draw) {
    material = material_create(scene, scene_pipeline);
    draw = draw_record_create(scene, p.bindings, p.index_count);
    Material* m = scene_material(scene, material);
    DrawRecord* d = scene_draw_record(scene, draw);
    if (!m || !d) return false;
    m->params = p.params;
    d->shadow_bindings = shadow_bindings_of(p.bindings);
    return true;
}

// A drawable node named after the entry, or 0 when a pool is full.
uint32_t make_primitive_node(Scene* scene, uint32_t parent, const MeshEntry& entry, const Primitive& p) {
    uint32_t material, draw;
    if (!make_primitive_records(scene, p, material, draw)) return 0;
    uint32_t handle = node_create(scene, parent);
    Node* node = scene_node(scene, handle);
    if (!node) return 0;
    node_set_name(scene, handle, entry.name);
    node->draw = draw;
    node->material = material;
    return handle;
}

}  // namespace

Scene* scene_graph = nullptr;

void init_scene_graph() {
    if (scene_graph)
        scene_reset(scene_graph);
    else
        scene_graph = scene_create();
}

Node* scene_node(Scene* scene, uint32_t handle) { return scene ? live(scene->nodes, handle) : nullptr; }
const Node* scene_node(const Scene* scene, uint32_t handle) {
    return scene_node(const_cast<Scene*>(scene), handle);
}
Camera* scene_camera(Scene* scene, uint32_t handle) { return scene ? live(scene->cameras, handle) : nullptr; }
Light* scene_light(Scene* scene, uint32_t handle) { return scene ? live(scene->lights, handle) : nullptr; }
const Light* scene_light(const Scene* scene, uint32_t handle) { return scene_light(const_cast<Scene*>(scene), handle); }
Material* scene_material(Scene* scene, uint32_t handle) { return scene ? live(scene->materials, handle) : nullptr; }
const Material* scene_material(const Scene* scene, uint32_t handle) {
    return scene_material(const_cast<Scene*>(scene), handle);
}
DrawRecord* scene_draw_record(Scene* scene, uint32_t handle) { return scene ? live(scene->draws, handle) : nullptr; }

void node_set_name(Scene* scene, uint32_t handle, const char* name) {
    Node* node = scene_node(scene, handle);
    if (!node) return;
    copy_name(node->name, sizeof node->name, name);
}

Scene* scene_create() {
    Scene* scene = static_cast<Scene*>(std::calloc(1, sizeof(Scene)));
    scene->root = node_create(scene, 0);
    node_set_name(scene, scene->root, "root");
    return scene;
}

uint32_t node_create(Scene* scene, uint32_t parent) {
    if (!scene) return 0;
    uint32_t handle = allocate(scene->nodes);
    Node* node = scene_node(scene, handle);
    if (!node) return 0;
    node->transform = mat4_identity();
    Node* p = scene_node(scene, parent);
    if (!p) return handle;
    node->parent = parent;
    if (!scene_node(scene, p->first_child)) {
        p->first_child = handle;
        return handle;
    }
    Node* last = scene_node(scene, p->first_child);
    while (Node* next = scene_node(scene, last->next_sibling)) last = next;
    last->next_sibling = handle;
    return handle;
}

uint32_t node_find(const Scene* scene, const char* name) {
    if (!scene || !name) return 0;
    for (uint32_t i = 2; i < static_cast<uint32_t>(scene_node_capacity); ++i) {
        const Node& node = scene->nodes[i];
        if (node.slot == 0) break;
        // A stored name ends by byte 15, so a longer query differs there.
        if (std::strncmp(node.name, name, sizeof node.name) == 0)
            return (node.generation << 16) | i;
    }
    return 0;
}

uint32_t node_clone(Scene* scene, uint32_t source, uint32_t parent) {
    // The subtree is listed before anything is made, so that a copy placed
    // inside it (a node cloned under itself) is not copied again.
    struct Listed {
        uint32_t handle;
        int parent;  // index in the list, -1 for the source
    };
    if (!scene_node(scene, source)) return 0;
    Listed listed[scene_node_capacity];
    int count = 0;
    auto list_subtree = [&](auto&& self, uint32_t handle, int parent_index) -> void {
        if (count == scene_node_capacity) return;
        int me = count;
        listed[count++] = {handle, parent_index};
        for (uint32_t child = scene_node(scene, handle)->first_child; const Node* c = scene_node(scene, child);
             child = c->next_sibling)
            self(self, child, me);
    };
    list_subtree(list_subtree, source, -1);

    // Made in the listed (depth-first) order, each appended under its
    // parent's copy, so the copies' children keep the source's order.
    uint32_t copies[scene_node_capacity];
    int made = 0;
    for (int i = 0; i < count; ++i, ++made) {
        uint32_t handle = node_create(scene, listed[i].parent < 0 ? parent : copies[listed[i].parent]);
        Node* copy = scene_node(scene, handle);
        if (!copy) break;
        const Node* src = scene_node(scene, listed[i].handle);
        std::memcpy(copy->name, src->name, sizeof copy->name);
        copy->flags = src->flags;
        copy->camera = src->camera;
        copy->draw = src->draw;
        copy->light = src->light;
        copy->material = src->material;
        copy->transform = src->transform;
        copies[i] = handle;
    }
    return made > 0 ? copies[0] : 0;
}

void node_mark_shadow_caster(Scene* scene, uint32_t handle) {
    Node* node = scene_node(scene, handle);
    if (!node) return;
    node->flags |= NODE_SHADOW_CASTER;
    for (uint32_t child = node->first_child; Node* c = scene_node(scene, child); child = c->next_sibling)
        node_mark_shadow_caster(scene, child);
}

uint32_t camera_create(Scene* scene) {
    if (!scene) return 0;
    uint32_t handle = allocate(scene->cameras);
    if (Camera* c = scene_camera(scene, handle)) {
        c->view = mat4_identity();
        c->projection = mat4_identity();
    }
    return handle;
}

void camera_set_perspective(Scene* scene, uint32_t handle, float fov, float aspect, float near_plane,
                            float far_plane) {
    Camera* c = scene_camera(scene, handle);
    if (!c) return;
    c->projection = perspective(fov * 180.0f / std::numbers::pi_v<float>, aspect, near_plane, far_plane);
}

uint32_t light_create(Scene* scene) { return scene ? allocate(scene->lights) : 0; }

uint32_t material_create(Scene* scene, gfx::Pipeline pipeline) {
    if (!scene) return 0;
    uint32_t handle = allocate(scene->materials);
    if (Material* m = scene_material(scene, handle)) {
        m->pipeline = pipeline;
        m->shadow_map_slot = SLOT_SHADOW_MAP;
    }
    return handle;
}

uint32_t draw_record_create(Scene* scene, const gfx::Bindings& bindings, int32_t index_count) {
    if (!scene) return 0;
    uint32_t handle = allocate(scene->draws);
    if (DrawRecord* d = scene_draw_record(scene, handle)) {
        d->bindings = bindings;
        d->index_count = index_count;
    }
    return handle;
}

uint32_t instantiate_model(Scene* scene, const Model* model, sim_s* sim, EntryFilter filter, void* filter_data) {
    if (!scene) return 0;
    uint32_t instance = node_create(scene, scene->root);
    if (!instance) return 0;
    node_set_name(scene, instance, "gltf scene");
    if (!model) return instance;
    for (int32_t e = 0; e < model->entry_count; ++e) {
        const MeshEntry& entry = model->entries[e];
        if (filter && !filter(filter_data, &entry)) continue;
        for (int32_t p = 0; p < entry.primitive_count; ++p) {
            const Primitive& prim = entry.primitives[p];
            uint32_t handle = make_primitive_node(scene, instance, entry, prim);
            Node* node = scene_node(scene, handle);
            if (!node) return instance;
            node->flags |= NODE_SHADOW_CASTER;
            if (!sim) continue;
            BodyID body = sim->create_body(prim.shape, false);
            node->body = body.value;
            sim->set_position(body, {entry.translation[0], entry.translation[1], entry.translation[2]}, false);
            sim->set_rotation(body, {entry.rotation[0], entry.rotation[1], entry.rotation[2], entry.rotation[3]},
                              Activation::DontActivate);
            node->transform = sim->get_transform(body);
        }
    }
    return instance;
}

uint32_t instantiate_mesh(Scene* scene, const Model* model, const char* name) {
    if (!scene || !model || !name) return 0;
    for (int32_t e = 0; e < model->entry_count; ++e) {
        const MeshEntry& entry = model->entries[e];
        if (std::strcmp(entry.name, name) != 0) continue;
        uint32_t first = 0;
        for (int32_t p = 0; p < entry.primitive_count; ++p) {
            uint32_t handle = make_primitive_node(scene, p == 0 ? scene->root : first, entry, entry.primitives[p]);
            if (!handle) break;
            if (p == 0) first = handle;
        }
        return first;
    }
    return 0;
}

void scene_reset(Scene* scene) {
    if (!scene) return;
    Node* root = scene_node(scene, scene->root);
    if (root) root->first_child = 0;
    release_all(scene->cameras);
    release_all(scene->draws);
    release_all(scene->lights);
    release_all(scene->materials);
    release_all(scene->nodes, handle_slot(scene->root));
}

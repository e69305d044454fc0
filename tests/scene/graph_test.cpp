// The scene graph's pools, handles, naming, linking, cloning, lookup, reset
// and instantiation. No GL: models are made by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "physics/sim.h"
#include "scene/model.h"
#include "scene/scene_graph.h"

namespace {

constexpr uint32_t live_handle(uint32_t slot) { return (1u << 16) | slot; }

template <typename Record, int N>
int live_count(const Record (&pool)[N]) {
    int n = 0;
    for (int i = 1; i < N; ++i) n += pool[i].slot != 0;
    return n;
}

std::vector<uint32_t> children(Scene* s, uint32_t parent) {
    std::vector<uint32_t> out;
    for (uint32_t c = scene_node(s, parent)->first_child; c; c = scene_node(s, c)->next_sibling) out.push_back(c);
    return out;
}

bool is_identity(const mat4& m) {
    mat4 id = mat4_identity();
    return std::memcmp(&m, &id, sizeof m) == 0;
}

// A model in memory: one entry per name with `primitives` primitives each,
// every primitive with a small box hull and its own bindings.
struct HandModel {
    Model model{};
    std::vector<MeshEntry> entries;
    std::vector<std::vector<Primitive>> primitives;

    HandModel(const std::vector<std::string>& names, int primitive_count = 1) {
        const float box[] = {-1, -1, -1, 1, -1, -1, -1, 1, -1, 1, 1, -1, -1, -1, 1, 1, -1, 1, -1, 1, 1, 1, 1, 1};
        primitives.resize(names.size());
        entries.resize(names.size());
        for (size_t e = 0; e < names.size(); ++e) {
            MeshEntry& entry = entries[e];
            copy_name(entry.name, sizeof entry.name, names[e].c_str());
            entry.translation[0] = static_cast<float>(e);
            entry.translation[1] = 2;
            entry.rotation[3] = 1;
            for (int p = 0; p < primitive_count; ++p) {
                Primitive prim{};
                prim.shape = sim_world ? build_convex_hull_shape(8, box) : -1;
                prim.index_count = 36 + static_cast<int32_t>(e);
                prim.bindings.vertex_buffers[0].id = 100 + static_cast<uint32_t>(e);
                prim.bindings.vertex_buffer_offsets[0] = 12 * p;
                prim.bindings.vertex_buffers[1].id = 200;
                prim.bindings.index_buffer.id = 300;
                prim.bindings.index_buffer_offset = 2 * p;
                prim.bindings.fs_images[SLOT_BASE_COLOR].id = 400;
                prim.params.metallic_factor = 0.5f;
                primitives[e].push_back(prim);
            }
            entry.primitive_count = primitive_count;
            entry.primitives = primitives[e].data();
        }
        model.entry_count = static_cast<int32_t>(entries.size());
        model.entries = entries.data();
    }
};

class SceneGraph : public testing::Test {
protected:
    void SetUp() override {
        scene = scene_create();
        testing::internal::CaptureStdout();  // hull builds print their plane counts
        if (!sim_world) init_sim_world();
    }
    void TearDown() override {
        testing::internal::GetCapturedStdout();
        sim_world->clear_bodies();
        std::free(scene);
    }
    Scene* scene = nullptr;
};

TEST_F(SceneGraph, RootAndFirstSlotsAlsoAfterAReset) {
    EXPECT_EQ(scene->root, live_handle(1));
    EXPECT_STREQ(scene_node(scene, scene->root)->name, "root");
    EXPECT_EQ(node_find(scene, "root"), 0u);
    uint32_t first = node_create(scene, scene->root);
    EXPECT_EQ(first, live_handle(2));
    node_create(scene, first);
    camera_create(scene);
    light_create(scene);
    scene_reset(scene);
    EXPECT_EQ(scene_node(scene, scene->root)->first_child, 0u);
    EXPECT_EQ(live_count(scene->nodes), 1);
    EXPECT_EQ(live_count(scene->cameras) + live_count(scene->lights), 0);
    EXPECT_EQ(node_create(scene, scene->root), live_handle(2));
    EXPECT_EQ(camera_create(scene), live_handle(1));
    EXPECT_STREQ(scene_node(scene, scene->root)->name, "root");
    EXPECT_TRUE(is_identity(scene_node(scene, scene->root)->transform));
}

TEST_F(SceneGraph, NamesAreTruncatedToFifteenCharacters) {
    uint32_t node = node_create(scene, scene->root);
    node_set_name(scene, node, "twenty_characters_xx");
    EXPECT_STREQ(scene_node(scene, node)->name, "twenty_characte");
    EXPECT_EQ(node_find(scene, "twenty_characters_xx"), 0u);
    EXPECT_EQ(node_find(scene, "twenty_characte"), node);
    EXPECT_EQ(node_find(scene, "twenty"), 0u);
}

TEST_F(SceneGraph, FindReturnsTheOldestNodeOfAName) {
    uint32_t a = node_create(scene, scene->root);
    node_set_name(scene, a, "chip002");
    uint32_t b = node_create(scene, a);
    node_set_name(scene, b, "chip002");
    EXPECT_EQ(node_find(scene, "chip002"), a);
    EXPECT_EQ(node_find(scene, ""), 0u);
}

TEST_F(SceneGraph, ChildrenStayInCreationOrder) {
    uint32_t parent = node_create(scene, scene->root);
    std::vector<uint32_t> made;
    for (int i = 0; i < 4; ++i) made.push_back(node_create(scene, parent));
    EXPECT_EQ(children(scene, parent), made);
    for (uint32_t c : made) EXPECT_EQ(scene_node(scene, c)->parent, parent);
    EXPECT_EQ(scene_node(scene, node_create(scene, 0))->parent, 0u);
}

TEST_F(SceneGraph, CloneCopiesTheSubtreeAndSharesRecords) {
    uint32_t source = node_create(scene, scene->root);
    node_set_name(scene, source, "template");
    Node* s = scene_node(scene, source);
    s->draw = draw_record_create(scene, {}, 3);
    s->material = material_create(scene, {7});
    s->body = 1234;
    s->flags = NODE_SHADOW_CASTER;
    s->transform = translate({1, 2, 3});
    uint32_t left = node_create(scene, source), right = node_create(scene, source);
    node_set_name(scene, left, "left");
    node_set_name(scene, right, "right");
    int nodes_before = live_count(scene->nodes);

    uint32_t parent = node_create(scene, scene->root);
    uint32_t copy = node_clone(scene, source, parent);
    EXPECT_EQ(live_count(scene->nodes), nodes_before + 1 + 3);
    const Node* c = scene_node(scene, copy);
    EXPECT_EQ(c->parent, parent);
    EXPECT_STREQ(c->name, "template");
    EXPECT_EQ(c->draw, s->draw);
    EXPECT_EQ(c->material, s->material);
    EXPECT_EQ(c->flags, NODE_SHADOW_CASTER);
    EXPECT_EQ(c->body, 0u);
    EXPECT_EQ(std::memcmp(&c->transform, &s->transform, sizeof(mat4)), 0);
    std::vector<uint32_t> kids = children(scene, copy);
    ASSERT_EQ(kids.size(), 2u);
    EXPECT_STREQ(scene_node(scene, kids[0])->name, "left");
    EXPECT_STREQ(scene_node(scene, kids[1])->name, "right");
    EXPECT_EQ(children(scene, source).size(), 2u);
    EXPECT_EQ(live_count(scene->draws), 1);
    EXPECT_EQ(live_count(scene->materials), 1);
}

TEST_F(SceneGraph, CloneUnderItselfCopiesTheSubtreeOnce) {
    uint32_t top = node_create(scene, scene->root);
    uint32_t leaf = node_create(scene, top);
    int before = live_count(scene->nodes);
    uint32_t copy = node_clone(scene, top, top);
    EXPECT_EQ(live_count(scene->nodes), before + 2);
    EXPECT_EQ(children(scene, top), (std::vector<uint32_t>{leaf, copy}));
    EXPECT_EQ(children(scene, copy).size(), 1u);
    uint32_t deeper = node_clone(scene, top, leaf);
    EXPECT_EQ(live_count(scene->nodes), before + 2 + 4);
    EXPECT_EQ(scene_node(scene, deeper)->parent, leaf);
}

TEST_F(SceneGraph, ShadowFlagReachesEveryDescendant) {
    uint32_t top = node_create(scene, scene->root);
    uint32_t mid = node_create(scene, top);
    uint32_t leaf = node_create(scene, mid);
    uint32_t other = node_create(scene, scene->root);
    node_mark_shadow_caster(scene, mid);
    EXPECT_EQ(scene_node(scene, top)->flags, 0u);
    EXPECT_EQ(scene_node(scene, mid)->flags, NODE_SHADOW_CASTER);
    EXPECT_EQ(scene_node(scene, leaf)->flags, NODE_SHADOW_CASTER);
    EXPECT_EQ(scene_node(scene, other)->flags, 0u);
}

TEST_F(SceneGraph, FullPoolsGiveZeroAndTouchNothing) {
    struct Case {
        const char* pool;
        uint32_t (*create)(Scene*);
        int free_slots;
        uint32_t last_slot;
    };
    const Case cases[] = {
        {"cameras", [](Scene* s) { return camera_create(s); }, 3, 3},
        {"lights", [](Scene* s) { return light_create(s); }, 7, 7},
        {"materials", [](Scene* s) { return material_create(s, {1}); }, 255, 255},
        {"draw records", [](Scene* s) { return draw_record_create(s, {}, 6); }, 255, 255},
        {"nodes", [](Scene* s) { return node_create(s, 0); }, 4094, 4095},  // the root holds slot 1
    };
    for (const Case& c : cases) {
        uint32_t last = 0;
        for (int i = 0; i < c.free_slots; ++i) last = c.create(scene);
        EXPECT_EQ(last, live_handle(c.last_slot)) << c.pool;
        EXPECT_EQ(c.create(scene), 0u) << c.pool;
    }
    // With the node pool full, node_create links nothing and clone makes nothing.
    uint32_t first_before = scene_node(scene, scene->root)->first_child;
    EXPECT_EQ(node_create(scene, scene->root), 0u);
    EXPECT_EQ(scene_node(scene, scene->root)->first_child, first_before);
    EXPECT_EQ(node_clone(scene, live_handle(5), scene->root), 0u);
    // Nothing writes slot 0, whatever handle it is given.
    node_mark_shadow_caster(scene, 0);
    node_set_name(scene, 0, "nobody");
    camera_set_perspective(scene, 0, 1, 1, 1, 2);
    EXPECT_EQ(scene->nodes[0].flags, 0u);
    EXPECT_EQ(scene->nodes[0].name[0], '\0');
    EXPECT_EQ(scene->cameras[0].projection.m[0], 0.0f);
}

TEST_F(SceneGraph, CameraPerspectiveTakesRadians) {
    uint32_t cam = camera_create(scene);
    Camera* c = scene_camera(scene, cam);
    EXPECT_TRUE(is_identity(c->view));
    EXPECT_TRUE(is_identity(c->projection));
    camera_set_perspective(scene, cam, static_cast<float>(M_PI / 2), 16.0f / 9.0f, 0.0625f, 16.0f);
    mat4 want = perspective(90, 16.0f / 9.0f, 0.0625f, 16.0f);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(c->projection.m[i], want.m[i], 1e-5f) << i;
    EXPECT_TRUE(is_identity(c->view));
}

TEST_F(SceneGraph, InstantiatedModelGetsShadowCastingChildrenWithStaticBodies) {
    HandModel mill({"wheel", "helix", "door1", "door2", "door_funnel"});
    uint32_t instance = instantiate_model(scene, &mill.model, sim_world, nullptr, nullptr);
    const Node* inst = scene_node(scene, instance);
    ASSERT_NE(inst, nullptr);
    EXPECT_STREQ(inst->name, "gltf scene");
    EXPECT_EQ(inst->parent, scene->root);
    EXPECT_EQ(inst->draw, 0u);
    std::vector<uint32_t> kids = children(scene, instance);
    ASSERT_EQ(kids.size(), 5u);
    for (size_t i = 0; i < kids.size(); ++i) {
        const Node* n = scene_node(scene, kids[i]);
        const Primitive& p = mill.primitives[i][0];
        EXPECT_STREQ(n->name, mill.entries[i].name);
        EXPECT_EQ(n->flags, NODE_SHADOW_CASTER);
        const DrawRecord* d = scene_draw_record(scene, n->draw);
        const Material* m = scene_material(scene, n->material);
        ASSERT_TRUE(d && m);
        EXPECT_EQ(std::memcmp(&d->bindings, &p.bindings, sizeof p.bindings), 0);
        EXPECT_EQ(d->index_count, p.index_count);
        EXPECT_EQ(d->shadow_bindings.vertex_buffers[0].id, p.bindings.vertex_buffers[0].id);
        EXPECT_EQ(d->shadow_bindings.index_buffer.id, p.bindings.index_buffer.id);
        EXPECT_EQ(d->shadow_bindings.vertex_buffers[1].id, 0u);
        EXPECT_EQ(d->shadow_bindings.fs_images[SLOT_BASE_COLOR].id, 0u);
        EXPECT_EQ(m->params.metallic_factor, 0.5f);
        EXPECT_EQ(m->pipeline.id, scene_pipeline.id);
        EXPECT_EQ(m->shadow_map_slot, 4);
        BodyID body{n->body};
        EXPECT_TRUE(sim_world->is_valid(body));
        EXPECT_TRUE(sim_world->is_static(body));
        EXPECT_FALSE(sim_world->is_active(body));
        EXPECT_FLOAT_EQ(n->transform.at(3, 0), mill.entries[i].translation[0]);
        EXPECT_FLOAT_EQ(n->transform.at(3, 1), 2.0f);
    }
    EXPECT_EQ(live_count(scene->draws), 5);
    EXPECT_EQ(live_count(scene->materials), 5);
}

TEST_F(SceneGraph, FilterChoosesEntriesAndEveryPrimitiveIsAChild) {
    HandModel model({"Plate", "Bowl1", "Bowl2"}, 2);
    auto bowls_only = [](void* data, const MeshEntry* e) {
        ++*static_cast<int*>(data);
        return std::strncmp(e->name, "Bowl", 4) == 0;
    };
    int asked = 0;
    uint32_t instance = instantiate_model(scene, &model.model, sim_world, bowls_only, &asked);
    EXPECT_EQ(asked, 3);
    std::vector<uint32_t> kids = children(scene, instance);
    ASSERT_EQ(kids.size(), 4u);
    const char* names[] = {"Bowl1", "Bowl1", "Bowl2", "Bowl2"};
    for (size_t i = 0; i < 4; ++i) EXPECT_STREQ(scene_node(scene, kids[i])->name, names[i]);
    EXPECT_EQ(scene_draw_record(scene, scene_node(scene, kids[1])->draw)->bindings.index_buffer_offset, 2);
}

TEST_F(SceneGraph, InstantiatedMeshIsAPlainNodeUnderTheRoot) {
    HandModel ingredients({"chip001", "chip002", "onion"});
    HandModel two_parts({"chip002"}, 2);
    uint32_t chip = instantiate_mesh(scene, &ingredients.model, "chip002");
    const Node* n = scene_node(scene, chip);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->parent, scene->root);
    EXPECT_STREQ(n->name, "chip002");
    EXPECT_EQ(n->flags, 0u);
    EXPECT_EQ(n->body, 0u);
    EXPECT_EQ(n->first_child, 0u);
    EXPECT_TRUE(is_identity(n->transform));
    EXPECT_EQ(scene_draw_record(scene, n->draw)->index_count, 37);
    EXPECT_NE(scene_material(scene, n->material), nullptr);
    EXPECT_EQ(instantiate_mesh(scene, &ingredients.model, "chip00"), 0u);

    uint32_t first = instantiate_mesh(scene, &two_parts.model, "chip002");
    std::vector<uint32_t> kids = children(scene, first);
    ASSERT_EQ(kids.size(), 1u);
    EXPECT_STREQ(scene_node(scene, kids[0])->name, "chip002");
    EXPECT_TRUE(is_identity(scene_node(scene, kids[0])->transform));
    EXPECT_EQ(scene_node(scene, first)->parent, scene->root);
}

}  // namespace

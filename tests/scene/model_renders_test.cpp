// The shipped models through the real passes, lit and with shadows: each
// environment from two sides, heaps of every ingredient, the greetings. The
// pictures are saved as PNG (scene_model_*.png in the render tests' build
// folder) to be looked at; the checks say that each was drawn whole: in view,
// lit, and with no draw refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "glb_builder.h"
#include "physics/sim.h"
#include "render/render_targets.h"
#include "scene/scene_render.h"
#include "scene/shipped_models.h"
#include "scene_frame.h"

namespace {

constexpr int W = 320, H = 180;
constexpr Rgba8 backdrop = {40, 48, 64, 0};

struct Bounds {
    vec3 lo = {1e30f, 1e30f, 1e30f}, hi = {-1e30f, -1e30f, -1e30f};
    void add(vec3 p) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    vec3 center() const { return (lo + hi) * 0.5f; }
    float radius() const { return length(hi - lo) * 0.5f; }
};

// The world bounds of every drawable node, from its collision shape's box.
Bounds drawn_bounds(Scene* scene) {
    Bounds b;
    DrawList* list = new DrawList;
    prepare_lit_list(*list, scene, Camera{});
    for (int i = 0; i < list->draw_item_count; ++i) {
        const DrawItem& item = list->draw_items[i];
        const Node* n = item.node;
        int32_t shape = -1;
        for (int slot = 0; slot < MODEL_COUNT && shape < 0; ++slot)
            if (shipped_models[slot]) shape = find_mesh_shape(shipped_models[slot], n->name);
        if (shape < 0 || shape >= static_cast<int32_t>(shape_list.size())) continue;
        const shape_s& s = *shape_list[shape];
        for (int corner = 0; corner < 8; ++corner) {
            vec4 p = {corner & 1 ? s.bounds_max.x : s.bounds_min.x, corner & 2 ? s.bounds_max.y : s.bounds_min.y,
                      corner & 4 ? s.bounds_max.z : s.bounds_min.z, 1};
            vec4 w = item.world * p;
            b.add({w.x, w.y, w.z});
        }
    }
    delete list;
    return b;
}

class ModelRenders : public testing::Test {
protected:
    void SetUp() override {
        if (!open_scene_window(W, H)) GTEST_SKIP() << "no GL 4.5 context (run under Xvfb)";
        if (!sim_world) init_sim_world();
        scene = scene_create();
    }

    // Loads one shipped model on first use, as the load step would (each test
    // runs on its own, so it loads only what it draws).
    static const Model* shipped(int slot) {
        if (!shipped_models[slot]) {
            testing::internal::CaptureStdout();  // hull plane counts
            const EmbeddedFile& file = model_files[slot];
            shipped_models[slot] = load_model(file.bytes, static_cast<size_t>(file.size), shipped_shape_mode(slot),
                                              file.name, &shipped_model_stats[slot]);
            testing::internal::GetCapturedStdout();
        }
        return shipped_models[slot];
    }
    void TearDown() override {
        sim_world->clear_bodies();
        std::free(scene);
    }

    // Key light 0 (shadowed) from above and the front, three dimmer ones.
    void light_scene(vec3 key) {
        add_light(scene, key, {1.0f, 0.92f, 0.8f}, 3.2f);
        add_light(scene, {-0.7f, 0.4f, 0.5f}, {0.6f, 0.7f, 1.0f}, 1.0f);
        add_light(scene, {0.2f, 0.3f, -1.0f}, {1.0f, 1.0f, 1.0f}, 0.8f);
        add_light(scene, {0, -1, 0}, {0.9f, 0.8f, 0.7f}, 0.3f);
    }

    // Draws what is in the scene seen along view_dir (framing `frame`, or all
    // that is drawn), lit by a key light above the camera that casts the
    // shadows, saves it, and checks it was drawn whole.
    void render(const std::string& png, vec3 view_dir, float zoom = 1.0f, const Bounds* frame = nullptr) {
        vec3 key = normalize(normalize(view_dir) + vec3{0.4f, 1.2f, 0});
        light_scene(key);
        Bounds b = frame ? *frame : drawn_bounds(scene);
        ASSERT_LT(b.lo.x, b.hi.x) << png << ": nothing drawable";
        vec3 c = b.center();
        float r = b.radius();
        // Far enough that the bounding sphere fits the picture's height.
        float vertical_tan = std::tan(25.0f * 3.14159265f / 180) * H / W;
        float d = 1.1f * r / vertical_tan / zoom;
        uint32_t cam = add_camera(scene, c + normalize(view_dir) * d, c, 50, std::max(d - 2 * r, d * 0.02f), d + 2 * r);
        float sd = r * 3;
        float fov = 2 * std::atan(1.1f * r / sd) * 180 / 3.14159265f;
        uint32_t shadow_cam = add_camera(scene, c + normalize(key) * sd, c, fov, sd - 1.5f * r, sd + 1.5f * r);
        scene_camera(scene, shadow_cam)->projection = perspective(fov, 1, sd - 1.5f * r, sd + 1.5f * r);

        gfx::begin_pass(shadow_map.pass, shadow_map.pass_action);
        render_shadow_pass(scene, *scene_camera(scene, shadow_cam));
        gfx::end_pass();
        const float clear[4] = {backdrop.r / 255.0f, backdrop.g / 255.0f, backdrop.b / 255.0f, 0};
        gfx::begin_pass(render_targets.offscreen_pass, offscreen_pass_action(clear));
        render_lit_pass(scene, *scene_camera(scene, cam), *scene_camera(scene, shadow_cam));
        gfx::end_pass();
        gfx::FrameStats stats = gfx::query_frame_stats();
        std::vector<Rgba8> image = read_image(render_targets.color_image);
        gfx::commit();

        EXPECT_EQ(stats.draws_skipped, 0) << png;
        EXPECT_GT(stats.draws, 0) << png;
        int covered = 0, bright = 0;
        for (Rgba8& p : image) {
            if (p.a == 255) {
                ++covered;
                bright += p.r + p.g + p.b > 150;
            }
            p.a = 255;
        }
        save_png(png, W, H, image);
        EXPECT_GT(covered, W * H / 20) << png << ": the model should fill part of the view";
        // A fair share lit, not most: some views look at dark hair or a dark mask.
        EXPECT_GT(bright, covered / 8) << png << ": the model should be lit";
    }

    Scene* scene = nullptr;
};

class EnvironmentRenders : public ModelRenders, public testing::WithParamInterface<int> {};

TEST_P(EnvironmentRenders, FromTwoSides) {
    const Model* model = shipped(GetParam());
    const char* name = model_files[GetParam()].name;
    ASSERT_GT(model->entry_count, 0) << name;
    const vec3 sides[2] = {{0.6f, 0.45f, 1.0f}, {-0.9f, 0.35f, -0.8f}};  // the second from behind
    for (int side = 0; side < 2; ++side) {
        scene_reset(scene);
        sim_world->clear_bodies();
        instantiate_model(scene, model, sim_world, nullptr, nullptr);
        std::string file = std::string(name, std::strlen(name) - 4);  // without ".glb"
        render("scene_model_" + file + "_" + std::to_string(side + 1) + ".png", sides[side], 1.4f);
    }
}

INSTANTIATE_TEST_SUITE_P(Shipped, EnvironmentRenders,
                         testing::Values(MODEL_DONKEY, MODEL_MILL, MODEL_FACE, MODEL_PLATE, MODEL_PYRAMID),
                         [](const testing::TestParamInfo<int>& info) {
                             std::string name = model_files[info.param].name;
                             return name.substr(0, name.size() - 4);
                         });

// Drops `count` copies of each ingredient in a column above its spot and lets
// the physics world settle them into heaps on the plate.
void drop_heaps(Scene* scene, const Model* food, vec3 center, float spacing, int count) {
    std::vector<std::pair<uint32_t, BodyID>> pieces;
    for (int e = 0; e < food->entry_count; ++e) {
        const MeshEntry& entry = food->entries[e];
        uint32_t node = instantiate_mesh(scene, food, entry.name);
        vec3 spot = center + vec3{(e % 4 - 1.5f) * spacing, 0, (e / 4 - 1.0f) * spacing};
        for (int i = 0; i < count; ++i) {
            uint32_t piece = i == 0 ? node : node_clone(scene, node, scene->root);
            node_mark_shadow_caster(scene, piece);
            BodyID body = sim_world->create_body(entry.primitives[0].shape, true);
            sim_world->set_position(body, spot + vec3{0.2f * std::sin(i * 2.4f), 1.0f + 0.6f * i, 0.2f * std::cos(i * 2.4f)},
                                    true);
            sim_world->set_rotation(body, quat_from_axis_angle({std::sin(i * 1.3f), 1, std::cos(i * 0.7f)}, i * 0.9f),
                                    Activation::Activate);
            pieces.push_back({piece, body});
        }
    }
    for (int step = 0; step < 150; ++step) sim_world->step(1.0f / 60.0f, 1);
    for (auto& [node, body] : pieces) scene_node(scene, node)->transform = sim_world->get_transform(body);
}

TEST_F(ModelRenders, IngredientHeaps) {
    const Model* food = shipped(MODEL_INGREDIENTS);
    ASSERT_NE(food, nullptr);
    ASSERT_EQ(food->entry_count, 12);
    for (int e = 0; e < food->entry_count; ++e) ASSERT_GE(food->entries[e].primitives[0].shape, 0) << e;
    // A plain floor for the heaps to land on: a static triangle mesh at y = 0.
    GlbBuilder b;
    int base = b.add_texture(b.add_image(solid_png(4, 4, 190, 186, 180)));
    int mr = b.add_texture(b.add_image(solid_png(4, 4, 255, 200, 0)));
    const float c[3] = {0, 0, 0}, u[3] = {30, 0, 0}, v[3] = {0, 0, 30}, n[3] = {0, 1, 0};
    Quad floor = make_quad(c, u, v, n);
    b.add_node("floor", b.add_mesh("floor", floor.vertices, floor.indices,
                                   b.add_material({{"pbrMetallicRoughness",
                                                    {{"baseColorTexture", {{"index", base}}},
                                                     {"metallicRoughnessTexture", {{"index", mr}}}}}})));
    std::vector<uint8_t> glb = b.build();
    ModelPtr floor_model(load_model(glb.data(), glb.size(), 2, "floor"));
    instantiate_model(scene, floor_model.get(), sim_world, nullptr, nullptr);

    const float spacing = 4.5f;
    drop_heaps(scene, food, {0, 0, 0}, spacing, 14);
    Bounds heaps;
    heaps.add({-2 * spacing, 0, -1.5f * spacing});
    heaps.add({2 * spacing, 1, 1.5f * spacing});
    render("scene_model_ingredients.png", {0.0f, 1.0f, 1.0f}, 2.2f, &heaps);
}

TEST_F(ModelRenders, Greetings) {
    const Model* greetings = shipped(MODEL_GREETINGS);
    ASSERT_NE(greetings, nullptr);
    ASSERT_EQ(greetings->entry_count, 12);
    for (int e = 0; e < greetings->entry_count; ++e) {
        uint32_t n = instantiate_mesh(scene, greetings, greetings->entries[e].name);
        const shape_s& s = *shape_list[greetings->entries[e].primitives[0].shape];
        float size = length(s.bounds_max - s.bounds_min);
        scene_node(scene, n)->transform = translate({(e % 4 - 1.5f) * size, (1 - e / 4) * size * 0.5f, 0});
        node_mark_shadow_caster(scene, n);
    }
    render("scene_model_greetings.png", {0.0f, 0.3f, 1.0f}, 1.9f);
}

}  // namespace

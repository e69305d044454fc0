// Scene rendering: what the walk collects and how it sorts, the calls the
// passes make, and pixels of the lit program against values computed here
// from the shading formulas.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "glb_builder.h"
#include "render/render_targets.h"
#include "scene/model.h"
#include "scene/scene_render.h"
#include "scene_frame.h"

using nlohmann::json;

namespace {

constexpr int W = 64, H = 36;

class SceneRender : public testing::Test {
protected:
    void SetUp() override {
        if (!open_scene_window(W, H)) GTEST_SKIP() << "no GL 4.5 context (run under Xvfb)";
        scene = scene_create();
    }
    void TearDown() override { std::free(scene); }
    Scene* scene = nullptr;
};

// A model of flat quads, each with its own material.
struct QuadSpec {
    const char* name;
    vec3 center, u_axis, v_axis, normal;
    json material;
};

ModelPtr load_quads(const std::vector<QuadSpec>& quads, GlbBuilder b = {}) {
    for (const QuadSpec& q : quads) {
        Quad geometry = make_quad(&q.center.x, &q.u_axis.x, &q.v_axis.x, &q.normal.x);
        int material = q.material.is_null() ? -1 : b.add_material(q.material);
        b.add_node(q.name, b.add_mesh(q.name, geometry.vertices, geometry.indices, material));
    }
    std::vector<uint8_t> glb = b.build();
    return ModelPtr(load_model(glb.data(), glb.size(), 0, "quads"));
}

// ---- the shading formulas, in double precision ----

struct D3 {
    double x, y, z;
};
D3 operator+(D3 a, D3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
D3 operator*(D3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dot(D3 a, D3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
D3 unit(D3 a) { return a * (1 / std::sqrt(dot(a, a))); }
D3 d3(vec3 v) { return {v.x, v.y, v.z}; }
double sat(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

struct RefLight {
    D3 direction;  // the light's position
    D3 radiance;   // colour × intensity
};

struct RefSurface {
    D3 base;  // linear, factor applied
    double metallic, roughness, occlusion;
    D3 emissive;  // linear, factor applied
    D3 n, v;
};

double tone(double c) {
    double x = 2 * c;
    double mapped = ((x * (0.3 * c + 0.05) + 0.004) / (x * (0.3 * c + 0.5) + 0.06) - 0.06666667) * 1.3790643;
    return std::pow(mapped < 0 ? 0 : mapped, 1 / 2.2);
}

// Output colour in 0..255 per channel.
std::array<double, 3> shade(const RefSurface& s, const std::vector<RefLight>& lights, double shadow0) {
    const double pi = 3.14159265358979;
    double base[3] = {s.base.x, s.base.y, s.base.z};
    double em[3] = {s.emissive.x, s.emissive.y, s.emissive.z};
    double a2 = std::pow(s.roughness, 4);
    double nv = sat(dot(s.n, s.v));
    double gv = std::sqrt(nv * nv * (1 - a2) + a2);
    double f0[3], diffuse[3];
    for (int c = 0; c < 3; ++c) {
        f0[c] = (base[c] - 0.04) * s.metallic + 0.04;
        diffuse[c] = base[c] * 0.96 * (1 - s.metallic);
    }
    double f90 = sat(std::max(f0[0], std::max(f0[1], f0[2])) * 50);
    double color[3] = {0, 0, 0};
    for (size_t i = 0; i < lights.size(); ++i) {
        D3 l = unit(lights[i].direction);
        D3 h = unit(l + s.v);
        double nl = sat(dot(s.n, l)), nh = sat(dot(s.n, h)), vh = sat(dot(s.v, h));
        double q = nl * gv + nv * std::sqrt(nv * nl * (1 - a2) + a2);
        double vis = q > 0 ? 0.5 / q : 0;
        double dd = nh * nh * (a2 - 1) + 1;
        double d = a2 / (pi * dd * dd);
        double radiance[3] = {lights[i].radiance.x, lights[i].radiance.y, lights[i].radiance.z};
        for (int c = 0; c < 3; ++c) {
            double f = f0[c] + (f90 - f0[c]) * std::pow(1 - vh, 5);
            double k = nl * ((1 - f) * diffuse[c] / pi + f * vis * d);
            if (i == 0) k *= shadow0;
            color[c] += radiance[c] * k;
        }
    }
    std::array<double, 3> out;
    for (int c = 0; c < 3; ++c) out[c] = 255 * tone(color[c] * s.occlusion + em[c]);
    return out;
}

// The shading normal for a normal-map texel (bytes) in the frame (t, b, ng).
D3 mapped_normal(int r, int g, int b, D3 t, D3 bt, D3 ng) {
    double m[3] = {r / 255.0 * 2 - 1, g / 255.0 * 2 - 1, b / 255.0 * 2 - 1};
    return unit(t * m[0] + bt * m[1] + ng * m[2]);
}

// A drawn pixel: its colour within 2 of 255, alpha 1 (the clear colour's alpha is 0).
void expect_pixel(const std::vector<Rgba8>& image, int column, int row, std::array<double, 3> want, const char* what,
                  int alpha = 255) {
    const Rgba8& p = image[static_cast<size_t>(row) * W + column];
    EXPECT_NEAR(p.r, want[0], 2.0) << what;
    EXPECT_NEAR(p.g, want[1], 2.0) << what;
    EXPECT_NEAR(p.b, want[2], 2.0) << what;
    EXPECT_EQ(p.a, alpha) << what;
}

json textured(GlbBuilder& b, std::array<uint8_t, 3> metallic_roughness, json extra = json::object()) {
    int mr = b.add_texture(b.add_image(solid_png(4, 4, metallic_roughness[0], metallic_roughness[1],
                                                 metallic_roughness[2])));
    json m = {{"pbrMetallicRoughness", {{"metallicRoughnessTexture", {{"index", mr}}}}}};
    m.update(extra, true);
    return m;
}

// ---- what the walk collects ----

TEST_F(SceneRender, RootOnlyGraphMakesNoGraphicsCall) {
    uint32_t cam = add_camera(scene, {0, 0, 5}, {0, 0, 0}, 60, 0.5f, 50);
    gfx::FrameStats before = gfx::query_frame_stats();
    render_shadow_pass(scene, *scene_camera(scene, cam));
    render_lit_pass(scene, *scene_camera(scene, cam), *scene_camera(scene, cam));
    gfx::FrameStats after = gfx::query_frame_stats();
    EXPECT_EQ(after.draws, before.draws);
    EXPECT_EQ(after.draws_skipped, before.draws_skipped);
    EXPECT_EQ(after.applies_ignored, before.applies_ignored);
    EXPECT_EQ(after.uniform_bytes, before.uniform_bytes);
    gfx::commit();
}

TEST_F(SceneRender, FirstFourLightsInWalkOrderFillTheBlock) {
    Camera shadow{};
    DrawList* list = new DrawList;
    prepare_lit_list(*list, scene, shadow);
    light_params zero{};
    zero.shadowMapSize = {2048, 2048};
    EXPECT_EQ(list->light_count, 0);
    EXPECT_EQ(std::memcmp(&list->lights, &zero, sizeof zero), 0);

    // The third light hangs under a node made before the others, moved by
    // (10, 0, 0): the walk meets it first, at its world position.
    uint32_t holder = node_create(scene, scene->root);
    scene_node(scene, holder)->transform = translate({10, 0, 0});
    for (int i = 0; i < 5; ++i) {
        uint32_t node = add_light(scene, {1.0f + i, 2, 3}, {0.1f * i, 0.2f, 0.3f}, 1.5f + i, i == 2 ? holder : 0);
        if (i == 2) scene_light(scene, scene_node(scene, node)->light)->position_w = 7;
    }
    prepare_lit_list(*list, scene, shadow);
    EXPECT_EQ(list->light_count, 4);
    const float pos[4][4] = {{13, 2, 3, 7}, {1, 2, 3, 0}, {2, 2, 3, 0}, {4, 2, 3, 0}};
    const float col[4][4] = {{0.2f, 0.2f, 0.3f, 3.5f}, {0, 0.2f, 0.3f, 1.5f}, {0.1f, 0.2f, 0.3f, 2.5f},
                             {0.3f, 0.2f, 0.3f, 4.5f}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(list->lights.light_pos[i].x, pos[i][0]) << i;
        EXPECT_FLOAT_EQ(list->lights.light_pos[i].y, pos[i][1]) << i;
        EXPECT_FLOAT_EQ(list->lights.light_pos[i].z, pos[i][2]) << i;
        EXPECT_FLOAT_EQ(list->lights.light_pos[i].w, pos[i][3]) << i;
        EXPECT_FLOAT_EQ(list->lights.light_color[i].x, col[i][0]) << i;
        EXPECT_FLOAT_EQ(list->lights.light_color[i].w, col[i][3]) << i;
    }
    EXPECT_EQ(list->lights.extra, 0.0f);
    delete list;
}

TEST_F(SceneRender, LightDirComesFromTheShadowCamerasEye) {
    struct Case {
        vec3 eye, dir;
    };
    const Case cases[] = {{{0, 0, 0}, {0, 0, 0}}, {{0, 3, 4}, {0, 0.6f, 0.8f}}, {{-2, 0, 0}, {-1, 0, 0}}};
    DrawList* list = new DrawList;
    for (const Case& c : cases) {
        Camera shadow{};
        shadow.eye = c.eye;
        prepare_lit_list(*list, scene, shadow);
        EXPECT_FLOAT_EQ(list->lights.lightDir.x, c.dir.x);
        EXPECT_FLOAT_EQ(list->lights.lightDir.y, c.dir.y);
        EXPECT_FLOAT_EQ(list->lights.lightDir.z, c.dir.z);
        EXPECT_FLOAT_EQ(list->lights.shadowMapSize.x, 2048);
        EXPECT_FLOAT_EQ(list->lights.shadowMapSize.y, 2048);
    }
    delete list;
}

TEST_F(SceneRender, UnflaggedParentIsLitOnlyWhileItsFlaggedChildrenCastShadows) {
    uint32_t draw = draw_record_create(scene, {}, 3);
    uint32_t material = material_create(scene, scene_pipeline);
    uint32_t parent = node_create(scene, scene->root);
    scene_node(scene, parent)->draw = draw;
    scene_node(scene, parent)->material = material;
    scene_node(scene, parent)->transform = translate({0, 5, 0});
    uint32_t kids[2];
    for (uint32_t& k : kids) {
        k = node_create(scene, parent);
        scene_node(scene, k)->draw = draw;
        scene_node(scene, k)->material = material;
        scene_node(scene, k)->transform = translate({1, 0, 0});
        node_mark_shadow_caster(scene, k);
    }
    DrawList* list = new DrawList;
    prepare_lit_list(*list, scene, Camera{});
    EXPECT_EQ(list->draw_item_count, 3);
    prepare_shadow_list(*list, scene);
    ASSERT_EQ(list->draw_item_count, 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(list->draw_items[i].node == scene_node(scene, kids[0]) ||
                    list->draw_items[i].node == scene_node(scene, kids[1]));
        EXPECT_FLOAT_EQ(list->draw_items[i].world.at(3, 0), 1);  // parent world × own transform
        EXPECT_FLOAT_EQ(list->draw_items[i].world.at(3, 1), 5);
    }
    delete list;
}

TEST_F(SceneRender, CopiesOfOneItemDrawOneAfterAnother) {
    ModelPtr model = load_quads({{"chip001", {0, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 0, 1}, {{"pbrMetallicRoughness", json::object()}}},
                               {"onion", {0, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 0, 1}, {{"pbrMetallicRoughness", json::object()}}}});
    uint32_t chip = instantiate_mesh(scene, model.get(), "chip001");
    uint32_t onion = instantiate_mesh(scene, model.get(), "onion");
    uint32_t copies[2];
    for (int i = 0; i < 2; ++i) {
        node_clone(scene, onion, scene->root);
        copies[i] = node_clone(scene, chip, scene->root);
        scene_node(scene, copies[i])->transform = translate({2.0f + i, 0, 0});
    }
    node_mark_shadow_caster(scene, scene->root);
    DrawList* list = new DrawList;
    for (bool shadow : {false, true}) {
        if (shadow)
            prepare_shadow_list(*list, scene);
        else
            prepare_lit_list(*list, scene, Camera{});
        ASSERT_EQ(list->draw_item_count, 6);
        int chip_at = -1;
        for (int i = 0; i < 6; ++i)
            if (list->draw_items[i].node->draw == scene_node(scene, chip)->draw) {
                chip_at = i;
                break;
            }
        ASSERT_GE(chip_at, 0);
        ASSERT_LE(chip_at, 3);
        float xs = 0;
        for (int i = chip_at; i < chip_at + 3; ++i) {
            EXPECT_EQ(list->draw_items[i].node->draw, scene_node(scene, chip)->draw) << shadow;
            EXPECT_EQ(list->draw_items[i].node->material, scene_node(scene, chip)->material) << shadow;
            xs += list->draw_items[i].world.at(3, 0);
        }
        EXPECT_FLOAT_EQ(xs, 0 + 2 + 3) << shadow;
    }
    delete list;
}

TEST_F(SceneRender, LitOrderGroupsPipelinesThenMaterials) {
    uint32_t draws[3], materials[3];
    for (int i = 0; i < 3; ++i) draws[i] = draw_record_create(scene, {}, 3);
    materials[0] = material_create(scene, {9});
    materials[1] = material_create(scene, {5});
    materials[2] = material_create(scene, {9});
    struct Made {
        int draw, material;  // material -1: none
    };
    const Made made[] = {{2, 0}, {0, 2}, {1, 1}, {0, -1}, {1, 0}, {2, 2}};
    for (const Made& m : made) {
        uint32_t n = node_create(scene, scene->root);
        scene_node(scene, n)->draw = draws[m.draw];
        scene_node(scene, n)->material = m.material < 0 ? 0 : materials[m.material];
    }
    DrawList* list = new DrawList;
    prepare_lit_list(*list, scene, Camera{});
    // No material first, then pipeline 5, then pipeline 9 by material, each by draw record.
    const Made want[] = {{0, -1}, {1, 1}, {1, 0}, {2, 0}, {0, 2}, {2, 2}};
    ASSERT_EQ(list->draw_item_count, 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(list->draw_items[i].node->draw, draws[want[i].draw]) << i;
        EXPECT_EQ(list->draw_items[i].node->material, want[i].material < 0 ? 0 : materials[want[i].material]) << i;
    }
    delete list;
}

// ---- pixels of the lit program ----

// A quad facing the camera, filling the middle of the picture.
QuadSpec facing_quad(json material) { return {"card", {0, 0, 0}, {2, 0, 0}, {0, -2, 0}, {0, 0, 1}, material}; }

TEST_F(SceneRender, BlackMetallicRoughnessFallbackShowsOnlyTheEmissiveTermThroughTheToneCurve) {
    // Occlusion 0 removes every light; the three channels test the curve at three levels.
    GlbBuilder b;
    int base = b.add_texture(b.add_image(solid_png(4, 4, 200, 40, 90)));
    json material = {{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", base}}}}},
                     {"emissiveFactor", {0.05, 0.5, 4.0}}};
    ModelPtr model = load_quads({facing_quad(material)}, b);
    instantiate_model(scene, model.get(), nullptr, nullptr, nullptr);
    for (int i = 0; i < 4; ++i) add_light(scene, {0, 1, 1}, {1, 1, 1}, 3);
    uint32_t cam = add_camera(scene, {0, 0, 5}, {0, 0, 0}, 60, 0.5f, 50);
    std::vector<Rgba8> image = draw_scene(scene, cam, cam);
    save_png("scene_emissive_only.png", W, H, image);
    std::array<double, 3> want = {255 * tone(0.05), 255 * tone(0.5), 255 * tone(4.0)};
    expect_pixel(image, W / 2, H / 2, want, "emissive only");
    // Independent of the curve's code: its values at these levels.
    EXPECT_NEAR(want[0], 57.63, 0.01);
    EXPECT_NEAR(want[1], 148.48, 0.01);
    EXPECT_NEAR(want[2], 245.28, 0.01);
    expect_pixel(image, 1, 1, {0, 0, 0}, "background", 0);
}

TEST_F(SceneRender, GreyFallbackNormalTiltsTheShadingNormal) {
    GlbBuilder b;
    json material = textured(b, {255, 255, 0});  // occlusion 1, roughness 1, not metallic; no normal map
    ModelPtr model = load_quads({facing_quad(material)}, b);
    instantiate_model(scene, model.get(), nullptr, nullptr, nullptr);
    add_light(scene, {0, 0, 1}, {1, 1, 1}, 0);  // light 0 dark: no shadow term involved
    add_light(scene, {0, 0, 1}, {1, 1, 1}, 4);
    uint32_t cam = add_camera(scene, {0, 0, 5}, {0, 0, 0}, 60, 0.5f, 50);
    std::vector<Rgba8> image = draw_scene(scene, cam, cam);
    save_png("scene_grey_normal.png", W, H, image);

    const Camera& c = *scene_camera(scene, cam);
    vec3 p = pixel_on_plane(c, W / 2, H / 2, {0, 0, 0}, {0, 0, 1});
    // u runs along +x, so t = +x and b = ng × t = +y.
    RefSurface s{{1, 1, 1}, 0, 1, 1, {0, 0, 0}, mapped_normal(128, 128, 128, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}),
                 unit(d3(c.eye - p))};
    std::vector<RefLight> lights = {{{0, 0, 1}, {0, 0, 0}}, {{0, 0, 1}, {4, 4, 4}}};
    std::array<double, 3> tilted = shade(s, lights, 1);
    s.n = {0, 0, 1};
    std::array<double, 3> flat = shade(s, lights, 1);
    ASSERT_GT(flat[0] - tilted[0], 10) << "the two normals must give different pixels";
    expect_pixel(image, W / 2, H / 2, tilted, "grey normal map");
}

TEST_F(SceneRender, OnlyLightZeroIsShadowed) {
    // A floor and, above its left half, a small card that shades it from
    // lights straight above. The camera looks down at an angle from +z.
    GlbBuilder b;
    int flat = b.add_texture(b.add_image(solid_png(4, 4, 128, 128, 255)));
    json floor_material = textured(b, {255, 255, 0}, {{"normalTexture", {{"index", flat}}}});
    ModelPtr model = load_quads({{"floor", {0, 0, 0}, {5, 0, 0}, {0, 0, 5}, {0, 1, 0}, floor_material},
                               {"card", {-1.5f, 2, -0.5f}, {0.6f, 0, 0}, {0, 0, 0.6f}, {0, 1, 0}, floor_material}},
                              b);
    instantiate_model(scene, model.get(), nullptr, nullptr, nullptr);
    uint32_t light0 = add_light(scene, {0, 1, 0}, {1, 0.9f, 0.8f}, 2);
    uint32_t light1 = add_light(scene, {0, 1, 0}, {0.6f, 0.7f, 1}, 2);
    uint32_t cam = add_camera(scene, {0, 6, 6}, {0, 0, 0}, 70, 0.5f, 50);
    uint32_t shadow_cam = add_camera(scene, {0, 10, 0}, {0, 0, 0}, 60, 1, 20, {0, 0, -1});
    scene_camera(scene, shadow_cam)->projection = perspective(60, 1, 1, 20);
    const Camera& c = *scene_camera(scene, cam);

    // The card's shadow from the shadow camera's eye: its centre scaled by 10 / 8.
    int shade_col, shade_row, lit_col, lit_row;
    project_to_pixel(c, {-1.875f, 0, -0.625f}, shade_col, shade_row);
    project_to_pixel(c, {1.875f, 0, -0.625f}, lit_col, lit_row);

    struct Case {
        const char* what;
        float intensity0, intensity1;
        const char* png;
    };
    const Case cases[] = {{"both lights", 2, 2, "scene_shadow_both.png"},
                          {"light 0 only", 2, 0, "scene_shadow_light0.png"},
                          {"light 1 only", 0, 2, "scene_shadow_light1.png"}};
    for (const Case& k : cases) {
        scene_light(scene, scene_node(scene, light0)->light)->intensity = k.intensity0;
        scene_light(scene, scene_node(scene, light1)->light)->intensity = k.intensity1;
        std::vector<Rgba8> image = draw_scene(scene, cam, shadow_cam);
        save_png(k.png, W, H, image);
        std::vector<RefLight> lights = {{{0, 1, 0}, D3{1, 0.9, 0.8} * k.intensity0},
                                        {{0, 1, 0}, D3{0.6, 0.7, 1} * k.intensity1}};
        for (bool in_shadow : {true, false}) {
            int col = in_shadow ? shade_col : lit_col, row = in_shadow ? shade_row : lit_row;
            vec3 p = pixel_on_plane(c, col, row, {0, 0, 0}, {0, 1, 0});
            // u along +x and v along +z: t = +x, b = ng × t = -z.
            RefSurface s{{1, 1, 1}, 0, 1, 1, {0, 0, 0}, mapped_normal(128, 128, 255, {1, 0, 0}, {0, 0, -1}, {0, 1, 0}),
                         unit(d3(c.eye - p))};
            std::string what = std::string(k.what) + (in_shadow ? ", in the shadow" : ", in the light");
            expect_pixel(image, col, row, shade(s, lights, in_shadow ? 0 : 1), what.c_str());
        }
    }
}

}  // namespace

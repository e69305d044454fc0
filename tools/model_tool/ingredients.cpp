// The food pieces: four tortilla chips, cheese shreds, beans, corn kernels,
// jalapeno rings, onion pieces, tomato dice and two kinds of meat crumble.
// Every piece is also a convex-hull collider, so meshes stay small (under a
// few hundred vertices) and each is centred on its own origin.
#include <algorithm>
#include <cmath>

#include "models.h"

namespace {

// Centres a finished piece on its origin, so its body turns about its middle.
Mesh centred(Mesh mesh) {
    move_vertices(mesh, 0, bounds_centre(mesh) * -1.0f);
    return mesh;
}

// A rounded piece: the unit sphere reshaped point by point, the texture
// wrapped once round it (u about the axis, v from top to bottom).
Mesh blob(int nu, int nv, const std::function<V3(V3)>& shape) {
    Mesh mesh;
    add_patch(mesh, nu, nv, [&](float s, float t) { return PatchPoint{shape(sphere_direction(s, t)), {s, 1 - t}}; });
    return centred(mesh);
}

// ---- chips ---------------------------------------------------------------

// Where the chip's triangle sits in its texture: corner A bottom left, B bottom
// right, C top; the tortilla browns toward these edges.
const V2 kChipUvA{0.06f, 0.94f}, kChipUvB{0.94f, 0.94f}, kChipUvC{0.5f, 0.06f};

struct ChipShape {
    V3 a, b, c;        // corners in the xz plane
    float bend;        // height gained per squared unit of distance across the bend
    float bend_angle;  // direction of the bend's axis, radians
    float wobble;
    uint64_t seed;
};

Mesh make_chip(const ChipShape& shape) {
    const int n = 5;
    const float thickness = 0.09f;
    Mesh mesh;
    Rng rng(shape.seed);
    float phase1 = rng.range(0, 6.28f), phase2 = rng.range(0, 6.28f);
    V3 bend_dir{std::cos(shape.bend_angle), 0, std::sin(shape.bend_angle)};
    auto surface = [&](float i, float j) {
        V3 p = shape.a + (shape.b - shape.a) * i + (shape.c - shape.a) * j;
        float d = dot(p, bend_dir);
        p.y = shape.bend * d * d + shape.wobble * std::sin(3.1f * p.x + phase1) * std::sin(2.7f * p.z + phase2);
        return p;
    };
    auto uv = [](float i, float j, bool mirror) {
        V2 t{kChipUvA.x + (kChipUvB.x - kChipUvA.x) * i + (kChipUvC.x - kChipUvA.x) * j,
             kChipUvA.y + (kChipUvB.y - kChipUvA.y) * i + (kChipUvC.y - kChipUvA.y) * j};
        if (mirror) t.x = 1 - t.x;
        return t;
    };
    auto grid_index = [n](int i, int j) {
        // rows of the triangular grid: row j holds n - j + 1 points
        int index = 0;
        for (int r = 0; r < j; ++r) index += n - r + 1;
        return index + i;
    };
    for (int side = 0; side < 2; ++side) {
        int first_vertex = mesh.vertex_count(), first_index = static_cast<int>(mesh.indices.size());
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n - j; ++i) {
                V3 p = surface(static_cast<float>(i) / n, static_cast<float>(j) / n);
                if (side == 1) p.y -= thickness;
                mesh.vertex(p, {0, side ? -1.0f : 1.0f, 0}, uv(static_cast<float>(i) / n, static_cast<float>(j) / n, side == 1));
            }
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n - j; ++i) {
                int p = first_vertex + grid_index(i, j), q = first_vertex + grid_index(i + 1, j);
                int r = first_vertex + grid_index(i, j + 1);
                if (side == 0) mesh.triangle(p, q, r);
                else mesh.triangle(p, r, q);
                if (i + 1 < n - j) {
                    int s = first_vertex + grid_index(i + 1, j + 1);
                    if (side == 0) mesh.triangle(q, s, r);
                    else mesh.triangle(q, r, s);
                }
            }
        smooth_normals(mesh, first_vertex, first_index);
    }
    // The rim: one band along each edge, its texture the browned border.
    auto edge_point = [&](int e, float f) -> std::pair<float, float> {
        if (e == 0) return {f, 0};          // A to B
        if (e == 1) return {1 - f, f};      // B to C
        return {0, 1 - f};                  // C to A
    };
    for (int e = 0; e < 3; ++e) {
        for (int k = 0; k < n; ++k) {
            auto [i0, j0] = edge_point(e, static_cast<float>(k) / n);
            auto [i1, j1] = edge_point(e, static_cast<float>(k + 1) / n);
            V3 p0 = surface(i0, j0), p1 = surface(i1, j1);
            V3 q0 = p0 - V3{0, thickness, 0}, q1 = p1 - V3{0, thickness, 0};
            V2 t0 = uv(i0, j0, false), t1 = uv(i1, j1, false);
            add_quad(mesh, q0, q1, p1, p0, t0, t1, t1, t0);
        }
    }
    return centred(mesh);
}

Texel chip_texel(float u, float v) {
    // Distance (in texture widths) inside the chip's triangle.
    auto edge = [&](V2 a, V2 b) {
        float ex = b.x - a.x, ey = b.y - a.y, l = std::hypot(ex, ey);
        return ((u - a.x) * ey - (v - a.y) * ex) / l;
    };
    float inside = std::min({edge(kChipUvA, kChipUvB), edge(kChipUvB, kChipUvC), edge(kChipUvC, kChipUvA)});
    float x = u * 16, y = v * 16;
    float mottle = fbm(x, y, 16, 5, 11);
    float toast = smoothstep(0.6f, 0.8f, fbm(x * 0.5f, y * 0.5f, 8, 4, 12));
    float edge_brown = 1 - smoothstep(0.0f, 0.06f, inside + 0.03f * (mottle - 0.5f));
    float blister_id;
    float blister = cell_distance(u * 40, v * 40, 40, 13, &blister_id);
    float salt_id;
    float salt = cell_distance(u * 90, v * 90, 90, 14, &salt_id);
    Texel t;
    V3 corn = mix(rgb(232, 186, 92), rgb(246, 208, 120), mottle);
    V3 brown = rgb(150, 88, 36);
    t.color = mix(corn, brown, std::min(1.0f, 0.45f * toast + 0.85f * edge_brown));
    t.height = 0.002f * mottle + 0.004f * (1 - smoothstep(0.0f, 0.35f, blister)) * (blister_id > 0.4f);
    t.roughness = 0.72f - 0.1f * toast;
    bool grain = salt_id > 0.85f && salt < 0.14f;
    if (grain) {
        t.color = mix(t.color, rgb(250, 250, 246), 0.9f);
        t.height += 0.003f * (1 - salt / 0.16f);
        t.roughness = 0.35f;
    }
    t.occlusion = 0.9f + 0.1f * mottle;
    return t;
}

// ---- cheese shreds ---------------------------------------------------------

Mesh make_cheese() {
    Mesh mesh;
    const float half_length = 1.05f, w = 0.17f, h = 0.1f;
    auto centre_line = [&](float s) {
        float x = (s * 2 - 1) * half_length;
        return V3{x, 0.18f * std::sin(s * kPi * 1.3f), 0.22f * std::sin(s * kPi * 2.0f + 0.4f)};
    };
    // Around the section: a rounded rectangle traced by t.
    auto section = [&](float t) {
        float a = t * 2 * kPi;
        float c = std::cos(a), s = std::sin(a);
        float sc = std::copysign(std::pow(std::abs(c), 0.5f), c), ss = std::copysign(std::pow(std::abs(s), 0.5f), s);
        return V2{sc * w, ss * h};
    };
    add_patch(mesh, 8, 8, [&](float s, float t) {
        V3 c = centre_line(s);
        V2 q = section(t);
        float taper = 1 - 0.35f * std::pow(std::abs(s * 2 - 1), 4.0f);
        return PatchPoint{{c.x, c.y + q.y * taper, c.z + q.x * taper}, {s, 1 - t}};
    });
    for (int end = 0; end < 2; ++end) {
        V3 c = centre_line(static_cast<float>(end));
        float taper = 0.65f;
        int centre = mesh.vertex(c, {end ? 1.0f : -1.0f, 0, 0}, {0.5f, 0.5f});
        int first = mesh.vertex_count();
        for (int k = 0; k < 8; ++k) {
            V2 q = section(k / 8.0f);
            mesh.vertex({c.x, c.y + q.y * taper, c.z + q.x * taper}, {end ? 1.0f : -1.0f, 0, 0},
                        {0.5f + (end ? -q.x : q.x), 0.5f - q.y});
        }
        for (int k = 0; k < 8; ++k) {
            int a = first + k, b = first + (k + 1) % 8;
            if (end) mesh.triangle(centre, b, a);
            else mesh.triangle(centre, a, b);
        }
    }
    return centred(mesh);
}

Texel cheese_texel(float u, float v) {
    float ridges = 0.5f + 0.5f * std::sin(v * 2 * kPi * 6 + 2 * fbm(u * 8, v * 8, 8, 3, 21));
    float mottle = fbm(u * 12, v * 12, 12, 4, 22);
    Texel t;
    t.color = mix(rgb(236, 150, 28), rgb(250, 186, 60), 0.6f * mottle + 0.3f * ridges);
    t.height = 0.004f * ridges + 0.002f * mottle;
    t.roughness = 0.42f + 0.15f * (1 - ridges);
    t.occlusion = 0.88f + 0.12f * ridges;
    return t;
}

// ---- bean -----------------------------------------------------------------------

Mesh make_bean() {
    return blob(10, 6, [](V3 d) {
        return V3{d.x * 0.56f, d.y * 0.28f, d.z * 0.32f + 0.16f * (1 - d.x * d.x)};  // bent like a kidney
    });
}

Texel bean_texel(float u, float v) {
    float speckle = fbm(u * 24, v * 24, 24, 4, 31);
    float streak = fbm(u * 4, v * 20, 4, 3, 32);
    Texel t;
    t.color = mix(rgb(92, 28, 24), rgb(140, 52, 38), 0.5f * speckle + 0.5f * streak);
    // the pale eye of the bean on its inner curve
    float eye = 1 - smoothstep(0.02f, 0.05f, std::hypot((u - 0.25f) * 2.2f, v - 0.62f));
    t.color = mix(t.color, rgb(228, 214, 190), eye);
    t.height = 0.002f * speckle;
    t.roughness = 0.28f + 0.1f * speckle;
    return t;
}

// ---- corn kernel -------------------------------------------------------------------

Mesh make_corn() {
    return blob(8, 6, [](V3 d) {
        float taper = 0.62f + 0.38f * (d.y * 0.5f + 0.5f);  // narrow where it sat on the cob
        return V3{d.x * 0.38f * taper, d.y * (d.y > 0 ? 0.24f : 0.32f), d.z * 0.27f * taper};  // a flatter crown
    });
}

Texel corn_texel(float u, float v) {
    float mottle = fbm(u * 10, v * 10, 10, 4, 41);
    Texel t;
    V3 gold = mix(rgb(244, 184, 24), rgb(252, 214, 70), mottle);
    t.color = mix(gold, rgb(250, 236, 176), smoothstep(0.65f, 0.95f, v));  // pale tip
    t.height = 0.0015f * mottle;
    t.roughness = 0.25f + 0.1f * mottle;
    return t;
}

// ---- jalapeno ring ------------------------------------------------------------------

Mesh make_jalapeno() {
    Mesh mesh;
    const float outer = 0.74f, inner = 0.44f, half = 0.1f;
    auto wobble = [](float s) { return 1 + 0.06f * std::sin(s * 2 * kPi * 3 + 0.5f); };
    // skin (texture's top half), then the flesh of the two cut faces (bottom half)
    add_patch(mesh, 16, 1, [&](float s, float t) {
        float r = outer * wobble(s), a = 2 * kPi * s;
        return PatchPoint{{r * std::cos(a), -half + 2 * half * t, -r * std::sin(a)}, {s, 0.5f - 0.5f * t}};
    });
    add_patch(mesh, 16, 1, [&](float s, float t) {
        float r = inner * wobble(s), a = 2 * kPi * s;
        return PatchPoint{{r * std::cos(a), -half + 2 * half * t, -r * std::sin(a)}, {1 - s, 0.5f - 0.5f * t}};
    }, true);
    for (int face = 0; face < 2; ++face) {
        float y = face ? half : -half;
        add_patch(mesh, 16, 1, [&](float s, float t) {
            float r = (inner + (outer - inner) * t) * wobble(s), a = 2 * kPi * s;
            return PatchPoint{{r * std::cos(a), y, -r * std::sin(a)}, {face ? s : 1 - s, 0.5f + 0.5f * t}};
        }, face == 1);
    }
    return centred(mesh);
}

Texel jalapeno_texel(float u, float v) {
    Texel t;
    if (v < 0.5f) {
        float streak = fbm(u * 16, v * 4, 16, 3, 51);
        t.color = mix(rgb(30, 90, 22), rgb(56, 130, 34), streak);
        t.height = 0.001f * streak;
        t.roughness = 0.18f;
    } else {
        float r = (v - 0.5f) * 2;  // 0 at the inner edge, 1 at the skin
        float seed_id;
        float seed = cell_distance(u * 14, r * 2.2f, 14, 52, &seed_id);
        float flesh = fbm(u * 20, v * 20, 20, 3, 53);
        t.color = mix(rgb(196, 214, 120), rgb(150, 186, 80), flesh);
        t.color = mix(t.color, rgb(44, 110, 30), smoothstep(0.8f, 0.95f, r));
        bool is_seed = r < 0.45f && seed < 0.28f && seed_id > 0.3f;
        if (is_seed) t.color = rgb(238, 230, 190);
        t.height = is_seed ? 0.004f * (1 - seed / 0.28f) : 0.001f * flesh;
        t.roughness = 0.35f;
    }
    return t;
}

// ---- meat crumble -------------------------------------------------------------------------

Mesh make_meat(float radius, V3 stretch, float phase) {
    return blob(10, 7, [=](V3 d) {
        float lumps = 0.16f * std::sin(3.1f * d.x + phase) * std::sin(3.7f * d.y + 1.3f * phase) * std::sin(4.3f * d.z + 2) +
                      0.09f * std::sin(7.3f * d.x + 2 * phase) * std::sin(6.1f * d.z + 1);
        float r = radius * (1 + lumps);
        return V3{d.x * r * stretch.x, d.y * r * stretch.y, d.z * r * stretch.z};
    });
}

Texel beef_texel(float u, float v) {
    float grain = fbm(u * 20, v * 20, 20, 5, 61);
    float crust = smoothstep(0.55f, 0.7f, fbm(u * 6, v * 6, 6, 4, 62));
    float fat_id;
    float fat = cell_distance(u * 18, v * 18, 18, 63, &fat_id);
    Texel t;
    t.color = mix(rgb(122, 70, 42), rgb(150, 96, 60), grain);
    t.color = mix(t.color, rgb(62, 34, 20), crust);
    if (fat < 0.2f && fat_id > 0.7f) t.color = mix(t.color, rgb(214, 180, 140), 0.8f);
    t.height = 0.006f * grain + 0.003f * crust;
    t.roughness = 0.62f - 0.2f * crust;
    t.occlusion = 0.8f + 0.2f * grain;
    return t;
}

Texel chorizo_texel(float u, float v) {
    float grain = fbm(u * 22, v * 22, 22, 5, 71);
    float fat_id;
    float fat = cell_distance(u * 26, v * 26, 26, 72, &fat_id);
    Texel t;
    t.color = mix(rgb(150, 42, 22), rgb(196, 74, 30), grain);
    if (fat < 0.25f && fat_id > 0.6f) t.color = mix(t.color, rgb(236, 200, 170), 0.85f);
    t.height = 0.005f * grain;
    t.roughness = 0.3f + 0.2f * grain;  // glistening with oil
    t.occlusion = 0.82f + 0.18f * grain;
    return t;
}

// ---- onion ----------------------------------------------------------------------------------

Mesh make_onion() {
    Mesh mesh;
    const float radius = 1.3f, span = 0.85f, half_height = 0.42f, thickness = 0.09f;
    auto shell = [&](float r, float s, float t) {
        float a = (s - 0.5f) * span;
        float h = (t * 2 - 1) * half_height * (1 - 0.15f * std::cos(a * 4));
        return V3{r * std::sin(a), h, r * std::cos(a) - radius};
    };
    // outer face (purple skin side, texture's top half), inner face (white, bottom half)
    add_patch(mesh, 8, 3, [&](float s, float t) { return PatchPoint{shell(radius, s, t), {s, 0.5f - 0.5f * t}}; });
    add_patch(mesh, 8, 3, [&](float s, float t) {
        return PatchPoint{shell(radius - thickness, s, t), {1 - s, 1 - 0.5f * t}};
    }, true);
    // the four cut edges
    for (int side = 0; side < 2; ++side) {
        float s = static_cast<float>(side);
        add_patch(mesh, 1, 3, [&](float q, float t) {
            float r = radius - thickness * (side ? q : 1 - q);
            return PatchPoint{shell(r, s, t), {0.5f, 1 - 0.5f * t}};
        });
    }
    for (int end = 0; end < 2; ++end) {
        float t = static_cast<float>(end);
        add_patch(mesh, 8, 1, [&](float s, float q) {
            float r = radius - thickness * (end ? q : 1 - q);
            return PatchPoint{shell(r, s, t), {s, 0.75f}};
        });
    }
    return centred(mesh);
}

Texel onion_texel(float u, float v) {
    float veins = 0.5f + 0.5f * std::sin(u * 2 * kPi * 14 + 1.5f * fbm(u * 6, v * 6, 6, 3, 81));
    Texel t;
    // the outside of the layer blushes violet toward its cut edges
    if (v < 0.5f) t.color = mix(rgb(200, 120, 180), rgb(246, 234, 244), 0.25f * veins + 0.75f * smoothstep(0.0f, 0.15f, std::min(v, 0.5f - v)));
    else t.color = mix(rgb(238, 230, 238), rgb(252, 248, 252), veins);
    t.height = 0.0015f * veins;
    t.roughness = 0.3f;
    return t;
}

// ---- tomato dice ---------------------------------------------------------------------------------

Mesh make_tomato() {
    // a diced cube, its faces cut a little unevenly
    Mesh mesh;
    add_box(mesh, {-0.34f, -0.29f, -0.31f}, {0.34f, 0.29f, 0.31f}, 0.8f);
    // corners shared by three faces move together: the offset depends on the position alone
    for (V3& p : mesh.positions) p = p * (1 + 0.05f * std::sin(7 * p.x + 3 * p.y + 5 * p.z));
    smooth_normals(mesh, 0, 0);
    return centred(mesh);
}

Texel tomato_texel(float u, float v) {
    float pulp = fbm(u * 8, v * 8, 8, 4, 91);
    float seed_id;
    float seed = cell_distance(u * 12, v * 12, 12, 92, &seed_id);
    Texel t;
    t.color = mix(rgb(184, 26, 18), rgb(232, 70, 44), pulp);
    bool is_seed = seed < 0.16f && seed_id > 0.85f;
    if (is_seed) t.color = rgb(236, 196, 96);
    t.height = 0.003f * pulp + (is_seed ? 0.003f : 0.0f);
    t.roughness = 0.3f - 0.1f * pulp;
    return t;
}

}  // namespace

ModelFile make_ingredients() {
    ModelFile model;
    int cheese = model.add_material("cheese", make_material(512, ImageFormat::png, cheese_texel));
    int bean = model.add_material("bean", make_material(256, ImageFormat::png, bean_texel));
    int corn = model.add_material("corn", make_material(256, ImageFormat::png, corn_texel));
    int jalapeno = model.add_material("jalapeno", make_material(512, ImageFormat::png, jalapeno_texel));
    int beef = model.add_material("meat", make_material(512, ImageFormat::png, beef_texel));
    int chorizo = model.add_material("chorizo", make_material(256, ImageFormat::png, chorizo_texel));
    int onion = model.add_material("onion", make_material(256, ImageFormat::png, onion_texel));
    int tomato = model.add_material("tomato", make_material(256, ImageFormat::png, tomato_texel));
    int chip = model.add_material("tortilla", make_material(1024, ImageFormat::png, chip_texel));

    // Laid out in a row so that a model viewer shows them side by side; the
    // show places every piece itself.
    float x = 0;
    auto next = [&x]() { V3 at{x, 0, 0}; x += 3; return at; };
    model.add_mesh_node("cheese", make_cheese(), cheese, next());
    model.add_mesh_node("bean", make_bean(), bean, next());
    model.add_mesh_node("corn", make_corn(), corn, next());
    model.add_mesh_node("jalapeno", make_jalapeno(), jalapeno, next());
    model.add_mesh_node("meatblob1", make_meat(0.5f, {1.1f, 0.85f, 1.0f}, 0.3f), beef, next());
    model.add_mesh_node("meatblob2", make_meat(0.42f, {1.3f, 0.8f, 0.9f}, 2.1f), chorizo, next());
    model.add_mesh_node("onion", make_onion(), onion, next());
    model.add_mesh_node("tomatodice", make_tomato(), tomato, next());
    const ChipShape chips[4] = {
        {{-1.0f, 0, 0.58f}, {1.0f, 0, 0.58f}, {0, 0, -1.15f}, 0.22f, 0.0f, 0.02f, 1},
        {{-1.1f, 0, 0.5f}, {0.95f, 0, 0.7f}, {0.1f, 0, -1.1f}, 0.35f, 1.0f, 0.03f, 2},
        {{-0.85f, 0, 0.5f}, {0.9f, 0, 0.45f}, {-0.05f, 0, -0.95f}, 0.12f, 2.1f, 0.04f, 3},
        {{-1.2f, 0, 0.42f}, {1.15f, 0, 0.55f}, {0.3f, 0, -0.9f}, 0.28f, 0.5f, 0.025f, 4},
    };
    const char* chip_names[4] = {"chip001", "chip002", "chip003", "chip004"};
    for (int i = 0; i < 4; ++i) model.add_mesh_node(chip_names[i], make_chip(chips[i]), chip, next());
    model.add_light_and_camera({4, 10, 6}, {16, 6, 30});
    return model;
}

// A glazed plate and two bowls, all centred on the origin with their floor at
// height 0: the pieces are dropped over a disc of radius 15 from height 16,
// and a disc of radius 22 must fit inside each of them.
#include <cmath>

#include "models.h"

namespace {

// A closed ceramic wall: out along the underside from the centre, up the
// outside, over the lip and back in along the inside. `outer` runs from the
// foot to the lip; the inside is the same curve moved in by `thickness`.
std::vector<V2> ceramic_profile(const std::vector<V2>& outer, float thickness) {
    std::vector<V2> profile;
    profile.push_back({0, outer.front().y});
    for (V2 p : outer) profile.push_back(p);
    V2 lip = outer.back();
    profile.push_back({lip.x - thickness * 0.5f, lip.y + thickness * 0.4f});
    // The inside: the outer wall moved in along its normal, kept only while it
    // keeps coming down and in (the foot's offsets would fold back on themselves),
    // then a flat floor to the centre.
    V2 last = profile.back();
    for (size_t i = outer.size(); i-- > 1;) {
        V2 p = outer[i], q = outer[i - 1];
        float dx = p.x - q.x, dy = p.y - q.y, l = std::hypot(dx, dy);
        V2 in{p.x - dy / l * thickness, p.y + dx / l * thickness};
        if (in.x < last.x - 0.05f && in.y <= last.y) profile.push_back(last = in);
    }
    profile.push_back({0, last.y});
    return profile;
}

struct Glaze {
    V3 body;       // the glaze colour
    V3 paint;      // painted bands and motifs
    V3 underside;  // unglazed clay
    float band0, band1;  // profile fractions (0 underside centre, 1 inside centre) of the painted band
    int motifs;          // flowers around the band
    uint32_t seed;
};

// The lathe's v runs from 1 at the profile's start to 0 at its end.
Texel glaze_texel(const Glaze& g, float u, float v) {
    float f = 1 - v;
    float crackle = fbm(u * 32, v * 32, 32, 4, g.seed);
    Texel t;
    t.color = mix(g.body, g.body * 0.92f, crackle);
    t.roughness = 0.16f + 0.08f * crackle;
    t.height = 0.0004f * crackle;
    if (f < 0.16f) {  // the foot and underside stay unglazed
        t.color = mix(g.underside, g.underside * 0.85f, fbm(u * 64, v * 64, 64, 3, g.seed + 1));
        t.roughness = 0.8f;
        t.height = 0.001f * crackle;
    }
    float band = smoothstep(g.band0, g.band0 + 0.01f, f) * (1 - smoothstep(g.band1 - 0.01f, g.band1, f));
    float mid = (g.band0 + g.band1) * 0.5f, half = (g.band1 - g.band0) * 0.5f;
    float petal_angle = u * g.motifs * 2 * kPi;
    float dx = (std::fmod(u * g.motifs + 10, 1.0f) - 0.5f), dy = (f - mid) / half * 0.5f;
    float r = std::hypot(dx, dy);
    float petals = 0.28f + 0.1f * std::cos(6 * std::atan2(dy, dx) + petal_angle * 0);
    float flower = 1 - smoothstep(petals - 0.03f, petals, r);
    float edge_lines = (1 - smoothstep(0.0f, 0.004f, std::abs(f - g.band0 + 0.012f))) +
                       (1 - smoothstep(0.0f, 0.004f, std::abs(f - g.band1 - 0.012f)));
    float paint = std::max(edge_lines, band * flower);
    t.color = mix(t.color, g.paint, 0.9f * clamp01(paint));
    t.color = mix(t.color, g.body, band * (r < 0.07f ? 0.8f : 0.0f));  // flower centres
    t.height += 0.0008f * paint;
    return t;
}

Mesh plate_mesh() {
    // outer wall from the foot ring to the lip
    std::vector<V2> outer = {{12.5f, -0.6f}, {13.5f, -0.6f}, {14, -0.2f}, {18, 0.1f},
                             {21.5f, 0.9f}, {23.5f, 1.9f}, {24.6f, 2.6f}};
    Mesh mesh;
    add_lathe(mesh, 72, ceramic_profile(outer, 0.55f), {0, 0}, {6, 1});
    return mesh;
}

Mesh bowl_mesh(float top_radius, float depth, float foot_radius) {
    std::vector<V2> outer;
    outer.push_back({foot_radius, -0.8f});
    outer.push_back({foot_radius + 0.6f, -0.8f});
    for (int i = 0; i <= 10; ++i) {
        float a = i / 10.0f * kPi * 0.5f;
        outer.push_back({foot_radius + 1 + (top_radius - foot_radius - 1) * std::sin(a),
                         -0.2f + depth * (1 - std::cos(a))});
    }
    Mesh mesh;
    add_lathe(mesh, 72, ceramic_profile(outer, 0.8f), {0, 0}, {6, 1});
    return mesh;
}

}  // namespace

ModelFile make_plate() {
    ModelFile model;
    const Glaze plate{rgb(246, 240, 226), rgb(34, 76, 170), rgb(196, 150, 110), 0.62f, 0.7f, 6, 301};
    const Glaze deep{rgb(214, 96, 40), rgb(250, 214, 90), rgb(168, 96, 60), 0.46f, 0.53f, 8, 302};
    const Glaze wide{rgb(40, 120, 150), rgb(250, 244, 224), rgb(184, 130, 96), 0.5f, 0.57f, 10, 303};
    int plate_m = model.add_material("plate", make_material(1024, ImageFormat::jpeg, [&](float u, float v) {
        return glaze_texel(plate, u, v);
    }));
    int deep_m = model.add_material("bowl deep", make_material(1024, ImageFormat::jpeg, [&](float u, float v) {
        return glaze_texel(deep, u, v);
    }));
    int wide_m = model.add_material("bowl wide", make_material(1024, ImageFormat::jpeg, [&](float u, float v) {
        return glaze_texel(wide, u, v);
    }));
    model.add_mesh_node("Plate", plate_mesh(), plate_m);
    model.add_mesh_node("Bowl1", bowl_mesh(26, 15, 9), deep_m);
    model.add_mesh_node("Bowl2", bowl_mesh(30, 8, 12), wide_m);
    model.add_light_and_camera({20, 60, 30}, {0, 45, 70});
    return model;
}

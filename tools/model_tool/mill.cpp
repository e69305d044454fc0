// The mill: pieces fed from (0, 100, 0) land on a paddle wheel that turns
// about the z axis through its node's origin, slide down a helix round a post,
// and gather in a funnel whose spout, above (0, 4, 0), is shut by two doors.
// Each door hangs on a hinge along z at its node's origin, at the spout's rim:
// door1 on the +x side, opened by turning it positively about z, door2 on the
// -x side, opened negatively; both swing down and let the pieces fall.
#include <cmath>

#include "models.h"

namespace {

constexpr float kWheelRadius = 16, kWheelHalfWidth = 8;
const V3 kWheelAxle{0, 72, 4};
// The axle runs out to posts beyond the helix, at these z (relative to the axle).
constexpr float kAxleBack = -28, kAxleFront = 24;
constexpr float kSpoutRadius = 5, kSpoutBottom = 10, kFunnelTop = 32, kFunnelRadius = 30;
constexpr float kDoorHalfDepth = 5.6f, kDoorThickness = 0.6f;

// Boxes get world-planar uvs at this many units per texture repeat.
constexpr float kWoodTile = 12;

Mesh wheel_mesh() {
    Mesh mesh;
    // hub along z
    add_patch(mesh, 16, 1, [](float s, float t) {
        float a = 2 * kPi * s;
        return PatchPoint{{2.2f * std::cos(a), 2.2f * std::sin(a), kWheelHalfWidth * (2 * t - 1)}, {s, (1 - t) * 0.3f}};
    });
    for (int end = 0; end < 2; ++end) {
        float z = end ? kWheelHalfWidth : -kWheelHalfWidth;
        int centre = mesh.vertex({0, 0, z}, {0, 0, end ? 1.0f : -1.0f}, {0.5f, 0.5f});
        int first = mesh.vertex_count();
        for (int k = 0; k <= 16; ++k) {
            float a = 2 * kPi * k / 16;
            mesh.vertex({2.2f * std::cos(a), 2.2f * std::sin(a), z}, {0, 0, end ? 1.0f : -1.0f},
                        {0.5f + (end ? 0.1f : -0.1f) * std::cos(a), 0.5f - 0.1f * std::sin(a)});
        }
        for (int k = 0; k < 16; ++k) {
            if (end) mesh.triangle(centre, first + k, first + k + 1);
            else mesh.triangle(centre, first + k + 1, first + k);
        }
    }
    // the axle, long enough to rest on the two posts that stand on the funnel
    add_patch(mesh, 12, 1, [](float s, float t) {
        float a = 2 * kPi * s;
        return PatchPoint{{0.9f * std::cos(a), 0.9f * std::sin(a), kAxleBack + (kAxleFront - kAxleBack) * t}, {s * 0.2f, 1 - t}};
    });
    // eight paddles, each a plank from the hub out to the rim, with a lip
    for (int k = 0; k < 8; ++k) {
        int first = mesh.vertex_count();
        add_box(mesh, {2, -0.45f, -kWheelHalfWidth}, {kWheelRadius, 0.45f, kWheelHalfWidth}, kWoodTile);
        add_box(mesh, {kWheelRadius - 0.9f, 0.45f, -kWheelHalfWidth}, {kWheelRadius, 2.2f, kWheelHalfWidth}, kWoodTile);
        rotate_vertices(mesh, first, {0, 0, 1}, 2 * kPi * k / 8 + 0.2f);
    }
    // two rims joining the paddles' ends, as rings of short planks
    for (int side = 0; side < 2; ++side) {
        float z0 = side ? kWheelHalfWidth : -kWheelHalfWidth - 0.8f;
        for (int k = 0; k < 16; ++k) {
            int first = mesh.vertex_count();
            float chord = 2 * (kWheelRadius + 0.4f) * std::sin(kPi / 16);
            add_box(mesh, {-chord / 2 - 0.3f, kWheelRadius - 1.2f, z0}, {chord / 2 + 0.3f, kWheelRadius + 0.4f, z0 + 0.8f}, kWoodTile);
            rotate_vertices(mesh, first, {0, 0, 1}, 2 * kPi * k / 16);
        }
    }
    return mesh;
}

Mesh helix_mesh() {
    Mesh mesh;
    const float top = 50, bottom = 35, inner = 3, outer = 20, turns = 1.75f, thickness = 0.7f;
    const int steps = 84;
    auto ramp = [&](float s, float r, float lift) {
        float a = 2 * kPi * turns * s;
        float y = top + (bottom - top) * s + lift;
        return V3{r * std::cos(a), y, -r * std::sin(a)};
    };
    // the ramp's top and underside; it winds down counter-clockwise seen from above
    add_patch(mesh, steps, 2, [&](float s, float t) {
        return PatchPoint{ramp(s, inner + (outer - inner) * t, 0), {s * turns * 6, t}};
    }, true);
    add_patch(mesh, steps, 2, [&](float s, float t) {
        return PatchPoint{ramp(s, inner + (outer - inner) * t, -thickness), {s * turns * 6, 1 - t}};
    });
    // the outer rail, inside and outside
    for (int side = 0; side < 2; ++side) {
        float r = side ? outer + 0.5f : outer;
        add_patch(mesh, steps, 1, [&](float s, float t) {
            return PatchPoint{ramp(s, r, -thickness + (2.5f + thickness) * t), {s * turns * 6, side ? 0.2f * (1 - t) : 0.2f * t}};
        }, side == 0);
    }
    add_patch(mesh, steps, 1, [&](float s, float t) {
        return PatchPoint{ramp(s, outer + 0.5f * t, 2.5f), {s * turns * 6, 0.1f}};
    }, true);
    // the post it winds round
    add_patch(mesh, 20, 4, [&](float s, float t) {
        float a = 2 * kPi * s;
        return PatchPoint{{inner * std::cos(a), bottom - 4 + (top + 6 - bottom) * t, -inner * std::sin(a)}, {s * 2, 4 * (1 - t)}};
    });
    // a cap on the post
    add_patch(mesh, 20, 2, [&](float s, float t) {
        float a = 2 * kPi * s, r = (inner + 0.6f) * (1 - t);
        return PatchPoint{{r * std::cos(a), top + 2 + 1.5f * t * (2 - t), -r * std::sin(a)}, {s * 2, 0.3f * (1 - t)}};
    });
    return mesh;
}

Mesh funnel_mesh() {
    Mesh mesh;
    // the cone with its spout as one closed wall: outside up from the spout's
    // bottom edge, over the top rim, and back down the inside
    std::vector<V2> wall = {
        {kSpoutRadius, kSpoutBottom},
        {kSpoutRadius + 0.6f, kSpoutBottom},
        {kSpoutRadius + 0.6f, kSpoutBottom + 2.4f},
        {kFunnelRadius + 0.6f, kFunnelTop},
        {kFunnelRadius + 0.6f, kFunnelTop + 1.2f},
        {kFunnelRadius, kFunnelTop + 1.2f},
        {kFunnelRadius, kFunnelTop + 0.4f},
        {kSpoutRadius, kSpoutBottom + 2.4f},
        {kSpoutRadius, kSpoutBottom},
    };
    add_lathe(mesh, 64, wall, {0, 0}, {4, 1});
    // two posts carrying the wheel's axle, standing on the cone
    for (float z : {kWheelAxle.z + kAxleBack + 1.5f, kWheelAxle.z + kAxleFront - 1.5f}) {
        add_box(mesh, {-1.2f, 20, z - 1.2f}, {1.2f, kWheelAxle.y + 1.5f, z + 1.2f}, kWoodTile);
        add_box(mesh, {-2.2f, kWheelAxle.y + 1.5f, z - 1.6f}, {2.2f, kWheelAxle.y + 2.7f, z + 1.6f}, kWoodTile);
    }
    // four legs down from the rim, braced to the spout
    for (int k = 0; k < 4; ++k) {
        int first = mesh.vertex_count();
        add_box(mesh, {kFunnelRadius - 1, -40, -1}, {kFunnelRadius + 1.2f, kFunnelTop, 1}, kWoodTile);
        rotate_vertices(mesh, first, {0, 1, 0}, kPi / 4 + k * kPi / 2);
    }
    return mesh;
}

// A door: a plank from its hinge (the node's origin) toward the spout's centre.
Mesh door_mesh(float direction) {
    Mesh mesh;
    float x0 = direction > 0 ? 0 : -(kSpoutRadius + 0.8f), x1 = direction > 0 ? kSpoutRadius + 0.8f : 0;
    add_box(mesh, {x0, -kDoorThickness, -kDoorHalfDepth}, {x1, 0, kDoorHalfDepth}, 2 * (kSpoutRadius + 0.8f));
    // the hinge's barrel
    add_patch(mesh, 10, 1, [](float s, float t) {
        float a = 2 * kPi * s;
        return PatchPoint{{0.45f * std::cos(a), -0.3f + 0.45f * std::sin(a), kDoorHalfDepth * (2 * t - 1)}, {s * 0.2f, 0.95f}};
    });
    return mesh;
}

Texel wood_texel(float u, float v, V3 light, V3 dark, uint32_t seed) {
    // planks along u, grain rings warped by noise
    const int planks = 8;
    float y = v * planks;
    int plank = static_cast<int>(y);
    float fy = y - plank;
    float shade = value_noise(plank + 0.5f, 0.5f, planks, seed);
    float warp = fbm(u * 4, v * 16, 4, 4, seed + 1);
    float grain = 0.5f + 0.5f * std::sin((v * 60 + warp * 6) * 2 * kPi + plank * 1.7f);
    float seam = 1 - smoothstep(0.0f, 0.05f, std::min(fy, 1 - fy));
    Texel t;
    t.color = mix(dark, light, 0.5f * shade + 0.35f * grain);
    t.color = mix(t.color, dark * 0.5f, seam);
    t.height = 0.0012f * grain - 0.003f * seam;
    t.roughness = 0.7f + 0.15f * grain;
    t.occlusion = 1 - 0.4f * seam;
    return t;
}

Texel metal_texel(float u, float v, V3 tint, uint32_t seed) {
    float spangle_id;
    float spangle = cell_distance(u * 24, v * 24, 24, seed, &spangle_id);
    float scratches = fbm(u * 4, v * 96, 4, 3, seed + 1);
    float rust = smoothstep(0.7f, 0.85f, fbm(u * 8, v * 8, 8, 4, seed + 2));
    // rivets every eighth of the texture along u near the edges
    float rivet_x = std::fmod(u * 8 + 100, 1.0f) - 0.5f;
    float rivet_y = std::min(std::abs(v - 0.06f), std::abs(v - 0.94f));
    float rivet = 1 - smoothstep(0.08f, 0.12f, std::hypot(rivet_x, rivet_y * 8));
    Texel t;
    t.color = mix(tint, tint * 1.15f, spangle_id * 0.5f + 0.2f * scratches);
    t.color = mix(t.color, rgb(140, 70, 30), rust);
    t.metallic = 0.9f * (1 - rust);
    t.roughness = 0.35f + 0.2f * spangle_id + 0.4f * rust;
    t.height = 0.0005f * scratches + 0.004f * rivet + 0.0003f * (spangle < 0.3f);
    return t;
}

}  // namespace

ModelFile make_mill() {
    ModelFile model;
    // The wheel and the helix are both of planked wood and share its relief.
    int wheel = model.add_material("wheel wood", make_material(1024, ImageFormat::png, [](float u, float v) {
        return wood_texel(u, v, rgb(170, 122, 74), rgb(96, 62, 34), 501);
    }));
    int normal_of_wood = model.materials[wheel].normal_image;
    int helix = model.add_material_sharing_normal("painted wood", normal_of_wood,
        make_material(1024, ImageFormat::png, [](float u, float v) {
            Texel t = wood_texel(u, v, rgb(214, 70, 50), rgb(150, 40, 30), 501);
            t.roughness = 0.5f;
            return t;
        }));
    int door1 = model.add_material("door iron", make_material(512, ImageFormat::png, [](float u, float v) {
        return metal_texel(u, v, rgb(120, 124, 130), 511);
    }));
    int door2 = model.add_material("door iron 2", make_material(512, ImageFormat::png, [](float u, float v) {
        return metal_texel(u, v, rgb(128, 120, 112), 521);
    }));
    int funnel = model.add_material("funnel tin", make_material(1024, ImageFormat::png, [](float u, float v) {
        return metal_texel(u, v, rgb(170, 176, 184), 531);
    }));
    // wheel, helix, door1, door2, door_funnel: the order the show's props take
    model.add_mesh_node("wheel", wheel_mesh(), wheel, kWheelAxle);
    model.add_mesh_node("helix", helix_mesh(), helix);
    model.add_mesh_node("door1", door_mesh(-1), door1, {kSpoutRadius + 0.8f, kSpoutBottom - 0.2f, 0});
    model.add_mesh_node("door2", door_mesh(1), door2, {-(kSpoutRadius + 0.8f), kSpoutBottom - 0.2f, 0});
    model.add_mesh_node("door_funnel", funnel_mesh(), funnel);
    model.add_light_and_camera({60, 160, 80}, {0, 60, 200});
    return model;
}

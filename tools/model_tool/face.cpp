// Two big cartoon heads looking along +z, each with its open mouth round its
// node's origin, and a set of upper and lower teeth for the first.
//
// "Face" sits at the origin; pieces are thrown at its mouth from about 80 units
// out. "TeethTop" and "TeethBottom" meet at height 0 when closed and are moved
// apart along y by up to 4 units each, so the mouth opens 11 units either way.
// "Face2" sits at (0, 17, -40) and spits pieces out of its mouth, which is
// wide enough for them to start at its node's origin.
#include <cmath>

#include "models.h"

namespace {

struct HeadShape {
    V3 centre;      // of the head's ellipsoid, relative to the mouth
    V3 radii;
    float back_depth;   // how far the back of the head reaches behind the centre
    float mouth_x, mouth_y;
    float cavity_back;  // z of the back of the mouth
    float nose, cheeks, brow;
    V3 eye_left;        // eye centre (mirrored for the right eye)
    float eye_radius;
};

// The front of the head, from the lip outward, in the xy plane.
V2 front_point(const HeadShape& h, float s, float t) {
    float a = 2 * kPi * s;
    V2 lip{h.mouth_x * std::cos(a), h.mouth_y * std::sin(a)};
    V2 rim{h.centre.x + h.radii.x * std::cos(a), h.centre.y + h.radii.y * std::sin(a)};
    float f = std::pow(t, 1.3f);
    return {lip.x + (rim.x - lip.x) * f, lip.y + (rim.y - lip.y) * f};
}

float bump(float x, float y, float cx, float cy, float sx, float sy) {
    float dx = (x - cx) / sx, dy = (y - cy) / sy;
    return std::exp(-(dx * dx + dy * dy));
}

// How far the face stands out at (x, y): the ellipsoid plus nose, cheeks,
// brows and the roll of the lips.
float front_depth(const HeadShape& h, float x, float y) {
    float dx = (x - h.centre.x) / h.radii.x, dy = (y - h.centre.y) / h.radii.y;
    float e = std::max(0.0f, 1 - dx * dx - dy * dy);
    float z = h.centre.z + h.radii.z * std::sqrt(e);
    float inner = std::sqrt(std::min(1.0f, e * 4));  // features fade out toward the silhouette
    z += inner * h.nose * bump(x, y, 0, h.mouth_y + 6, 3.2f, 4.5f);
    z += inner * h.cheeks * (bump(x, y, h.mouth_x + 1, 4, 6, 6) + bump(x, y, -h.mouth_x - 1, 4, 6, 6));
    z += inner * h.brow * (bump(x, y, h.eye_left.x, h.eye_left.y + 5.5f, 5, 1.6f) +
                           bump(x, y, -h.eye_left.x, h.eye_left.y + 5.5f, 5, 1.6f));
    z -= inner * 1.5f * (bump(x, y, h.eye_left.x, h.eye_left.y, 4, 3.5f) + bump(x, y, -h.eye_left.x, h.eye_left.y, 4, 3.5f));
    float lip = std::hypot(x / h.mouth_x, y / h.mouth_y);
    z += 2.2f * std::exp(-std::pow((lip - 1.12f) / 0.12f, 2.0f));
    return z;
}

// The face texture's front region holds the face projected along z: (x, y)
// in the box below maps to u, v in [0, 0.75]².
constexpr float kFrontLeft = -36, kFrontTop = 42, kFrontSize = 72;
V2 front_uv(float x, float y) {
    return {(x - kFrontLeft) / kFrontSize * 0.75f, (kFrontTop - y) / kFrontSize * 0.75f};
}

Mesh head_mesh(const HeadShape& h) {
    Mesh mesh;
    const int around = 48;
    // face: front surface from the lips out to the silhouette
    add_patch(mesh, around, 16, [&](float s, float t) {
        V2 q = front_point(h, s, t);
        return PatchPoint{{q.x, q.y, front_depth(h, q.x, q.y)}, front_uv(q.x, q.y)};
    }, true);
    // back of the head (the hair region of the texture)
    add_patch(mesh, around, 10, [&](float s, float t) {
        float a = 2 * kPi * s, b = t * kPi * 0.5f;
        V3 p{h.centre.x + h.radii.x * std::cos(a) * std::cos(b), h.centre.y + h.radii.y * std::sin(a) * std::cos(b),
             h.centre.z - h.back_depth * std::sin(b)};
        return PatchPoint{p, {0.76f + 0.23f * s, 0.02f + 0.96f * t}};
    }, true);
    // the mouth's inside: from the lips back to the throat
    auto lip_point = [&](float s) {
        V2 q = front_point(h, s, 0);
        return V3{q.x, q.y, front_depth(h, q.x, q.y)};
    };
    add_patch(mesh, around, 6, [&](float s, float t) {
        V3 lip = lip_point(s);
        float shrink = 1 - 0.12f * t;
        return PatchPoint{{lip.x * shrink, lip.y * shrink, lip.z + (h.cavity_back - lip.z) * t}, {0.02f + 0.34f * s, 0.98f - 0.21f * t}};
    });
    add_patch(mesh, around, 2, [&](float s, float t) {
        float a = 2 * kPi * s, r = 0.88f * (1 - t);
        return PatchPoint{{h.mouth_x * r * std::cos(a), h.mouth_y * r * std::sin(a), h.cavity_back}, {0.19f, 0.9f}};
    });
    // eyes: balls looking along +z with the iris at the front
    for (int side = 0; side < 2; ++side) {
        V3 c = h.eye_left;
        if (side) c.x = -c.x;
        c.z = front_depth(h, c.x, c.y) - h.eye_radius * 0.45f;
        add_patch(mesh, 16, 10, [&](float s, float t) {
            V3 d = sphere_direction(s, t);
            V3 p{d.x, -d.z, d.y};  // the north pole turned to face +z
            return PatchPoint{c + p * h.eye_radius, {0.38f + 0.36f * s, 0.76f + 0.22f * (1 - t)}};
        });
    }
    return mesh;
}

struct FaceLook {
    V3 skin, skin_dark, hair, lips;
    bool moustache;
    bool mask;  // a wrestler's mask instead of bare skin
    uint32_t seed;
};

Texel face_texel(const HeadShape& h, const FaceLook& look, float u, float v) {
    Texel t;
    float grain = fbm(u * 48, v * 48, 48, 4, look.seed);
    if (u >= 0.75f) {  // hair
        float strands = 0.5f + 0.5f * std::sin(u * 900 + 8 * fbm(u * 8, v * 8, 8, 4, look.seed + 1));
        t.color = mix(look.hair, look.hair * 1.6f, 0.6f * strands * grain);
        t.height = 0.002f * strands;
        t.roughness = 0.5f;
        return t;
    }
    if (v >= 0.75f) {
        if (u < 0.375f) {  // inside of the mouth: dark red, the tongue below
            float tongue = smoothstep(0.25f, 0.2f, std::abs((u - 0.02f) / 0.34f - 0.75f)) * smoothstep(0.95f, 0.8f, v);
            t.color = mix(rgb(90, 18, 22), rgb(200, 80, 90), 0.7f * tongue + 0.1f * grain);
            t.height = 0.002f * grain;
            t.roughness = 0.3f;
            t.occlusion = 0.7f;
        } else {  // eye: white, iris, pupil and a catch light
            float r = (v - 0.76f) / 0.22f;
            t.color = rgb(244, 240, 232);
            if (r < 0.3f) t.color = mix(rgb(60, 110, 40), rgb(120, 70, 30), grain);
            if (r < 0.14f) t.color = rgb(12, 10, 10);
            t.roughness = 0.1f;
        }
        return t;
    }
    // the face seen from the front
    float x = u / 0.75f * kFrontSize + kFrontLeft, y = kFrontTop - v / 0.75f * kFrontSize;
    t.color = mix(look.skin, look.skin_dark, 0.5f * grain);
    t.roughness = 0.55f;
    t.height = 0.0008f * grain;
    float lip = std::hypot(x / h.mouth_x, y / h.mouth_y);
    float lips = smoothstep(1.34f, 1.26f, lip);
    if (look.mask) {
        // the mask: a base colour, bright flames round the eyes and the mouth
        float around_eyes = std::min(std::hypot((x - h.eye_left.x) / 9, (y - h.eye_left.y) / 7),
                                     std::hypot((x + h.eye_left.x) / 9, (y - h.eye_left.y) / 7));
        float flame = 0.5f + 0.5f * std::sin(std::atan2(y - h.eye_left.y, std::abs(x) - h.eye_left.x) * 7);
        float trim = smoothstep(1.05f + 0.25f * flame, 0.95f + 0.25f * flame, around_eyes);
        float mouth_trim = smoothstep(1.6f, 1.5f, lip);
        float stripe = smoothstep(1.6f, 1.2f, std::abs(x)) * (y > h.eye_left.y);
        t.color = mix(look.skin, rgb(250, 214, 40), std::max({trim, mouth_trim, stripe}));
        t.color = mix(t.color, rgb(250, 250, 250), smoothstep(0.8f, 0.7f, around_eyes) * 0.0f);
        float stitch = (std::fmod(std::atan2(y, x) * 20 + 100, 1.0f) < 0.5f) * smoothstep(0.05f, 0.0f, std::abs(lip - 1.6f));
        t.color = mix(t.color, rgb(30, 30, 30), stitch);
        t.height += 0.002f * (trim + mouth_trim) + 0.001f * stitch;
        t.roughness = 0.35f;
        t.color = mix(t.color, look.lips, lips);
        return t;
    }
    t.color = mix(t.color, look.lips, lips);
    // the hair comes down over the forehead and in front of the ears
    float hairline = h.eye_left.y + 8.5f + 0.012f * x * x - 1.5f * std::sin(x * 0.9f) * 0.5f;
    float sideburn = smoothstep(h.radii.x * 0.72f, h.radii.x * 0.8f, std::abs(x)) * (y > h.mouth_y - 2);
    float hair = std::max(smoothstep(hairline - 0.4f, hairline + 0.4f, y), sideburn);
    if (hair > 0) {
        float strands = 0.5f + 0.5f * std::sin(x * 3 + 4 * grain);
        t.color = mix(t.color, look.hair * (0.8f + 0.6f * strands), hair);
        t.height += 0.002f * hair * strands;
        t.roughness = 0.5f;
    }
    // rosy cheeks
    float blush = bump(x, y, h.mouth_x + 2, 5, 5, 4) + bump(x, y, -h.mouth_x - 2, 5, 5, 4);
    t.color = mix(t.color, rgb(214, 96, 90), 0.35f * clamp01(blush));
    // eyebrows
    for (int side = 0; side < 2; ++side) {
        float ex = side ? -h.eye_left.x : h.eye_left.x;
        float by = h.eye_left.y + 5.5f + 1.2f * std::cos((x - ex) / 5.0f);
        float brow = smoothstep(1.2f, 0.8f, std::abs(y - by)) * smoothstep(6.0f, 5.0f, std::abs(x - ex));
        t.color = mix(t.color, look.hair, brow);
        t.height += 0.001f * brow;
    }
    if (look.moustache) {
        float mx = std::abs(x);
        float top = h.mouth_y + 3.2f - 0.02f * mx * mx, bottom = h.mouth_y + 0.3f - 0.06f * mx * mx + 0.6f * std::sin(mx);
        float m = smoothstep(0.4f, 0.0f, y - top) * smoothstep(-0.4f, 0.0f, y - bottom) * smoothstep(h.mouth_x + 5, h.mouth_x + 2, mx);
        float hairs = 0.5f + 0.5f * std::sin(x * 9 + 3 * grain);
        t.color = mix(t.color, look.hair * (0.8f + 0.5f * hairs), m);
        t.height += 0.003f * m * hairs;
        t.roughness = m > 0.5f ? 0.7f : t.roughness;
    }
    return t;
}

// ---- teeth ------------------------------------------------------------------------

constexpr int kTeeth = 10;
constexpr float kArchRadiusX = 12, kArchDepth = 7, kArchFront = 4.5f, kArchSpan = 1.35f;

V3 arch_point(float phi) {
    return {kArchRadiusX * std::sin(phi), 0, kArchFront - kArchDepth * (1 - std::cos(phi))};
}

// One row of teeth; `up` 1 for the upper row (teeth hang from y = 0 upward
// to their gum), -1 for the lower.
Mesh teeth_mesh(float up) {
    Mesh mesh;
    for (int k = 0; k < kTeeth; ++k) {
        float phi = -kArchSpan + 2 * kArchSpan * (k + 0.5f) / kTeeth;
        V3 at = arch_point(phi);
        float front = 1 - std::abs(phi) / kArchSpan;
        float half_height = 2.2f + 0.5f * front, half_width = 1.05f + 0.25f * front;
        int first = mesh.vertex_count();
        add_patch(mesh, 10, 8, [&](float s, float t) {
            V3 d = sphere_direction(s, t);
            auto soft = [](float c, float p) { return std::copysign(std::pow(std::abs(c), p), c); };
            V3 p{soft(d.x, 0.4f) * half_width, soft(d.y, 0.3f) * half_height, soft(d.z, 0.5f) * 0.75f};
            return PatchPoint{p, {0.1f + 0.8f * s, 0.05f + 0.4f * (1 - t)}};
        });
        rotate_vertices(mesh, first, {0, 1, 0}, phi);
        move_vertices(mesh, first, at + V3{0, up * (half_height + 0.1f), 0});
    }
    // the gum: a thick band along the arch above (below) the teeth
    auto gum = [&](float s, float r_off, float y) {
        float phi = -kArchSpan - 0.1f + (2 * kArchSpan + 0.2f) * s;
        V3 p = arch_point(phi);
        V3 outward{std::sin(phi), 0, std::cos(phi)};
        return p + outward * r_off + V3{0, y, 0};
    };
    const float g0 = 4.3f, g1 = 7;
    // outer face, inner face, the edge next to the teeth and the far edge
    add_patch(mesh, 24, 2, [&](float s, float t) {
        float y = up * (g0 + (g1 - g0) * t);
        return PatchPoint{gum(s, 0.9f - 0.3f * t, y), {0.05f + 0.9f * s, 0.55f + 0.4f * (up < 0 ? t : 1 - t)}};
    }, up < 0);
    add_patch(mesh, 24, 2, [&](float s, float t) {
        float y = up * (g0 + (g1 - g0) * t);
        return PatchPoint{gum(s, -0.9f + 0.3f * t, y), {0.05f + 0.9f * s, 0.55f + 0.4f * (up > 0 ? t : 1 - t)}};
    }, up > 0);
    for (int edge = 0; edge < 2; ++edge) {
        float y = up * (edge ? g1 : g0);
        add_patch(mesh, 24, 1, [&](float s, float t) {
            float r = edge ? (0.6f - 1.2f * t) : (-0.9f + 1.8f * t);
            return PatchPoint{gum(s, r, y), {0.05f + 0.9f * s, 0.6f}};
        }, up < 0);
    }
    return mesh;
}

Texel teeth_texel(float u, float v) {
    float grain = fbm(u * 32, v * 32, 32, 4, 601);
    Texel t;
    if (v < 0.5f) {
        t.color = mix(rgb(236, 230, 206), rgb(252, 250, 240), grain);
        t.roughness = 0.18f;
        t.height = 0.0005f * grain;
    } else {
        t.color = mix(rgb(200, 90, 100), rgb(230, 130, 140), grain);
        t.roughness = 0.35f;
        t.height = 0.0015f * grain;
    }
    return t;
}

}  // namespace

ModelFile make_face() {
    const HeadShape friendly{{0, 6, -13}, {23, 26, 22}, 20, 15, 11, -13, 5.5f, 2.2f, 2, {8.5f, 18.5f, 0}, 3.2f};
    const HeadShape masked{{0, 8, -14}, {25, 29, 23}, 22, 11, 8.5f, -12, 4, 2, 3, {9, 21, 0}, 3.3f};
    const FaceLook friendly_look{rgb(198, 140, 100), rgb(176, 116, 82), rgb(40, 26, 18), rgb(170, 70, 70), true, false, 611};
    const FaceLook mask_look{rgb(30, 90, 200), rgb(20, 70, 170), rgb(20, 20, 40), rgb(200, 40, 50), false, true, 621};

    ModelFile model;
    int teeth = model.add_material("teeth", make_material(1024, ImageFormat::jpeg, teeth_texel));
    int face = model.add_material("face", make_material(1024, ImageFormat::jpeg, [&](float u, float v) {
        return face_texel(friendly, friendly_look, u, v);
    }));
    int face2 = model.add_material("mask", make_material(1024, ImageFormat::jpeg, [&](float u, float v) {
        return face_texel(masked, mask_look, u, v);
    }));
    model.add_mesh_node("TeethBottom", teeth_mesh(-1), teeth);
    model.add_mesh_node("Face", head_mesh(friendly), face);
    model.add_mesh_node("TeethTop", teeth_mesh(1), teeth);
    model.add_mesh_node("Face2", head_mesh(masked), face2, {0, 17, -40});
    model.add_light_and_camera({30, 60, 60}, {40, 25, 60});
    return model;
}

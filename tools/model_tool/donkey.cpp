// A paper piñata donkey, hollow, cut across its belly into a front half (head,
// front legs) and a back half (back legs, tail). Its body lies along z round
// the origin, where pieces are spawned inside it. Both halves hang on a hinge
// along x at the top of the cut, (0, 8, 0), which is their nodes' origin:
// turning the front half negatively and the back half positively about x
// swings both up and opens the belly from below.
#include <cmath>

#include "models.h"

namespace {

constexpr float kRadius = 8, kHalfLength = 18, kWall = 0.6f;
const V3 kHinge{0, kRadius, 0};

// Texture regions: fringed paper rows over the top 7/8, then black (eyes,
// hooves) and grey card (the inside and the cut).
constexpr float kFringeEnd = 0.875f;
const V2 kBlack{0.12f, 0.94f}, kCard{0.75f, 0.94f};

float body_radius(float z) {
    float f = std::min(1.0f, std::abs(z) / kHalfLength);
    return kRadius * std::pow(1 - std::pow(f, 3.0f), 1 / 3.0f) * (1 + 0.06f * (z > 0 ? 1 : 0) * (1 - f));
}

// `sign` +1 builds a part for the front (z >= 0), -1 its mirror for the back;
// mirroring turns faces inside out, so the winding is flipped with it.
struct Half {
    Mesh mesh;
    float sign;
    void patch(int nu, int nv, const PatchFn& f, bool flip = false) {
        add_patch(mesh, nu, nv, [&](float s, float t) {
            PatchPoint p = f(s, t);
            p.position.z *= sign;
            if (sign < 0) p.uv.x = 1 - p.uv.x;  // keep the image unmirrored
            return p;
        }, flip != (sign < 0));
    }
};

void add_shell(Half& h) {
    // outside, from the cut to the end of the body
    h.patch(40, 16, [](float s, float t) {
        float a = 2 * kPi * s, z = t * kHalfLength, r = body_radius(z);
        return PatchPoint{{r * std::cos(a), r * std::sin(a), z}, {s * 2, (1 - t) * 0.5f * kFringeEnd}};
    });
    // inside, a little smaller
    const float shrink = 1 - kWall / kRadius;
    h.patch(40, 16, [&](float s, float t) {
        float a = 2 * kPi * s, z = t * kHalfLength, r = body_radius(z) * shrink;
        return PatchPoint{{r * std::cos(a), r * std::sin(a), z * shrink}, {kCard.x + 0.2f * s, kCard.y}};
    }, true);
    // the cut edge of the paper wall
    h.patch(40, 1, [&](float s, float t) {
        float a = 2 * kPi * s, r = kRadius * (shrink + (1 - shrink) * t);
        return PatchPoint{{r * std::cos(a), r * std::sin(a), 0}, {kCard.x + 0.2f * s, kCard.y}};
    });
}

// A closed tube from a to b, radius r0 to r1, faces outward; v_rows picks how
// many fringe rows run along it.
void add_tube(Half& h, V3 a, V3 b, float r0, float r1, float v0, float v1, bool caps = true) {
    V3 t = normalize(b - a);
    V3 helper = std::abs(t.y) < 0.9f ? V3{0, 1, 0} : V3{1, 0, 0};
    V3 n = normalize(cross(helper, t)), bn = cross(t, n);
    h.patch(16, 4, [&](float s, float q) {
        float ang = 2 * kPi * s, r = r0 + (r1 - r0) * q;
        V3 p = a + (b - a) * q + (n * std::cos(ang) + bn * std::sin(ang)) * r;
        return PatchPoint{p, {s, v0 + (v1 - v0) * (1 - q)}};
    });
    if (!caps) return;
    for (int end = 0; end < 2; ++end) {
        V3 c = end ? b : a;
        float r = end ? r1 : r0;
        h.patch(16, 1, [&](float s, float q) {
            float ang = 2 * kPi * s, rr = r * (end ? 1 - q : q);
            V3 p = c + (n * std::cos(ang) + bn * std::sin(ang)) * rr;
            float up = end ? -0.04f : 0.04f;  // seen from outside each cap, bn points up the image
            return PatchPoint{p, {kBlack.x + 0.05f * std::cos(ang) * rr / r, kBlack.y + up * std::sin(ang) * rr / r}};
        });
    }
}

// An ellipsoid turned about x by `tilt` radians; uv into the region given.
void add_blob(Half& h, V3 centre, V3 radii, float tilt, V2 uv0, V2 uv_size) {
    h.patch(18, 12, [&](float s, float t) {
        V3 d = sphere_direction(s, t);
        V3 p{d.x * radii.x, d.y * radii.y, d.z * radii.z};
        float c = std::cos(tilt), sn = std::sin(tilt);
        p = {p.x, p.y * c - p.z * sn, p.y * sn + p.z * c};
        return PatchPoint{centre + p, {uv0.x + uv_size.x * s, uv0.y + uv_size.y * (1 - t)}};
    });
}

void add_legs(Half& h) {
    for (int side = 0; side < 2; ++side) {
        float x = side ? 4.4f : -4.4f;
        add_tube(h, {x, -6.2f, 11}, {x * 1.1f, -19, 11.5f}, 2.3f, 1.7f, 0.5f * kFringeEnd, kFringeEnd, false);
        add_tube(h, {x * 1.1f, -19, 11.5f}, {x * 1.1f, -21.5f, 11.7f}, 1.75f, 1.9f, kBlack.y, kBlack.y + 0.01f);
    }
}

Mesh front_half() {
    Half h{{}, 1};
    add_shell(h);
    add_legs(h);
    // neck, head, muzzle, ears, eyes
    const V3 neck_a{0, 2, 13}, neck_b{0, 14, 22};
    add_tube(h, neck_a, neck_b, 4.4f, 3.4f, 0.2f, 0.5f, false);
    // a mane of paper fringe standing up along the back of the neck, one sheet seen from both sides
    const V3 back = normalize(cross(neck_b - neck_a, {1, 0, 0}));
    for (int side = 0; side < 2; ++side) {
        float x = side ? 0.2f : -0.2f;
        h.patch(8, 1, [&](float s, float t) {
            float r = 4.4f + (3.4f - 4.4f) * s;
            V3 p = neck_a + (neck_b - neck_a) * (s * 1.1f) + back * (r - 0.4f + 2.6f * t) + V3{x, 0, 0};
            return PatchPoint{p, {s, 0.25f + 0.06f * (side ? t : 1 - t)}};
        }, side == 1);
    }
    add_blob(h, {0, 15.5f, 25.5f}, {4.2f, 4.6f, 6.6f}, 0.45f, {0, 0.1f}, {2, 0.4f});
    add_blob(h, {0, 12.8f, 30.5f}, {3.3f, 3.1f, 3.2f}, 0.3f, {0, 0.6f}, {2, 0.2f});
    for (int side = 0; side < 2; ++side) {
        float x = side ? 2.4f : -2.4f;
        add_blob(h, {x, 21.5f, 23.2f}, {1.1f, 4.6f, 1.7f}, -0.35f, {0.1f, 0.3f}, {1, 0.3f});
        add_blob(h, {x * 1.55f, 16.8f, 28.6f}, {0.9f, 0.9f, 0.9f}, 0, kBlack, {0.02f, 0.02f});
    }
    move_vertices(h.mesh, 0, kHinge * -1.0f);
    return h.mesh;
}

Mesh back_half() {
    Half h{{}, -1};
    add_shell(h);
    add_legs(h);
    // the tail and its tuft (z is mirrored: +z here is the donkey's rear)
    add_tube(h, {0, 4, 16.5f}, {0, -2, 22}, 0.9f, 0.6f, 0.4f, 0.6f);
    add_blob(h, {0, -4.2f, 23.5f}, {1.6f, 3, 1.6f}, 0.5f, {0, 0.7f}, {1, 0.15f});
    move_vertices(h.mesh, 0, kHinge * -1.0f);
    return h.mesh;
}

Texel pinata_texel(float u, float v) {
    Texel t;
    if (v >= kFringeEnd) {
        bool black = u < 0.5f;
        float grain = fbm(u * 64, v * 64, 64, 3, 701);
        t.color = black ? mix(rgb(16, 14, 14), rgb(40, 36, 34), grain) : mix(rgb(150, 140, 120), rgb(180, 170, 150), grain);
        t.roughness = black ? 0.3f : 0.9f;
        t.height = 0.001f * grain;
        return t;
    }
    static const V3 colours[] = {rgb(240, 60, 140), rgb(252, 210, 40), rgb(40, 190, 210), rgb(250, 130, 30),
                                 rgb(140, 210, 50), rgb(150, 70, 200), rgb(250, 250, 250)};
    const int rows = 28;
    float y = v / kFringeEnd * rows;
    int row = static_cast<int>(y);
    float fy = y - row;  // 0 at the row's top, where it is glued, 1 at its free edge
    float strip = u * 160 + 0.3f * std::sin(row * 2.1f + u * 40);
    float fs = strip - std::floor(strip);
    float cut = 1 - smoothstep(0.0f, 0.08f, std::min(fs, 1 - fs));
    float crinkle = fbm(u * 96, v * 96, 96, 3, 702 + row);
    Texel tx;
    tx.color = colours[row % 7] * (0.86f + 0.2f * crinkle);
    tx.color = mix(tx.color, tx.color * 0.55f, cut * fy);
    // each row overlaps the next like a shingle; the cuts split it into strips
    tx.height = 0.004f * fy - 0.002f * cut * fy + 0.0008f * crinkle;
    tx.occlusion = 0.75f + 0.25f * fy;
    tx.roughness = 0.75f;
    return tx;
}

}  // namespace

ModelFile make_donkey() {
    ModelFile model;
    int paper = model.add_material("crepe paper", make_material(2048, ImageFormat::png, pinata_texel));
    model.add_mesh_node("DonkeyFront", front_half(), paper, kHinge);
    model.add_mesh_node("DonkeyBack", back_half(), paper, kHinge);
    model.add_light_and_camera({40, 80, 60}, {-120, 60, 80});
    return model;
}

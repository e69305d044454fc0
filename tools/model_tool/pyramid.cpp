// A stepped stone pyramid, 300 units wide and 100 high with a temple on top and
// a staircase up each side. Pieces thrown from 190 to 200 units above its
// middle come down on its +z side about 100 to 110 units out and tumble down
// the steps; below height 0 (off its base) they are sent back up.
#include <cmath>

#include "models.h"

namespace {

constexpr float kHalfWidth = 150, kHeight = 100, kTopHalfWidth = 20;
constexpr int kTiers = 9;
constexpr float kStoneTile = 32;  // world units per repeat of the stone texture

// Planar texture coordinates that follow the face: walls by their horizontal
// run and height, floors by x and z.
V2 stone_uv(V3 p, V3 n) {
    if (std::abs(n.y) > 0.7f) return {p.x / kStoneTile, (n.y > 0 ? p.z : -p.z) / kStoneTile};
    if (std::abs(n.x) > std::abs(n.z)) return {(n.x > 0 ? -p.z : p.z) / kStoneTile, -p.y / kStoneTile};
    return {(n.z > 0 ? p.x : -p.x) / kStoneTile, -p.y / kStoneTile};
}

void stone_quad(Mesh& mesh, V3 a, V3 b, V3 c, V3 d) {
    V3 n = normalize(cross(b - a, c - a));
    add_quad(mesh, a, b, c, d, stone_uv(a, n), stone_uv(b, n), stone_uv(c, n), stone_uv(d, n));
}

// A tier: a frustum from half-width w0 at y0 to w1 at y1, its four sloped
// walls and its top.
void add_tier(Mesh& mesh, float w0, float w1, float y0, float y1) {
    for (int side = 0; side < 4; ++side) {
        // corners of the wall seen from outside, turned to each side in turn
        auto corner = [&](float x, float y, float w) {
            V3 p{x, y, w};
            for (int k = 0; k < side; ++k) p = {p.z, p.y, -p.x};
            return p;
        };
        stone_quad(mesh, corner(-w0, y0, w0), corner(w0, y0, w0), corner(w1, y1, w1), corner(-w1, y1, w1));
    }
    stone_quad(mesh, {-w1, y1, w1}, {w1, y1, w1}, {w1, y1, -w1}, {-w1, y1, -w1});
}

void add_stone_box(Mesh& mesh, V3 lo, V3 hi) {
    int first = mesh.vertex_count();
    add_box(mesh, lo, hi, kStoneTile);
    for (int i = first; i < mesh.vertex_count(); ++i) mesh.uvs[i] = stone_uv(mesh.positions[i], mesh.normals[i]);
}

// The same box turned by quarter turns about the y axis, for the other sides.
void add_stone_box_turned(Mesh& mesh, V3 lo, V3 hi, int quarter_turns) {
    V3 a = lo, b = hi;
    for (int k = 0; k < quarter_turns; ++k) {
        a = {a.z, a.y, -a.x};
        b = {b.z, b.y, -b.x};
    }
    add_stone_box(mesh, {std::min(a.x, b.x), a.y, std::min(a.z, b.z)}, {std::max(a.x, b.x), b.y, std::max(a.z, b.z)});
}

Mesh pyramid_mesh() {
    Mesh mesh;
    const float tier_height = kHeight / kTiers;
    for (int k = 0; k < kTiers; ++k) {
        float f0 = static_cast<float>(k) / kTiers, f1 = static_cast<float>(k + 1) / kTiers;
        float w0 = kHalfWidth + (kTopHalfWidth - kHalfWidth) * f0;
        float w1 = kHalfWidth + (kTopHalfWidth - kHalfWidth) * f1;
        // each tier's wall leans in a little, then steps back to the next tier
        add_tier(mesh, w0, w0 - 2.5f, k * tier_height, (k + 1) * tier_height);
        (void)w1;
    }
    // A staircase up the middle of each side, with a ramp wall either side.
    const int steps = 45;
    const float run = (kHalfWidth - kTopHalfWidth) / steps, rise = kHeight / steps, half_stair = 9;
    for (int side = 0; side < 4; ++side) {
        for (int i = 0; i < steps; ++i) {
            float z_front = kHalfWidth + 2 - i * run;
            add_stone_box_turned(mesh, {-half_stair, i * rise, z_front - run - 4}, {half_stair, (i + 1) * rise, z_front}, side);
        }
        for (int wall = 0; wall < 2; ++wall) {
            float x0 = wall ? half_stair : -half_stair - 3, x1 = x0 + 3;
            for (int i = 0; i < steps; i += 5) {
                float z_front = kHalfWidth + 2 - i * run;
                add_stone_box_turned(mesh, {x0, i * rise, z_front - 5 * run - 4}, {x1, (i + 5) * rise + 1.5f, z_front}, side);
            }
        }
    }
    // The temple: a platform, four walls with a doorway facing +z, a roof and a crest.
    const float top = kHeight;
    add_stone_box(mesh, {-16, top, -16}, {16, top + 2, 16});
    add_stone_box(mesh, {-12, top + 2, -12}, {12, top + 14, -10});
    add_stone_box(mesh, {-12, top + 2, -10}, {-10, top + 14, 10});
    add_stone_box(mesh, {10, top + 2, -10}, {12, top + 14, 10});
    add_stone_box(mesh, {-12, top + 2, 10}, {-4, top + 14, 12});
    add_stone_box(mesh, {4, top + 2, 10}, {12, top + 14, 12});
    add_stone_box(mesh, {-4, top + 10, 10}, {4, top + 14, 12});
    add_stone_box(mesh, {-13, top + 14, -13}, {13, top + 16, 13});
    add_stone_box(mesh, {-8, top + 16, -3}, {8, top + 22, 3});
    return mesh;
}

Texel stone_texel(float u, float v) {
    // courses of blocks, each course shifted by half a block; the joints wander
    const int rows = 16, columns = 8;
    float jitter_u = 0.05f * (fbm(u * 32, v * 32, 32, 3, 405) - 0.5f);
    float jitter_v = 0.05f * (value_noise(u * 24 + 7, v * 24, 24, 406) - 0.5f);
    float y = v * rows + jitter_v;
    int row = static_cast<int>(std::floor(y));
    float x = u * columns + (row % 2) * 0.5f + jitter_u;
    int column = static_cast<int>(std::floor(x));
    float fx = x - column, fy = y - row;
    float groove = std::min({fx, 1 - fx, fy * 0.5f, (1 - fy) * 0.5f});
    int wrapped_row = (row % rows + rows) % rows, wrapped_column = (column % columns + columns) % columns;
    float shade = value_noise(wrapped_column + 0.5f, wrapped_row + 0.5f, columns, 401);
    float tint = value_noise(wrapped_column * 3 + 0.5f, wrapped_row * 3 + 0.5f, columns * 3, 407);
    float grain = fbm(u * 96, v * 96, 96, 4, 402);
    float weather = fbm(u * 6, v * 6, 6, 4, 403);
    float moss = smoothstep(0.55f, 0.72f, fbm(u * 10, v * 10, 10, 4, 404)) * (1 - smoothstep(0.0f, 0.08f, groove));
    Texel t;
    V3 stone = mix(rgb(150, 142, 124), rgb(214, 196, 160), shade);
    stone = mix(stone, rgb(196, 150, 110), 0.35f * tint);  // some blocks warmer
    stone = mix(stone, stone * 0.7f, weather * 0.7f);
    stone = stone * (0.9f + 0.2f * grain);
    float mortar = 1 - smoothstep(0.015f, 0.045f, groove);
    t.color = mix(stone, rgb(96, 88, 76), mortar);
    t.color = mix(t.color, rgb(80, 104, 48), moss * 0.8f);
    t.height = 0.0015f * smoothstep(0.0f, 0.06f, groove) + 0.0008f * grain - 0.0005f * weather;
    t.roughness = 0.85f - 0.1f * grain;
    t.occlusion = 1 - 0.35f * mortar;
    return t;
}

}  // namespace

ModelFile make_pyramid() {
    ModelFile model;
    int stone = model.add_material("stone", make_material(4096, ImageFormat::jpeg, stone_texel));
    model.add_mesh_node("pyra", pyramid_mesh(), stone);
    model.add_light_and_camera({100, 300, 150}, {0, 150, 400});
    return model;
}

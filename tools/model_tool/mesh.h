// Triangle meshes for the model tool: positions, unit normals, texture
// coordinates and 16-bit indices, built from parametric patches, quads and
// boxes. Front faces wind counter-clockwise seen from outside.
//
// Texture coordinates follow the image convention (v grows down the image), and
// every builder maps an image unmirrored as seen from the front, so the normal
// maps' green channel points up the image on every surface.
#pragma once
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

struct V2 {
    float x = 0, y = 0;
};

struct V3 {
    float x = 0, y = 0, z = 0;
};

inline V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 operator*(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline V3 operator*(float s, V3 a) { return a * s; }
inline float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline float length(V3 a) { return std::sqrt(dot(a, a)); }
inline V3 normalize(V3 a) {
    float l = length(a);
    return l > 0 ? a * (1.0f / l) : V3{0, 1, 0};
}
inline V3 lerp(V3 a, V3 b, float t) { return a + (b - a) * t; }

constexpr float kPi = 3.14159265358979f;

struct Mesh {
    std::vector<V3> positions;
    std::vector<V3> normals;
    std::vector<V2> uvs;
    std::vector<uint16_t> indices;

    int vertex_count() const { return static_cast<int>(positions.size()); }
    int vertex(V3 p, V3 n, V2 uv);
    void triangle(int a, int b, int c);
};

// One point of a parametric patch.
struct PatchPoint {
    V3 position;
    V2 uv;
};
using PatchFn = std::function<PatchPoint(float s, float t)>;

// A grid of nu × nv quads over (s, t) in [0, 1]². The front side is the side
// that cross(dP/ds, dP/dt) points to (flip turns it round); normals are taken
// from the surface's derivatives, so seams of closed surfaces stay smooth. For
// an unmirrored image, uv must run with s along u and against t along v.
void add_patch(Mesh& mesh, int nu, int nv, const PatchFn& f, bool flip = false);

// A flat quad a b c d, counter-clockwise from its front, with its four uvs.
void add_quad(Mesh& mesh, V3 a, V3 b, V3 c, V3 d, V2 ta, V2 tb, V2 tc, V2 td);

// An axis-aligned box between lo and hi; every face maps the image by world
// position (uv = coordinates / uv_size), so boxes side by side continue it.
void add_box(Mesh& mesh, V3 lo, V3 hi, float uv_size, V2 uv_offset = {});

// A surface of revolution about the y axis through the profile points
// (radius, height), one ring per point. The front is on the right of the
// profile's direction in the (radius right, height up) plane: a profile that
// runs out along a bottom, up the outside and back in along the top makes a
// closed solid. u runs uv_size.x across one turn, v by length from the profile's end
// (uv_origin.y) back to its start (uv_origin.y + uv_size.y).
void add_lathe(Mesh& mesh, int segments, const std::vector<V2>& profile, V2 uv_origin, V2 uv_size);

// Smooth normals for the vertices from first_vertex on, from the area-weighted
// normals of the triangles from first_index on (for meshes not made of patches).
void smooth_normals(Mesh& mesh, int first_vertex, int first_index);

// The unit-sphere direction at longitude s and latitude t (t = 0 south pole,
// t = 1 north pole); as a patch it faces outward.
inline V3 sphere_direction(float s, float t) {
    float theta = 2 * kPi * s, phi = kPi * (t - 0.5f);
    return {std::cos(phi) * std::cos(theta), std::sin(phi), -std::cos(phi) * std::sin(theta)};
}

// Rotation about a unit axis by an angle in radians, applied to the vertices
// from first on (positions about pivot, then moved by offset; normals turned).
void rotate_vertices(Mesh& mesh, int first, V3 axis, float angle, V3 pivot = {});
void move_vertices(Mesh& mesh, int first, V3 offset);

// The centre of the vertices' bounding box, and the box itself.
V3 bounds_centre(const Mesh& mesh);
void bounds(const Mesh& mesh, V3* lo, V3* hi);

// A small deterministic generator (xorshift64*), so the same sources always
// give the same models.
struct Rng {
    uint64_t state;
    explicit Rng(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    float unit() { return static_cast<float>(next() >> 40) / 16777216.0f; }  // [0, 1)
    float range(float lo, float hi) { return lo + (hi - lo) * unit(); }
};

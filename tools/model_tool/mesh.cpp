#include "mesh.h"

#include <algorithm>

int Mesh::vertex(V3 p, V3 n, V2 uv) {
    positions.push_back(p);
    normals.push_back(normalize(n));
    uvs.push_back(uv);
    return vertex_count() - 1;
}

void Mesh::triangle(int a, int b, int c) {
    indices.push_back(static_cast<uint16_t>(a));
    indices.push_back(static_cast<uint16_t>(b));
    indices.push_back(static_cast<uint16_t>(c));
}

namespace {

// The surface normal at (s, t) from central differences; where one direction
// degenerates (the pole of a sphere), the point is nudged inward along t.
V3 patch_normal(const PatchFn& f, float s, float t) {
    const float e = 1e-3f;
    for (int attempt = 0; attempt < 4; ++attempt) {
        float tt = std::clamp(t, 0.0f, 1.0f);
        if (attempt > 0) tt = std::clamp(t < 0.5f ? t + attempt * 4 * e : t - attempt * 4 * e, 0.0f, 1.0f);
        float s0 = std::max(0.0f, s - e), s1 = std::min(1.0f, s + e);
        float t0 = std::max(0.0f, tt - e), t1 = std::min(1.0f, tt + e);
        V3 ds = f(s1, tt).position - f(s0, tt).position;
        V3 dt = f(s, t1).position - f(s, t0).position;
        V3 n = cross(ds, dt);
        if (length(n) > 1e-12f) return normalize(n);
    }
    return {0, 1, 0};
}

}  // namespace

void add_patch(Mesh& mesh, int nu, int nv, const PatchFn& f, bool flip) {
    int base = mesh.vertex_count();
    for (int j = 0; j <= nv; ++j) {
        for (int i = 0; i <= nu; ++i) {
            float s = static_cast<float>(i) / nu, t = static_cast<float>(j) / nv;
            PatchPoint p = f(s, t);
            V3 n = patch_normal(f, s, t);
            mesh.vertex(p.position, flip ? n * -1.0f : n, p.uv);
        }
    }
    for (int j = 0; j < nv; ++j) {
        for (int i = 0; i < nu; ++i) {
            int a = base + j * (nu + 1) + i, b = a + 1, c = a + nu + 2, d = a + nu + 1;
            if (flip) {
                mesh.triangle(a, c, b);
                mesh.triangle(a, d, c);
            } else {
                mesh.triangle(a, b, c);
                mesh.triangle(a, c, d);
            }
        }
    }
}

void add_quad(Mesh& mesh, V3 a, V3 b, V3 c, V3 d, V2 ta, V2 tb, V2 tc, V2 td) {
    V3 n = normalize(cross(b - a, c - a) + cross(c - a, d - a));
    int ia = mesh.vertex(a, n, ta), ib = mesh.vertex(b, n, tb);
    int ic = mesh.vertex(c, n, tc), id = mesh.vertex(d, n, td);
    mesh.triangle(ia, ib, ic);
    mesh.triangle(ia, ic, id);
}

void add_box(Mesh& mesh, V3 lo, V3 hi, float uv_size, V2 o) {
    auto uv = [&](float a, float b) { return V2{o.x + a / uv_size, o.y - b / uv_size}; };
    // Each face: its four corners counter-clockwise from outside, uv from two
    // world axes so that "right" and "up" on the face are right and up in the image.
    // +x face: right = -z, up = +y
    add_quad(mesh, {hi.x, lo.y, hi.z}, {hi.x, lo.y, lo.z}, {hi.x, hi.y, lo.z}, {hi.x, hi.y, hi.z},
             uv(-hi.z, lo.y), uv(-lo.z, lo.y), uv(-lo.z, hi.y), uv(-hi.z, hi.y));
    // -x face: right = +z
    add_quad(mesh, {lo.x, lo.y, lo.z}, {lo.x, lo.y, hi.z}, {lo.x, hi.y, hi.z}, {lo.x, hi.y, lo.z},
             uv(lo.z, lo.y), uv(hi.z, lo.y), uv(hi.z, hi.y), uv(lo.z, hi.y));
    // +z face: right = +x
    add_quad(mesh, {lo.x, lo.y, hi.z}, {hi.x, lo.y, hi.z}, {hi.x, hi.y, hi.z}, {lo.x, hi.y, hi.z},
             uv(lo.x, lo.y), uv(hi.x, lo.y), uv(hi.x, hi.y), uv(lo.x, hi.y));
    // -z face: right = -x
    add_quad(mesh, {hi.x, lo.y, lo.z}, {lo.x, lo.y, lo.z}, {lo.x, hi.y, lo.z}, {hi.x, hi.y, lo.z},
             uv(-hi.x, lo.y), uv(-lo.x, lo.y), uv(-lo.x, hi.y), uv(-hi.x, hi.y));
    // +y face: right = +x, up = -z
    add_quad(mesh, {lo.x, hi.y, hi.z}, {hi.x, hi.y, hi.z}, {hi.x, hi.y, lo.z}, {lo.x, hi.y, lo.z},
             uv(lo.x, -hi.z), uv(hi.x, -hi.z), uv(hi.x, -lo.z), uv(lo.x, -lo.z));
    // -y face: right = +x, up = +z
    add_quad(mesh, {lo.x, lo.y, lo.z}, {hi.x, lo.y, lo.z}, {hi.x, lo.y, hi.z}, {lo.x, lo.y, hi.z},
             uv(lo.x, lo.z), uv(hi.x, lo.z), uv(hi.x, hi.z), uv(lo.x, hi.z));
}

void add_lathe(Mesh& mesh, int segments, const std::vector<V2>& profile, V2 uv_origin, V2 uv_size) {
    std::vector<float> along(profile.size(), 0.0f);
    for (size_t i = 1; i < profile.size(); ++i)
        along[i] = along[i - 1] + std::hypot(profile[i].x - profile[i - 1].x, profile[i].y - profile[i - 1].y);
    int base = mesh.vertex_count();
    int rings = static_cast<int>(profile.size());
    for (int j = 0; j < rings; ++j) {
        // the profile's direction here, averaged over both neighbouring segments
        V2 prev = profile[std::max(j - 1, 0)], next = profile[std::min(j + 1, rings - 1)];
        float dr = next.x - prev.x, dy = next.y - prev.y;
        for (int i = 0; i <= segments; ++i) {
            float s = static_cast<float>(i) / segments, a = 2 * kPi * s;
            float c = std::cos(a), sn = -std::sin(a);
            V3 p{profile[j].x * c, profile[j].y, profile[j].x * sn};
            V3 n{dy * c, -dr, dy * sn};  // the right-hand normal of (dr, dy), turned about y
            if (profile[j].x < 1e-6f && length(n) < 1e-6f) n = {0, 1, 0};
            mesh.vertex(p, n, {uv_origin.x + s * uv_size.x, uv_origin.y + (1 - along[j] / along.back()) * uv_size.y});
        }
    }
    for (int j = 0; j + 1 < rings; ++j)
        for (int i = 0; i < segments; ++i) {
            int a = base + j * (segments + 1) + i, b = a + 1, c = a + segments + 2, d = a + segments + 1;
            mesh.triangle(a, b, c);
            mesh.triangle(a, c, d);
        }
}

void smooth_normals(Mesh& mesh, int first_vertex, int first_index) {
    std::vector<V3> sum(mesh.vertex_count() - first_vertex);
    for (size_t i = first_index; i + 2 < mesh.indices.size(); i += 3) {
        int a = mesh.indices[i], b = mesh.indices[i + 1], c = mesh.indices[i + 2];
        V3 n = cross(mesh.positions[b] - mesh.positions[a], mesh.positions[c] - mesh.positions[a]);
        for (int v : {a, b, c})
            if (v >= first_vertex) sum[v - first_vertex] = sum[v - first_vertex] + n;
    }
    for (size_t i = 0; i < sum.size(); ++i) mesh.normals[first_vertex + i] = normalize(sum[i]);
}

namespace {

V3 rotate(V3 v, V3 axis, float angle) {
    // Rodrigues' formula
    float c = std::cos(angle), s = std::sin(angle);
    return v * c + cross(axis, v) * s + axis * (dot(axis, v) * (1 - c));
}

}  // namespace

void rotate_vertices(Mesh& mesh, int first, V3 axis, float angle, V3 pivot) {
    axis = normalize(axis);
    for (int i = first; i < mesh.vertex_count(); ++i) {
        mesh.positions[i] = rotate(mesh.positions[i] - pivot, axis, angle) + pivot;
        mesh.normals[i] = normalize(rotate(mesh.normals[i], axis, angle));
    }
}

void move_vertices(Mesh& mesh, int first, V3 offset) {
    for (int i = first; i < mesh.vertex_count(); ++i) mesh.positions[i] = mesh.positions[i] + offset;
}

void bounds(const Mesh& mesh, V3* lo, V3* hi) {
    *lo = {1e30f, 1e30f, 1e30f};
    *hi = {-1e30f, -1e30f, -1e30f};
    for (V3 p : mesh.positions) {
        lo->x = std::min(lo->x, p.x), lo->y = std::min(lo->y, p.y), lo->z = std::min(lo->z, p.z);
        hi->x = std::max(hi->x, p.x), hi->y = std::max(hi->y, p.y), hi->z = std::max(hi->z, p.z);
    }
}

V3 bounds_centre(const Mesh& mesh) {
    V3 lo, hi;
    bounds(mesh, &lo, &hi);
    return (lo + hi) * 0.5f;
}

#include "render/math3d.h"

#include <cmath>
#include <numbers>

namespace {
constexpr float pi = std::numbers::pi_v<float>;
}

float dot(vec3 a, vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

vec3 cross(vec3 a, vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float length(vec3 v) { return std::sqrt(dot(v, v)); }

vec3 normalize(vec3 v) {
    float len = length(v);
    if (len == 0.0f) return {0.0f, 0.0f, 0.0f};
    return v * (1.0f / len);
}

mat4 mat4_identity() {
    mat4 r{};
    r.at(0, 0) = r.at(1, 1) = r.at(2, 2) = r.at(3, 3) = 1.0f;
    return r;
}

mat4 operator*(const mat4& a, const mat4& b) {
    // Column j of the product is Σ_k (column k of a) × b(j, k).
    mat4 r{};
    for (int j = 0; j < 4; ++j)
        for (int k = 0; k < 4; ++k) {
            float f = b.at(j, k);
            for (int row = 0; row < 4; ++row) r.at(j, row) += a.at(k, row) * f;
        }
    return r;
}

vec4 operator*(const mat4& m, vec4 v) {
    const float in[4] = {v.x, v.y, v.z, v.w};
    float out[4] = {0, 0, 0, 0};
    for (int k = 0; k < 4; ++k)
        for (int row = 0; row < 4; ++row) out[row] += m.at(k, row) * in[k];
    return {out[0], out[1], out[2], out[3]};
}

mat4 perspective(float fov_degrees, float aspect, float near_plane, float far_plane) {
    float t = std::tan(fov_degrees * pi / 360.0f);
    mat4 r{};
    r.at(0, 0) = 1.0f / t;
    r.at(1, 1) = aspect / t;
    r.at(2, 2) = (near_plane + far_plane) / (near_plane - far_plane);
    r.at(2, 3) = -1.0f;
    r.at(3, 2) = 2.0f * near_plane * far_plane / (near_plane - far_plane);
    return r;
}

mat4 look_at(vec3 eye, vec3 center, vec3 up) {
    vec3 f = normalize(center - eye);
    vec3 s = normalize(cross(f, up));
    vec3 u = cross(s, f);
    mat4 r{};
    r.at(0, 0) = s.x;
    r.at(0, 1) = u.x;
    r.at(0, 2) = -f.x;
    r.at(1, 0) = s.y;
    r.at(1, 1) = u.y;
    r.at(1, 2) = -f.y;
    r.at(2, 0) = s.z;
    r.at(2, 1) = u.z;
    r.at(2, 2) = -f.z;
    r.at(3, 0) = -dot(s, eye);
    r.at(3, 1) = -dot(u, eye);
    r.at(3, 2) = dot(f, eye);
    r.at(3, 3) = 1.0f;
    return r;
}

mat4 rotate(float angle_degrees, vec3 axis) {
    vec3 a = normalize(axis);
    float theta = angle_degrees * pi / 180.0f;
    float cs = std::cos(theta), sn = std::sin(theta), k = 1.0f - cs;
    mat4 r{};
    r.at(0, 0) = a.x * a.x * k + cs;
    r.at(0, 1) = a.y * a.x * k + a.z * sn;
    r.at(0, 2) = a.x * a.z * k - a.y * sn;
    r.at(1, 0) = a.x * a.y * k - a.z * sn;
    r.at(1, 1) = a.y * a.y * k + cs;
    r.at(1, 2) = a.y * a.z * k + a.x * sn;
    r.at(2, 0) = a.x * a.z * k + a.y * sn;
    r.at(2, 1) = a.y * a.z * k - a.x * sn;
    r.at(2, 2) = a.z * a.z * k + cs;
    r.at(3, 3) = 1.0f;
    return r;
}

mat4 translate(vec3 t) {
    mat4 r = mat4_identity();
    r.at(3, 0) = t.x;
    r.at(3, 1) = t.y;
    r.at(3, 2) = t.z;
    return r;
}

mat4 scale(vec3 v) {
    mat4 r{};
    r.at(0, 0) = v.x;
    r.at(1, 1) = v.y;
    r.at(2, 2) = v.z;
    r.at(3, 3) = 1.0f;
    return r;
}

quat quat_from_axis_angle(vec3 axis, float angle_radians) {
    vec3 a = normalize(axis) * std::sin(angle_radians * 0.5f);
    return {a.x, a.y, a.z, std::cos(angle_radians * 0.5f)};
}

// The vector and matrix toolkit every camera, projection and instance
// transform is built with. Single-precision floats throughout.
//
// mat4 is column-major: element (column i, row j) sits at m[4 * i + j], which is
// also the layout uploaded to every uniform block matrix. Points transform as
// clip = M × (x, y, z, 1) with column vectors; transforms compose as
// translate × rotate × scale, cameras as projection × view (× model).
// World space is right-handed with y up; look_at looks along −z of view space;
// perspective maps view depth near → clip z/w = −1 and far → +1.
// Angles: rotate takes degrees, quat_from_axis_angle radians.
#pragma once

struct vec2 {
    float x, y;
};
struct vec3 {
    float x, y, z;
};
struct vec4 {
    float x, y, z, w;
};
struct quat {
    float x, y, z, w;
};
struct mat4 {
    float m[16];
    float& at(int column, int row) { return m[4 * column + row]; }
    float at(int column, int row) const { return m[4 * column + row]; }
};

static_assert(sizeof(vec2) == 8 && sizeof(vec3) == 12 && sizeof(vec4) == 16 && sizeof(quat) == 16);
static_assert(sizeof(mat4) == 64, "a matrix is uploaded as 16 floats");

inline vec3 operator+(vec3 a, vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline vec3 operator-(vec3 a, vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline vec3 operator-(vec3 a) { return {-a.x, -a.y, -a.z}; }
inline vec3 operator*(vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline vec3 operator*(float s, vec3 a) { return a * s; }
float dot(vec3 a, vec3 b);
vec3 cross(vec3 a, vec3 b);
float length(vec3 v);
// v / |v|; the zero vector stays zero (there is nothing to divide by).
vec3 normalize(vec3 v);

mat4 mat4_identity();
mat4 operator*(const mat4& a, const mat4& b);
vec4 operator*(const mat4& m, vec4 v);

// Horizontal field of view in degrees; aspect = width / height scales y, so a
// larger aspect makes the picture taller. (3, 3) is 0.
mat4 perspective(float fov_degrees, float aspect, float near_plane, float far_plane);
mat4 look_at(vec3 eye, vec3 center, vec3 up);
// About a normalised axis; a zero axis leaves cos θ × identity in the upper 3 × 3.
mat4 rotate(float angle_degrees, vec3 axis);
mat4 translate(vec3 t);
mat4 scale(vec3 v);
quat quat_from_axis_angle(vec3 axis, float angle_radians);

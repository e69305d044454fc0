#version 450
// The triangular pattern: a skewed lattice of triangles whose neighbouring
// columns scroll in opposite directions; the lines thicken with bin 32 of the
// spectrum. Alternate rows show the lined cells (B) and the banded ones (D)
// unless u_thresh lets every row show B.
layout(std140, binding = 4) uniform fs_aztec_params {
    vec4 color0;  // unread
    vec4 color1;  // unread
    vec2 dir;     // unread
    float u_angle;
    float u_rows;
    float u_time;
    float u_thresh;
};
layout(binding = 0) uniform sampler2D tex_fft;

layout(location = 0) in vec2 uv;
layout(location = 0) out vec4 frag_color;

const vec3 dark = vec3(0.251, 0.067, 0.114);
const vec3 red = vec3(0.941, 0.240, 0.184);
const vec3 orange = vec3(0.976, 0.423, 0.124);
const vec3 yellow = vec3(0.984, 0.886, 0.012);

// Floored modulo, as the pattern's parities need for negative values.
float floored_mod(float x, float m) { return x - m * floor(x / m); }

void main() {
    vec2 p = 2.0 * uv - 1.0;
    float ca = cos(u_angle), sa = sin(u_angle);
    vec2 g = vec2(p.x * ca - p.y * sa, p.x * sa + p.y * ca) * u_rows;
    float tau = 0.25 * u_time;

    float s = g.x - g.y / 1.73;
    float col = floor(s);
    bool odd = floored_mod(col + 0.5, 2.0) >= 1.0;
    float t = 2.0 * g.y / 1.73 + (odd ? tau : -tau);
    float r = floor(t);

    vec3 f = vec3(fract(s), fract(t), fract(1.0 - s - t));
    if (length(f) > 1.0) f = 1.0 - f;
    f = fract(f);
    vec3 m = 2.0 * f - 1.0;
    float e = 1.0 - max(abs(m.x), max(abs(m.y), abs(m.z)));
    float E = 0.43 * e;

    float b = texture(tex_fft, vec2(0.0625, 0.5)).r;
    float w = 0.075 + 0.12 * b * b * b;

    float sw = smoothstep(w, w + 0.01, E);
    vec3 A = odd ? mix(dark, red, sw) : mix(red, dark, sw);
    vec3 B = mix(yellow, A, smoothstep(0.025, 0.035, E));
    vec3 D = mix(dark, mix(orange, yellow, smoothstep(0.145, 0.155, E)), smoothstep(0.065, 0.075, E));

    frag_color = vec4(u_thresh < floored_mod(r + 0.5, 2.0) ? B : D, 1.0);
}

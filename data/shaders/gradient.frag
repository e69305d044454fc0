#version 450
// Two-colour cosine gradient along dir, scrolled by phase.
layout(std140, binding = 4) uniform fs_gradient_params {
    vec4 color0;
    vec4 color1;
    vec2 dir;
    float phase;
};

layout(location = 0) in vec2 uv;
layout(location = 0) out vec4 frag_color;

void main() {
    float t = 0.5 + 0.5 * cos(dot(uv, dir) * 3.14159 + phase);
    frag_color = color0 + t * (color1 - color0);
}

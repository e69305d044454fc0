#version 450
// Light-space depth for the shadow map: clip = mvp × (position, 1).
layout(std140, binding = 0) uniform vs_shadow_params {
    mat4 mvp;
};

layout(location = 0) in vec3 position;
layout(location = 0) out vec2 clip_zw;

void main() {
    gl_Position = mvp * vec4(position, 1.0);
    clip_zw = gl_Position.zw;
}

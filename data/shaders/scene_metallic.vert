#version 450
// Lit scene geometry: world position and normal (not normalised here), the
// light-space coordinate for the shadow lookup, and the camera's eye.
layout(std140, binding = 0) uniform vs_params {
    mat4 world;
    mat4 view_proj;
    mat4 light_wvp;
    vec3 eye_pos;
};

layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 texcoord;

layout(location = 0) out vec3 world_pos;
layout(location = 1) out vec3 world_normal;
layout(location = 2) out vec2 uv;
layout(location = 3) out vec4 shadow_coord;
layout(location = 4) flat out vec3 eye;

void main() {
    world_pos = (world * vec4(position, 1.0)).xyz;
    world_normal = (world * vec4(normal, 0.0)).xyz;
    shadow_coord = light_wvp * vec4(world_pos, 1.0);
    gl_Position = view_proj * vec4(world_pos, 1.0);
    uv = texcoord;
    eye = eye_pos;
}

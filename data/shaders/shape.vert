#version 450
// Instanced outline shapes: the vertex pushed along its offset by half the
// thickness in the instance's local plane, then through the instance matrix
// and wvp.
layout(std140, binding = 0) uniform vs_shape_params {
    mat4 wvp;
    vec3 cam_pos;       // unread
    float thick;
    float pixel_scale;  // unread
};

layout(location = 0) in vec2 position;
layout(location = 1) in vec2 offset;
layout(location = 2) in vec4 m0;
layout(location = 3) in vec4 m1;
layout(location = 4) in vec4 m2;
layout(location = 5) in vec4 m3;
layout(location = 6) in vec4 color;
layout(location = 0) out vec4 v_color;

void main() {
    vec2 local = position + offset * (thick * 0.5);
    gl_Position = wvp * mat4(m0, m1, m2, m3) * vec4(local, 0.0, 1.0);
    v_color = color;
}

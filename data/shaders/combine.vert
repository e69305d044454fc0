#version 450
// Rectangle stage of the composite: the unit quad is placed on `rect`
// (window-normalised, origin top-left) and keeps uv 0..1 over it.
layout(std140, binding = 0) uniform vs_combine_params {
    vec4 rect;
};

layout(location = 0) in vec2 p;
layout(location = 0) out vec2 uv;

void main() {
    uv = p;
    vec2 q = p * rect.zw + rect.xy;
    gl_Position = vec4(2.0 * q.x - 1.0, 1.0 - 2.0 * q.y, 0.0, 1.0);
}

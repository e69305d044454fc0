#version 450
// Pass-through stage of the bloom passes: the unit quad covers the whole target,
// uv (0, 0) at its top-left (clip y is up, texture v is down).
layout(location = 0) in vec2 p;
layout(location = 0) out vec2 uv;

void main() {
    uv = p;
    gl_Position = vec4(2.0 * p.x - 1.0, 1.0 - 2.0 * p.y, 0.0, 1.0);
}

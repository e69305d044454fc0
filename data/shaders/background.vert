#version 450
// Full-target stage of the backgrounds: uv (0, 0) is the bottom-left corner.
layout(location = 0) in vec2 p;
layout(location = 0) out vec2 uv;

void main() {
    uv = p;
    gl_Position = vec4(2.0 * p.x - 1.0, 2.0 * p.y - 1.0, 0.0, 1.0);
}

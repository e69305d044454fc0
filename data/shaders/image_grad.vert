#version 450
// A caption quad: scaled, turned by angle, moved to pos, with y flipped and
// stretched by the target's aspect (so a positive angle turns clockwise on
// screen). uv (0, 0) is the image's top-left corner.
layout(std140, binding = 0) uniform vs_image_params {
    vec2 pos;
    vec2 scale;
    float angle;
    float aspect;
};

layout(location = 0) in vec2 p;
layout(location = 0) out vec2 uv;

void main() {
    uv = p;
    vec2 q = (2.0 * p - 1.0) * scale;
    float c = cos(angle), s = sin(angle);
    vec2 r = vec2(q.x * c - q.y * s + pos.x, q.x * s + q.y * c + pos.y);
    gl_Position = vec4(r.x, -r.y * aspect, 0.0, 1.0);
}

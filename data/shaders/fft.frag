#version 450
// The spectrum display: 512 black columns mirrored about the centre line on a
// cyan field, column k as tall as the square of bin k.
layout(binding = 0) uniform sampler2D tex;

layout(location = 0) in vec2 uv;
layout(location = 0) out vec4 frag_color;

void main() {
    float u = (floor(uv.x * 512.0) + 0.5) / 512.0;
    float b = texture(tex, vec2(u, 0.5)).r;
    float h = b * b * 0.5;
    frag_color = abs(uv.y - 0.5) < h ? vec4(0.0) : vec4(22.0, 249.0, 255.0, 255.0) / 255.0;
}

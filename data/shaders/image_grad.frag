#version 450
// The caption tinted by a vertical cosine blend of two colours, moved by phase.
layout(std140, binding = 4) uniform fs_image_grad_params {
    vec4 color_a;
    vec4 color_b;
    float phase;
};
layout(binding = 0) uniform sampler2D tex;

layout(location = 0) in vec2 uv;
layout(location = 0) out vec4 frag_color;

void main() {
    float t = 0.5 + 0.5 * cos(uv.y * 3.14159 + phase);
    frag_color = mix(color_a, color_b, t) * texture(tex, uv);
}

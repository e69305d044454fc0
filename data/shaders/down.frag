#version 450
// Dual-filter downsample: the centre tap weighs 4, the four diagonal half-texel
// taps (each a bilinear average of four texels) weigh 1.
layout(std140, binding = 4) uniform fs_down_params {
    vec2 HalfPixel;
};
layout(binding = 0) uniform sampler2D tex0;

layout(location = 0) in vec2 uv;
layout(location = 0) out vec4 frag_color;

void main() {
    vec2 h = HalfPixel;
    vec3 sum = texture(tex0, uv).rgb * 4.0;
    sum += texture(tex0, uv + vec2(-h.x, -h.y)).rgb;
    sum += texture(tex0, uv + vec2(h.x, h.y)).rgb;
    sum += texture(tex0, uv + vec2(h.x, -h.y)).rgb;
    sum += texture(tex0, uv + vec2(-h.x, h.y)).rgb;
    frag_color = vec4(sum * 0.125, 1.0);
}

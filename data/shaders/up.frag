#version 450
// Dual-filter upsample: four taps a whole texel away on the axes (weight 1) and
// four diagonal half-texel taps (weight 2).
layout(std140, binding = 4) uniform fs_up_params {
    vec2 HalfPixel;
};
layout(binding = 0) uniform sampler2D tex0;

layout(location = 0) in vec2 uv;
layout(location = 0) out vec4 frag_color;

void main() {
    vec2 h = HalfPixel;
    vec3 sum = texture(tex0, uv + vec2(-2.0 * h.x, 0.0)).rgb;
    sum += texture(tex0, uv + vec2(2.0 * h.x, 0.0)).rgb;
    sum += texture(tex0, uv + vec2(0.0, 2.0 * h.y)).rgb;
    sum += texture(tex0, uv + vec2(0.0, -2.0 * h.y)).rgb;
    sum += texture(tex0, uv + vec2(-h.x, h.y)).rgb * 2.0;
    sum += texture(tex0, uv + vec2(h.x, h.y)).rgb * 2.0;
    sum += texture(tex0, uv + vec2(h.x, -h.y)).rgb * 2.0;
    sum += texture(tex0, uv + vec2(-h.x, -h.y)).rgb * 2.0;
    frag_color = vec4(sum * (1.0 / 12.0), 1.0);
}

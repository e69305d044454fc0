#version 450
// Composite: the upsampled bloom scaled by Glow, added to the sharp image, then
// a smoothstep vignette blended in by Vignette.
layout(std140, binding = 4) uniform fs_combine_params {
    vec2 HalfPixel;
    float Glow;
    float Vignette;
    float VignetteSize;
};
layout(binding = 0) uniform sampler2D blur;
layout(binding = 1) uniform sampler2D base;

layout(location = 0) in vec2 uv;
layout(location = 0) out vec4 frag_color;

void main() {
    vec2 h = HalfPixel;
    vec3 g = texture(blur, uv + vec2(-2.0 * h.x, 0.0)).rgb;
    g += texture(blur, uv + vec2(2.0 * h.x, 0.0)).rgb;
    g += texture(blur, uv + vec2(0.0, 2.0 * h.y)).rgb;
    g += texture(blur, uv + vec2(0.0, -2.0 * h.y)).rgb;
    g += texture(blur, uv + vec2(-h.x, h.y)).rgb * 2.0;
    g += texture(blur, uv + vec2(h.x, h.y)).rgb * 2.0;
    g += texture(blur, uv + vec2(h.x, -h.y)).rgb * 2.0;
    g += texture(blur, uv + vec2(-h.x, -h.y)).rgb * 2.0;
    g *= (1.0 / 12.0) * Glow;

    vec4 col = vec4(g, 1.0) + texture(base, uv);

    // A zero VignetteSize (frames that draw no content) gives t = 0 everywhere;
    // the guard keeps the centre pixel's 0 / 0 from turning into NaN.
    float d = distance(uv, vec2(0.5));
    float t = VignetteSize > 0.0 ? clamp((d - VignetteSize) / -VignetteSize, 0.0, 1.0) : 0.0;
    float s = t * t * (3.0 - 2.0 * t);
    float factor = 1.0 + Vignette * (s - 1.0);
    frag_color = vec4(col.rgb * factor, col.a);
}

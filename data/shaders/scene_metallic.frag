#version 450
// Metallic-roughness shading with four directional lights (a light's position
// is its direction from the origin), a 5 x 5 shadow lookup for light 0, the
// emissive term and a filmic tone curve. The shading normal comes from
// screen-space derivatives; there are no vertex tangents.
layout(std140, binding = 4) uniform light_params {
    vec4 light_pos[4];
    vec4 light_color[4];
    float extra;
    vec2 shadowMapSize;
    vec3 lightDir;
};
layout(std140, binding = 5) uniform metallic_params {
    vec4 base_color_factor;
    vec3 emissive_factor;
    float metallic_factor;
    float roughness_factor;
};
layout(binding = 0) uniform sampler2D normal_texture;
layout(binding = 1) uniform sampler2D metallic_roughness_texture;
layout(binding = 2) uniform sampler2D base_color_texture;
layout(binding = 3) uniform sampler2D emissive_texture;
layout(binding = 4) uniform sampler2D shadowMap;

layout(location = 0) in vec3 world_pos;
layout(location = 1) in vec3 world_normal;
layout(location = 2) in vec2 uv;
layout(location = 3) in vec4 shadow_coord;
layout(location = 4) flat in vec3 eye;
layout(location = 0) out vec4 frag_color;

const float PI = 3.14159265;

// A zero vector stays zero, as in the CPU matrix toolkit: an empty light slot
// or a degenerate tangent frame adds nothing instead of turning into NaN.
vec3 safe_normalize(vec3 v) {
    float d = dot(v, v);
    return d > 0.0 ? v * inversesqrt(d) : vec3(0.0);
}

void main() {
    vec4 mr = texture(metallic_roughness_texture, uv);
    float occlusion = mr.r;
    float roughness = clamp(mr.g * roughness_factor, 0.0, 1.0);
    float metallic = clamp(mr.b * metallic_factor, 0.0, 1.0);
    vec3 base = pow(texture(base_color_texture, uv).rgb, vec3(2.2)) * base_color_factor.rgb;

    vec3 F0 = (base - 0.04) * metallic + 0.04;
    vec3 diffuse = base * 0.96 * (1.0 - metallic);
    float F90 = clamp(max(F0.r, max(F0.g, F0.b)) * 50.0, 0.0, 1.0);
    float a = roughness * roughness;
    float a2 = a * a;

    // Tangent along increasing u. Only its direction is used, so the division
    // by the uv determinant becomes its sign (no infinity when uv is constant).
    vec3 dpdx = dFdx(world_pos);
    vec3 dpdy = dFdy(world_pos);
    vec2 duvdx = dFdx(uv);
    vec2 duvdy = dFdy(uv);
    float det = duvdx.x * duvdy.y - duvdy.x * duvdx.y;
    vec3 tp = (dpdx * duvdy.y - dpdy * duvdx.y) * sign(det);
    vec3 ng = safe_normalize(world_normal);
    vec3 t = safe_normalize(tp - ng * dot(ng, tp));
    vec3 b = safe_normalize(cross(ng, t));
    vec3 m = texture(normal_texture, uv).xyz * 2.0 - 1.0;
    vec3 n = safe_normalize(m.x * t + m.y * b + m.z * ng);

    vec3 v = safe_normalize(eye - world_pos);
    float NdotV = clamp(dot(n, v), 0.0, 1.0);
    float GV = sqrt(NdotV * NdotV * (1.0 - a2) + a2);

    vec3 s = shadow_coord.xyz / shadow_coord.w;
    float count = 0.0;
    for (int y = -2; y <= 2; ++y) {
        for (int x = -2; x <= 2; ++x) {
            vec2 at = vec2(s.x + float(x) / shadowMapSize.x, 1.0 - (s.y + float(y) / shadowMapSize.y));
            if (texture(shadowMap, at).r + 0.001 >= s.z) count += 1.0;
        }
    }
    float shadow = count * 0.04;

    vec3 color = vec3(0.0);
    for (int i = 0; i < 4; ++i) {
        vec3 l = safe_normalize(light_pos[i].xyz);
        vec3 h = safe_normalize(l + v);
        float NdotL = clamp(dot(n, l), 0.0, 1.0);
        float NdotH = clamp(dot(n, h), 0.0, 1.0);
        float VdotH = clamp(dot(v, h), 0.0, 1.0);
        vec3 F = F0 + (F90 - F0) * pow(1.0 - VdotH, 5.0);
        float q = NdotL * GV + NdotV * sqrt(NdotV * NdotL * (1.0 - a2) + a2);
        float Vis = q > 0.0 ? 0.5 / q : 0.0;
        float dd = NdotH * NdotH * (a2 - 1.0) + 1.0;
        // dd is 0 only for a mirror (a2 = 0) seen exactly along h, where 0 / 0 would be NaN.
        float D = dd > 0.0 ? a2 / (PI * dd * dd) : 0.0;
        vec3 k = NdotL * ((1.0 - F) * diffuse / PI + F * Vis * D);
        if (!(NdotL > 0.0 || NdotV > 0.0)) k = vec3(0.0);
        if (i == 0) k *= shadow;
        color += light_color[i].rgb * light_color[i].w * k;
    }

    color = color * occlusion + pow(texture(emissive_texture, uv).rgb, vec3(2.2)) * emissive_factor;

    // The curve's black level may round to a hair below zero: held at zero, as a
    // unorm target would store it.
    vec3 x = 2.0 * color;
    vec3 mapped = ((x * (0.3 * color + 0.05) + 0.004) / (x * (0.3 * color + 0.5) + 0.06) - 0.06666667) * 1.3790643;
    frag_color = vec4(pow(max(mapped, vec3(0.0)), vec3(0.45454547)), 1.0);
}

// The CPU records of every uniform block of the show's GPU programs.
//
// Each record is a std140 block laid out in 16-byte registers: a vector never
// straddles a register, a scalar after a float2 or float3 fills that register,
// a matrix takes four registers. Blocks are uploaded whole, so a record has
// exactly its block's size and every member sits at its block offset; the
// padding members are part of the record and are sent as zeros (value-initialise
// records: `fs_combine_params p{};`). Members marked "unread" are in the layout
// but read by no stage. The GLSL declarations in data/shaders match these.
#pragma once
#include <cstddef>

#include "render/math3d.h"

// A record that does not have its block's size or alignment does not compile.
#define VELMO_UNIFORM_BLOCK(record, bytes)                                                  \
    static_assert(sizeof(record) == (bytes), #record " must be " #bytes " bytes: blocks are uploaded whole"); \
    static_assert(sizeof(record) % 16 == 0, #record " must fill whole 16-byte registers")
#define VELMO_UNIFORM_MEMBER(record, member, offset) \
    static_assert(offsetof(record, member) == (offset), #record "::" #member " must sit at offset " #offset)

// "shadow_shader", vertex block 0.
struct vs_shadow_params {
    mat4 mvp;
};
VELMO_UNIFORM_BLOCK(vs_shadow_params, 64);
VELMO_UNIFORM_MEMBER(vs_shadow_params, mvp, 0);

// "down_shader", fragment block 0.
struct fs_down_params {
    vec2 HalfPixel;
    float _pad8[2];
};
VELMO_UNIFORM_BLOCK(fs_down_params, 16);
VELMO_UNIFORM_MEMBER(fs_down_params, HalfPixel, 0);

// "up_shader", fragment block 0.
struct fs_up_params {
    vec2 HalfPixel;
    float _pad8[2];
};
VELMO_UNIFORM_BLOCK(fs_up_params, 16);
VELMO_UNIFORM_MEMBER(fs_up_params, HalfPixel, 0);

// "combine_shader", vertex block 0: the presentation rectangle, window-normalised, origin top-left.
struct vs_combine_params {
    vec4 rect;
};
VELMO_UNIFORM_BLOCK(vs_combine_params, 16);
VELMO_UNIFORM_MEMBER(vs_combine_params, rect, 0);

// "combine_shader", fragment block 0.
struct fs_combine_params {
    vec2 HalfPixel;
    float Glow;
    float Vignette;
    float VignetteSize;
    float _pad20[3];
};
VELMO_UNIFORM_BLOCK(fs_combine_params, 32);
VELMO_UNIFORM_MEMBER(fs_combine_params, HalfPixel, 0);
VELMO_UNIFORM_MEMBER(fs_combine_params, Glow, 8);
VELMO_UNIFORM_MEMBER(fs_combine_params, Vignette, 12);
VELMO_UNIFORM_MEMBER(fs_combine_params, VignetteSize, 16);

// "gradient_shader", fragment block 0.
struct fs_gradient_params {
    vec4 color0;
    vec4 color1;
    vec2 dir;
    float phase;
    float _pad44;
};
VELMO_UNIFORM_BLOCK(fs_gradient_params, 48);
VELMO_UNIFORM_MEMBER(fs_gradient_params, color0, 0);
VELMO_UNIFORM_MEMBER(fs_gradient_params, color1, 16);
VELMO_UNIFORM_MEMBER(fs_gradient_params, dir, 32);
VELMO_UNIFORM_MEMBER(fs_gradient_params, phase, 40);

// "aztec_shader", fragment block 0.
struct fs_aztec_params {
    vec4 color0;  // unread
    vec4 color1;  // unread
    vec2 dir;     // unread
    float u_angle;
    float u_rows;
    float u_time;
    float u_thresh;
    float _pad56[2];
};
VELMO_UNIFORM_BLOCK(fs_aztec_params, 64);
VELMO_UNIFORM_MEMBER(fs_aztec_params, color0, 0);
VELMO_UNIFORM_MEMBER(fs_aztec_params, color1, 16);
VELMO_UNIFORM_MEMBER(fs_aztec_params, dir, 32);
VELMO_UNIFORM_MEMBER(fs_aztec_params, u_angle, 40);
VELMO_UNIFORM_MEMBER(fs_aztec_params, u_rows, 44);
VELMO_UNIFORM_MEMBER(fs_aztec_params, u_time, 48);
VELMO_UNIFORM_MEMBER(fs_aztec_params, u_thresh, 52);

// "image_grad_shader", vertex block 0.
struct vs_image_params {
    vec2 pos;
    vec2 scale;
    float angle;
    float aspect;
    float _pad24[2];
};
VELMO_UNIFORM_BLOCK(vs_image_params, 32);
VELMO_UNIFORM_MEMBER(vs_image_params, pos, 0);
VELMO_UNIFORM_MEMBER(vs_image_params, scale, 8);
VELMO_UNIFORM_MEMBER(vs_image_params, angle, 16);
VELMO_UNIFORM_MEMBER(vs_image_params, aspect, 20);

// "image_grad_shader", fragment block 0.
struct fs_image_grad_params {
    vec4 color_a;
    vec4 color_b;
    float phase;
    float _pad36[3];
};
VELMO_UNIFORM_BLOCK(fs_image_grad_params, 48);
VELMO_UNIFORM_MEMBER(fs_image_grad_params, color_a, 0);
VELMO_UNIFORM_MEMBER(fs_image_grad_params, color_b, 16);
VELMO_UNIFORM_MEMBER(fs_image_grad_params, phase, 32);

// "shape_shader", vertex block 0.
struct vs_shape_params {
    mat4 wvp;
    vec3 cam_pos;       // unread
    float thick;
    float pixel_scale;  // unread
    float _pad84[3];
};
VELMO_UNIFORM_BLOCK(vs_shape_params, 96);
VELMO_UNIFORM_MEMBER(vs_shape_params, wvp, 0);
VELMO_UNIFORM_MEMBER(vs_shape_params, cam_pos, 64);
VELMO_UNIFORM_MEMBER(vs_shape_params, thick, 76);
VELMO_UNIFORM_MEMBER(vs_shape_params, pixel_scale, 80);

// "scene_metallic_shader", vertex block 0.
struct vs_params {
    mat4 world;
    mat4 view_proj;
    mat4 light_wvp;
    vec3 eye_pos;
    float _pad204;
};
VELMO_UNIFORM_BLOCK(vs_params, 208);
VELMO_UNIFORM_MEMBER(vs_params, world, 0);
VELMO_UNIFORM_MEMBER(vs_params, view_proj, 64);
VELMO_UNIFORM_MEMBER(vs_params, light_wvp, 128);
VELMO_UNIFORM_MEMBER(vs_params, eye_pos, 192);

// "scene_metallic_shader", fragment block 0.
struct light_params {
    vec4 light_pos[4];
    vec4 light_color[4];
    float extra;  // unread
    float _pad132;
    vec2 shadowMapSize;
    vec3 lightDir;  // unread
    float _pad156;
};
VELMO_UNIFORM_BLOCK(light_params, 160);
VELMO_UNIFORM_MEMBER(light_params, light_pos, 0);
VELMO_UNIFORM_MEMBER(light_params, light_color, 64);
VELMO_UNIFORM_MEMBER(light_params, extra, 128);
VELMO_UNIFORM_MEMBER(light_params, shadowMapSize, 136);
VELMO_UNIFORM_MEMBER(light_params, lightDir, 144);

// "scene_metallic_shader", fragment block 1.
struct metallic_params {
    vec4 base_color_factor;
    vec3 emissive_factor;
    float metallic_factor;
    float roughness_factor;
    float _pad36[3];
};
VELMO_UNIFORM_BLOCK(metallic_params, 48);
VELMO_UNIFORM_MEMBER(metallic_params, base_color_factor, 0);
VELMO_UNIFORM_MEMBER(metallic_params, emissive_factor, 16);
VELMO_UNIFORM_MEMBER(metallic_params, metallic_factor, 28);
VELMO_UNIFORM_MEMBER(metallic_params, roughness_factor, 32);

// Texture synthesis for the model tool: tileable noise, and the three images of
// a material (base colour, occlusion-roughness-metallic, tangent-space normal)
// computed from one function of the texture coordinate and encoded as PNG or JPEG.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mesh.h"

// Noise in [0, 1] that tiles: the lattice repeats every `period` cells, and
// (x, y) in [0, period) covers one tile. fbm doubles frequency and period per octave.
float value_noise(float x, float y, int period, uint32_t seed);
float fbm(float x, float y, int period, int octaves, uint32_t seed);
// Distance to the nearest of a tiling scatter of points (cellular noise), in
// cells; `id` receives a number in [0, 1) that names the nearest point.
float cell_distance(float x, float y, int period, uint32_t seed, float* id = nullptr);

float smoothstep(float e0, float e1, float x);
float clamp01(float x);
V3 mix(V3 a, V3 b, float t);
V3 rgb(int r, int g, int b);  // 8-bit sRGB to 0..1

// What a material shows at one point of its texture.
struct Texel {
    V3 color{1, 1, 1};     // sRGB base colour, 0..1
    float height = 0;      // relief, in texture widths (a bump of 0.01 is 1 % of the width)
    float occlusion = 1;   // 1: fully lit
    float roughness = 0.6f;
    float metallic = 0;
};
using TexelFn = std::function<Texel(float u, float v)>;

enum class ImageFormat { png, jpeg };

struct EncodedImage {
    std::string mime_type;  // "image/png" or "image/jpeg"
    int width = 0, height = 0;
    std::vector<uint8_t> bytes;
};

struct MaterialImages {
    EncodedImage normal, base_color, metallic_roughness;
};

// Samples f at every texel centre of a size × size texture (u, v in [0, 1)),
// derives the normal map from the height (wrapping at the borders) and encodes
// the three images. The normal map is tangent-space: red along +u, green up the
// image (against v), blue out of the surface.
MaterialImages make_material(int size, ImageFormat format, const TexelFn& f);

// An 8-bit greyscale picture, used for lettering.
struct Greyscale {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    float at(float u, float v) const;  // bilinear, clamped at the edges, 0..1
};

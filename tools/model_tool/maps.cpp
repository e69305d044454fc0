#include "maps.h"

#include <algorithm>
#include <cmath>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace {

uint32_t hash3(int x, int y, uint32_t seed) {
    uint32_t h = static_cast<uint32_t>(x) * 0x8da6b343u ^ static_cast<uint32_t>(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

float hash_unit(int x, int y, uint32_t seed) { return static_cast<float>(hash3(x, y, seed) >> 8) / 16777216.0f; }

int wrap(int i, int period) {
    int m = i % period;
    return m < 0 ? m + period : m;
}

}  // namespace

float smoothstep(float e0, float e1, float x) {
    float t = std::clamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}

float clamp01(float x) { return std::clamp(x, 0.0f, 1.0f); }

V3 mix(V3 a, V3 b, float t) { return a + (b - a) * t; }

V3 rgb(int r, int g, int b) { return {r / 255.0f, g / 255.0f, b / 255.0f}; }

float value_noise(float x, float y, int period, uint32_t seed) {
    float fx = std::floor(x), fy = std::floor(y);
    int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    float tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    int x0 = wrap(ix, period), x1 = wrap(ix + 1, period), y0 = wrap(iy, period), y1 = wrap(iy + 1, period);
    float a = hash_unit(x0, y0, seed), b = hash_unit(x1, y0, seed);
    float c = hash_unit(x0, y1, seed), d = hash_unit(x1, y1, seed);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

float fbm(float x, float y, int period, int octaves, uint32_t seed) {
    float sum = 0, amplitude = 0.5f, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * value_noise(x, y, period, seed + o * 101u);
        norm += amplitude;
        x *= 2, y *= 2, period *= 2, amplitude *= 0.5f;
    }
    return sum / norm;
}

float cell_distance(float x, float y, int period, uint32_t seed, float* id) {
    int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
    float best = 1e9f, best_id = 0;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            int cx = ix + dx, cy = iy + dy;
            int wx = wrap(cx, period), wy = wrap(cy, period);
            float px = cx + hash_unit(wx, wy, seed), py = cy + hash_unit(wx, wy, seed + 7u);
            float d = std::hypot(px - x, py - y);
            if (d < best) best = d, best_id = hash_unit(wx, wy, seed + 13u);
        }
    }
    if (id) *id = best_id;
    return best;
}

float Greyscale::at(float u, float v) const {
    if (width == 0 || height == 0) return 0;
    float x = std::clamp(u * width - 0.5f, 0.0f, width - 1.0f);
    float y = std::clamp(v * height - 0.5f, 0.0f, height - 1.0f);
    int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    int x1 = std::min(x0 + 1, width - 1), y1 = std::min(y0 + 1, height - 1);
    float tx = x - x0, ty = y - y0;
    auto p = [&](int px, int py) { return pixels[static_cast<size_t>(py) * width + px] / 255.0f; };
    float top = p(x0, y0) + (p(x1, y0) - p(x0, y0)) * tx;
    float bottom = p(x0, y1) + (p(x1, y1) - p(x0, y1)) * tx;
    return top + (bottom - top) * ty;
}

namespace {

void append_bytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    auto* bytes = static_cast<uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

EncodedImage encode(int size, ImageFormat format, const std::vector<uint8_t>& rgb) {
    EncodedImage image;
    image.width = image.height = size;
    if (format == ImageFormat::png) {
        image.mime_type = "image/png";
        stbi_write_png_to_func(append_bytes, &image.bytes, size, size, 3, rgb.data(), size * 3);
    } else {
        image.mime_type = "image/jpeg";
        stbi_write_jpg_to_func(append_bytes, &image.bytes, size, size, 3, rgb.data(), 90);
    }
    return image;
}

uint8_t to_byte(float x) { return static_cast<uint8_t>(std::lround(clamp01(x) * 255.0f)); }

}  // namespace

MaterialImages make_material(int size, ImageFormat format, const TexelFn& f) {
    const size_t count = static_cast<size_t>(size) * size;
    std::vector<uint8_t> base(count * 3), mr(count * 3), normal(count * 3);
    std::vector<float> height(count);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            Texel t = f((x + 0.5f) / size, (y + 0.5f) / size);
            size_t i = static_cast<size_t>(y) * size + x;
            base[i * 3 + 0] = to_byte(t.color.x);
            base[i * 3 + 1] = to_byte(t.color.y);
            base[i * 3 + 2] = to_byte(t.color.z);
            mr[i * 3 + 0] = to_byte(t.occlusion);
            mr[i * 3 + 1] = to_byte(t.roughness);
            mr[i * 3 + 2] = to_byte(t.metallic);
            height[i] = t.height;
        }
    }
    // Slopes in height per texture width; the image's rows run down, so the
    // green channel (up the image) takes the slope toward the previous row.
    const float half_step = 0.5f * size;
    for (int y = 0; y < size; ++y) {
        int up = (y + size - 1) % size, down = (y + 1) % size;
        for (int x = 0; x < size; ++x) {
            int left = (x + size - 1) % size, right = (x + 1) % size;
            float du = (height[static_cast<size_t>(y) * size + right] - height[static_cast<size_t>(y) * size + left]) * half_step;
            float dup = (height[static_cast<size_t>(up) * size + x] - height[static_cast<size_t>(down) * size + x]) * half_step;
            V3 n = normalize({-du, -dup, 1});
            size_t i = static_cast<size_t>(y) * size + x;
            normal[i * 3 + 0] = to_byte(n.x * 0.5f + 0.5f);
            normal[i * 3 + 1] = to_byte(n.y * 0.5f + 0.5f);
            normal[i * 3 + 2] = to_byte(n.z * 0.5f + 0.5f);
        }
    }
    MaterialImages images;
    images.normal = encode(size, format, normal);
    images.base_color = encode(size, format, base);
    images.metallic_roughness = encode(size, format, mr);
    return images;
}

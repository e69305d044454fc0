// Small binary glTF files written by the tests themselves: meshes, materials,
// textures and images in one GLB, and the raw pieces (JSON document, binary
// chunk) open to edits, so that a test can break exactly one property.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <memory>

#include <nlohmann/json.hpp>

#include "scene/model.h"

// A loaded model that releases itself.
struct ModelFree {
    void operator()(Model* model) const { free_model(model); }
};
using ModelPtr = std::unique_ptr<Model, ModelFree>;

struct Vertex {
    float position[3];
    float normal[3];
    float uv[2];
};

struct GlbBuilder {
    nlohmann::json doc;        // asset, buffers and everything the add_* calls make
    std::vector<uint8_t> bin;  // the binary chunk's payload

    GlbBuilder();

    // A buffer view over a copy of the bytes, 4-byte aligned in the chunk.
    int add_view(const void* bytes, size_t size);
    int add_accessor(int view, int component_type, size_t count, const char* type);
    // An image held in a buffer view.
    int add_image(const std::vector<uint8_t>& encoded, const char* mime = "image/png");
    // An image given by file name.
    int add_image_uri(const std::string& uri);
    int add_texture(int image);
    int add_material(const nlohmann::json& material);
    // One mesh with one triangle primitive: POSITION, NORMAL, TEXCOORD_0 and
    // 16-bit indices, each accessor in its own view; material -1 for none.
    int add_mesh(const std::string& name, const std::vector<Vertex>& vertices, const std::vector<uint16_t>& indices,
                 int material);
    int add_node(const std::string& name, int mesh = -1);

    // The GLB: header, JSON chunk (space padded), binary chunk (zero padded).
    std::vector<uint8_t> build() const;
};

// An encoded w × h PNG of one colour.
std::vector<uint8_t> solid_png(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255);

// A flat rectangle centred on `center`, spanned by half-axes u_axis (towards
// texture u = 1) and v_axis (towards v = 1), with `normal` on every vertex and
// its two triangles wound counter-clockwise as seen from the normal's side.
struct Quad {
    std::vector<Vertex> vertices;
    std::vector<uint16_t> indices;
};
Quad make_quad(const float center[3], const float u_axis[3], const float v_axis[3], const float normal[3]);

// A closed box of 8 corners (a convex hull and a small triangle mesh).
Quad make_box(float half_x, float half_y, float half_z);

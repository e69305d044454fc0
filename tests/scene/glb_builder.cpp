#include "glb_builder.h"

#include <cstring>

#include <stb_image_write.h>

using nlohmann::json;

GlbBuilder::GlbBuilder() {
    doc["asset"] = {{"version", "2.0"}};
    doc["buffers"] = json::array({json{{"byteLength", 0}}});
    for (const char* key : {"bufferViews", "accessors", "images", "textures", "materials", "meshes", "nodes"})
        doc[key] = json::array();
}

int GlbBuilder::add_view(const void* bytes, size_t size) {
    while (bin.size() % 4) bin.push_back(0);
    size_t offset = bin.size();
    const uint8_t* b = static_cast<const uint8_t*>(bytes);
    bin.insert(bin.end(), b, b + size);
    doc["bufferViews"].push_back({{"buffer", 0}, {"byteOffset", offset}, {"byteLength", size}});
    return static_cast<int>(doc["bufferViews"].size()) - 1;
}

int GlbBuilder::add_accessor(int view, int component_type, size_t count, const char* type) {
    doc["accessors"].push_back({{"bufferView", view}, {"componentType", component_type}, {"count", count}, {"type", type}});
    return static_cast<int>(doc["accessors"].size()) - 1;
}

int GlbBuilder::add_image(const std::vector<uint8_t>& encoded, const char* mime) {
    int view = add_view(encoded.data(), encoded.size());
    doc["images"].push_back({{"bufferView", view}, {"mimeType", mime}});
    return static_cast<int>(doc["images"].size()) - 1;
}

int GlbBuilder::add_image_uri(const std::string& uri) {
    doc["images"].push_back({{"uri", uri}});
    return static_cast<int>(doc["images"].size()) - 1;
}

int GlbBuilder::add_texture(int image) {
    doc["textures"].push_back({{"source", image}});
    return static_cast<int>(doc["textures"].size()) - 1;
}

int GlbBuilder::add_material(const json& material) {
    doc["materials"].push_back(material);
    return static_cast<int>(doc["materials"].size()) - 1;
}

int GlbBuilder::add_mesh(const std::string& name, const std::vector<Vertex>& vertices,
                         const std::vector<uint16_t>& indices, int material) {
    std::vector<float> positions, normals, uvs;
    for (const Vertex& v : vertices) {
        positions.insert(positions.end(), v.position, v.position + 3);
        normals.insert(normals.end(), v.normal, v.normal + 3);
        uvs.insert(uvs.end(), v.uv, v.uv + 2);
    }
    constexpr int f32 = 5126, u16 = 5123;
    int index_accessor = add_accessor(add_view(indices.data(), indices.size() * 2), u16, indices.size(), "SCALAR");
    int position = add_accessor(add_view(positions.data(), positions.size() * 4), f32, vertices.size(), "VEC3");
    int normal = add_accessor(add_view(normals.data(), normals.size() * 4), f32, vertices.size(), "VEC3");
    int uv = add_accessor(add_view(uvs.data(), uvs.size() * 4), f32, vertices.size(), "VEC2");
    json primitive = {{"attributes", {{"POSITION", position}, {"NORMAL", normal}, {"TEXCOORD_0", uv}}},
                      {"indices", index_accessor}};
    if (material >= 0) primitive["material"] = material;
    doc["meshes"].push_back({{"name", name}, {"primitives", json::array({primitive})}});
    return static_cast<int>(doc["meshes"].size()) - 1;
}

int GlbBuilder::add_node(const std::string& name, int mesh) {
    json node = {{"name", name}};
    if (mesh >= 0) node["mesh"] = mesh;
    doc["nodes"].push_back(node);
    return static_cast<int>(doc["nodes"].size()) - 1;
}

namespace {
void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    std::memcpy(b, &v, 4);
    out.insert(out.end(), b, b + 4);
}
}  // namespace

std::vector<uint8_t> GlbBuilder::build() const {
    json d = doc;
    std::vector<uint8_t> payload = bin;
    while (payload.size() % 4) payload.push_back(0);
    if (d["buffers"].size() == 1 && d["buffers"][0].size() == 1) d["buffers"][0]["byteLength"] = bin.size();
    std::string text = d.dump();
    while (text.size() % 4) text.push_back(' ');
    std::vector<uint8_t> out;
    put_u32(out, 0x46546C67);  // "glTF"
    put_u32(out, 2);
    put_u32(out, static_cast<uint32_t>(12 + 8 + text.size() + 8 + payload.size()));
    put_u32(out, static_cast<uint32_t>(text.size()));
    put_u32(out, 0x4E4F534A);  // "JSON"
    out.insert(out.end(), text.begin(), text.end());
    put_u32(out, static_cast<uint32_t>(payload.size()));
    put_u32(out, 0x004E4942);  // "BIN"
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::vector<uint8_t> solid_png(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = r;
        pixels[i + 1] = g;
        pixels[i + 2] = b;
        pixels[i + 3] = a;
    }
    std::vector<uint8_t> encoded;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            auto* out = static_cast<std::vector<uint8_t>*>(context);
            out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
        },
        &encoded, w, h, 4, pixels.data(), w * 4);
    return encoded;
}

Quad make_quad(const float c[3], const float u[3], const float v[3], const float n[3]) {
    Quad q;
    const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (const auto& uv : corners) {
        Vertex vert{};
        for (int i = 0; i < 3; ++i) {
            vert.position[i] = c[i] + (2 * uv[0] - 1) * u[i] + (2 * uv[1] - 1) * v[i];
            vert.normal[i] = n[i];
        }
        vert.uv[0] = uv[0];
        vert.uv[1] = uv[1];
        q.vertices.push_back(vert);
    }
    float cross[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    bool ccw = cross[0] * n[0] + cross[1] * n[1] + cross[2] * n[2] > 0;
    q.indices = ccw ? std::vector<uint16_t>{0, 1, 2, 0, 2, 3} : std::vector<uint16_t>{0, 2, 1, 0, 3, 2};
    return q;
}

Quad make_box(float hx, float hy, float hz) {
    Quad q;
    for (int i = 0; i < 8; ++i) {
        Vertex v{};
        v.position[0] = (i & 1) ? hx : -hx;
        v.position[1] = (i & 2) ? hy : -hy;
        v.position[2] = (i & 4) ? hz : -hz;
        v.normal[1] = 1;
        q.vertices.push_back(v);
    }
    // Two triangles per face, outward.
    q.indices = {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                 2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5};
    return q;
}

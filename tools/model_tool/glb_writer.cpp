#include "glb_writer.h"

#include <cstring>
#include <nlohmann/json.hpp>

using json = nlohmann::ordered_json;

int ModelFile::add_material(const std::string& name, MaterialImages maps) {
    int first = static_cast<int>(images.size());
    images.push_back(std::move(maps.normal));
    images.push_back(std::move(maps.base_color));
    images.push_back(std::move(maps.metallic_roughness));
    materials.push_back({name, first, first + 1, first + 2});
    return static_cast<int>(materials.size()) - 1;
}

int ModelFile::add_material_sharing_normal(const std::string& name, int normal_image, MaterialImages maps) {
    int first = static_cast<int>(images.size());
    images.push_back(std::move(maps.base_color));
    images.push_back(std::move(maps.metallic_roughness));
    materials.push_back({name, normal_image, first, first + 1});
    return static_cast<int>(materials.size()) - 1;
}

void ModelFile::add_mesh_node(const std::string& name, Mesh mesh, int material, V3 translation,
                              const float* rotation) {
    ModelNode node;
    node.name = name;
    node.mesh = static_cast<int>(meshes.size());
    node.translation = translation;
    if (rotation) std::memcpy(node.rotation, rotation, sizeof node.rotation);
    meshes.push_back(std::move(mesh));
    mesh_material.push_back(material);
    nodes.push_back(node);
}

void ModelFile::add_light_and_camera(V3 light, V3 camera) {
    ModelNode l;
    l.name = "Light";
    l.translation = light;
    nodes.push_back(l);
    ModelNode c;
    c.name = "Camera";
    c.translation = camera;
    nodes.push_back(c);
}

namespace {

struct BinaryChunk {
    std::vector<uint8_t> bytes;
    json views = json::array();

    // Appends data as a new buffer view, starting at a 4-byte boundary.
    int add_view(const void* data, size_t size, int target) {
        while (bytes.size() % 4) bytes.push_back(0);
        json view = {{"buffer", 0}, {"byteOffset", bytes.size()}, {"byteLength", size}};
        if (target) view["target"] = target;
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + size);
        views.push_back(view);
        return static_cast<int>(views.size()) - 1;
    }
};

constexpr int kArrayBuffer = 34962, kElementArrayBuffer = 34963;
constexpr int kFloat = 5126, kUnsignedShort = 5123;

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

json vec(V3 v) { return json::array({v.x, v.y, v.z}); }

}  // namespace

std::vector<uint8_t> write_glb(const ModelFile& model, std::string* error) {
    BinaryChunk bin;
    json accessors = json::array(), meshes = json::array();
    for (size_t m = 0; m < model.meshes.size(); ++m) {
        const Mesh& mesh = model.meshes[m];
        size_t vertices = mesh.positions.size();
        if (vertices == 0 || vertices > 65536 || mesh.indices.empty() || mesh.indices.size() % 3) {
            *error = "mesh " + std::to_string(m) + ": " + std::to_string(vertices) + " vertices and " +
                     std::to_string(mesh.indices.size()) + " indices do not make 16-bit triangles";
            return {};
        }
        for (uint16_t i : mesh.indices) {
            if (i >= vertices) {
                *error = "mesh " + std::to_string(m) + ": index " + std::to_string(i) + " past its " +
                         std::to_string(vertices) + " vertices";
                return {};
            }
        }
        V3 lo, hi;
        bounds(mesh, &lo, &hi);
        int base = static_cast<int>(accessors.size());
        int view = bin.add_view(mesh.indices.data(), mesh.indices.size() * 2, kElementArrayBuffer);
        accessors.push_back({{"bufferView", view}, {"componentType", kUnsignedShort},
                             {"count", mesh.indices.size()}, {"type", "SCALAR"}});
        view = bin.add_view(mesh.positions.data(), vertices * 12, kArrayBuffer);
        accessors.push_back({{"bufferView", view}, {"componentType", kFloat}, {"count", vertices},
                             {"type", "VEC3"}, {"min", vec(lo)}, {"max", vec(hi)}});
        view = bin.add_view(mesh.normals.data(), vertices * 12, kArrayBuffer);
        accessors.push_back({{"bufferView", view}, {"componentType", kFloat}, {"count", vertices}, {"type", "VEC3"}});
        view = bin.add_view(mesh.uvs.data(), vertices * 8, kArrayBuffer);
        accessors.push_back({{"bufferView", view}, {"componentType", kFloat}, {"count", vertices}, {"type", "VEC2"}});
        json attributes = json::object();
        attributes["POSITION"] = base + 1;
        attributes["NORMAL"] = base + 2;
        attributes["TEXCOORD_0"] = base + 3;
        meshes.push_back({{"name", ""},
                          {"primitives", json::array({{{"attributes", attributes},
                                                       {"indices", base},
                                                       {"material", model.mesh_material[m]}}})}});
    }
    // Meshes take the names of the nodes that carry them.
    for (const ModelNode& node : model.nodes)
        if (node.mesh >= 0) meshes[node.mesh]["name"] = node.name;

    json images = json::array();
    for (const EncodedImage& image : model.images) {
        int view = bin.add_view(image.bytes.data(), image.bytes.size(), 0);
        images.push_back({{"bufferView", view}, {"mimeType", image.mime_type}});
    }

    json textures = json::array(), materials = json::array();
    for (const ModelMaterial& material : model.materials) {
        int normal = static_cast<int>(textures.size());
        textures.push_back({{"sampler", 0}, {"source", material.normal_image}});
        textures.push_back({{"sampler", 0}, {"source", material.base_color_image}});
        textures.push_back({{"sampler", 0}, {"source", material.metallic_roughness_image}});
        materials.push_back({{"name", material.name},
                             {"pbrMetallicRoughness",
                              {{"baseColorTexture", {{"index", normal + 1}}},
                               {"metallicRoughnessTexture", {{"index", normal + 2}}}}},
                             {"normalTexture", {{"index", normal}}}});
    }

    json nodes = json::array(), scene_nodes = json::array();
    for (size_t i = 0; i < model.nodes.size(); ++i) {
        const ModelNode& n = model.nodes[i];
        json node = {{"name", n.name}};
        if (n.mesh >= 0) node["mesh"] = n.mesh;
        const float* r = n.rotation;
        if (r[0] != 0 || r[1] != 0 || r[2] != 0 || r[3] != 1) node["rotation"] = json::array({r[0], r[1], r[2], r[3]});
        if (n.translation.x != 0 || n.translation.y != 0 || n.translation.z != 0) node["translation"] = vec(n.translation);
        nodes.push_back(node);
        scene_nodes.push_back(i);
    }

    json doc;
    doc["asset"] = {{"generator", "velmo model tool"}, {"version", "2.0"}};
    doc["scene"] = 0;
    doc["scenes"] = json::array({{{"name", "Scene"}, {"nodes", scene_nodes}}});
    doc["nodes"] = nodes;
    doc["meshes"] = meshes;
    doc["materials"] = materials;
    doc["textures"] = textures;
    doc["samplers"] = json::array({{{"magFilter", 9729}, {"minFilter", 9987}, {"wrapS", 10497}, {"wrapT", 10497}}});
    doc["images"] = images;
    doc["accessors"] = accessors;
    doc["bufferViews"] = bin.views;
    while (bin.bytes.size() % 4) bin.bytes.push_back(0);
    doc["buffers"] = json::array({{{"byteLength", bin.bytes.size()}}});

    std::string text = doc.dump();
    while (text.size() % 4) text.push_back(' ');

    std::vector<uint8_t> out;
    put_u32(out, 0x46546C67);  // "glTF"
    put_u32(out, 2);
    put_u32(out, static_cast<uint32_t>(12 + 8 + text.size() + 8 + bin.bytes.size()));
    put_u32(out, static_cast<uint32_t>(text.size()));
    put_u32(out, 0x4E4F534A);  // "JSON"
    out.insert(out.end(), text.begin(), text.end());
    put_u32(out, static_cast<uint32_t>(bin.bytes.size()));
    put_u32(out, 0x004E4942);  // "BIN\0"
    out.insert(out.end(), bin.bytes.begin(), bin.bytes.end());
    return out;
}

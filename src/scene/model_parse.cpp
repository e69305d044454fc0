#include "scene/model_parse.h"

#include "platform/printable_text.h"
#include "scene/model.h"

#include <cstring>
#include <exception>
#include <limits>

#include <nlohmann/json.hpp>

namespace {

// ---- the GLB container ----

uint32_t read_u32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The container's own lengths, checked before the parser sees the bytes: every
// chunk, header included, must lie inside both the declared length and the data.
bool check_glb_container(const uint8_t* data, size_t size, std::string& error) {
    if (size > std::numeric_limits<uint32_t>::max()) {
        error = "larger than a binary glTF file can be";
        return false;
    }
    if (size < 20 || std::memcmp(data, "glTF", 4) != 0) {
        error = "not a binary glTF file (no \"glTF\" header)";
        return false;
    }
    uint64_t length = read_u32(data + 8);
    if (length > size) {
        error = "declares " + std::to_string(length) + " bytes but holds " + std::to_string(size);
        return false;
    }
    uint64_t json_end = 20ull + read_u32(data + 12);
    if (json_end > length) {
        error = "JSON chunk reaches past the end of the file";
        return false;
    }
    if (json_end + 8 <= length) {
        uint64_t bin_end = json_end + 8 + read_u32(data + json_end);
        if (bin_end > length) {
            error = "binary chunk reaches past the end of the file";
            return false;
        }
    }
    return true;
}

// tinygltf's image hook: nothing is decoded here. Images held in a data URI
// keep their encoded bytes in `image` for decode_model_image; images in buffer
// views are read from the views after parsing.
bool keep_encoded_image(tinygltf::Image* image, const int, std::string*, std::string*, int, int,
                        const unsigned char* bytes, int size, void*) {
    if (image->bufferView < 0 && bytes && size > 0) image->image.assign(bytes, bytes + size);
    return true;
}

// The parser never touches the file system: files named by a model are read
// through the platform fetcher instead.
bool no_file_exists(const std::string&, void*) { return false; }
std::string keep_path(const std::string& path, void*) { return path; }
bool no_file_read(std::vector<unsigned char>*, std::string* err, const std::string& path, void*) {
    if (err) *err += "external file \"" + path + "\" is not read by the parser\n";
    return false;
}
bool no_file_write(std::string*, const std::string&, const std::vector<unsigned char>&, void*) { return false; }

std::string first_line(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    return line.empty() ? "the glTF parser refused it" : line;
}

// Which materials have a metallic-roughness block. The parser fills in the
// glTF defaults either way, so presence is read from the JSON chunk itself.
std::vector<bool> materials_with_pbr_block(const uint8_t* data) {
    std::vector<bool> present;
    const char* json_begin = reinterpret_cast<const char*>(data + 20);
    nlohmann::json root = nlohmann::json::parse(json_begin, json_begin + read_u32(data + 12), nullptr, false);
    if (!root.is_object() || !root.contains("materials") || !root["materials"].is_array()) return present;
    for (const nlohmann::json& m : root["materials"])
        present.push_back(m.is_object() && m.contains("pbrMetallicRoughness"));
    return present;
}

// ---- what the loader relies on ----

constexpr int component_float = TINYGLTF_COMPONENT_TYPE_FLOAT;
constexpr int component_u16 = TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;

// Checks that accessor `index` has the given element type and lies, tightly
// packed, inside its view, which lies inside its buffer.
bool check_accessor(const tinygltf::Model& gltf, int index, int component, int type, size_t element_size,
                    const std::string& what, std::string& error, AccessorSpan* span) {
    std::string name = what + " accessor " + std::to_string(index);
    if (index < 0 || static_cast<size_t>(index) >= gltf.accessors.size()) {
        error = name + " does not exist";
        return false;
    }
    const tinygltf::Accessor& a = gltf.accessors[index];
    if (a.componentType != component || a.type != type) {
        error = name + (component == component_u16 ? " is not 16-bit unsigned" : " has the wrong element type");
        return false;
    }
    if (a.sparse.isSparse || a.bufferView < 0 || static_cast<size_t>(a.bufferView) >= gltf.bufferViews.size()) {
        error = name + " has no buffer view";
        return false;
    }
    const tinygltf::BufferView& view = gltf.bufferViews[a.bufferView];
    if (view.byteStride != 0 && static_cast<size_t>(view.byteStride) != element_size) {
        error = name + " is not tightly packed";
        return false;
    }
    if (a.count > (std::numeric_limits<size_t>::max() - a.byteOffset) / element_size ||
        a.byteOffset + a.count * element_size > view.byteLength) {
        error = name + " reaches past its buffer view";
        return false;
    }
    if (span) {
        const tinygltf::Buffer& buffer = gltf.buffers[view.buffer];
        span->bytes = buffer.data.data() + view.byteOffset + a.byteOffset;
        span->count = a.count;
    }
    return true;
}

bool check_texture(const tinygltf::Model& gltf, int texture, std::string& error) {
    if (texture < 0) return true;
    if (static_cast<size_t>(texture) >= gltf.textures.size()) {
        error = "texture " + std::to_string(texture) + " does not exist";
        return false;
    }
    int source = gltf.textures[texture].source;
    if (source >= 0 && static_cast<size_t>(source) >= gltf.images.size()) {
        error = "texture " + std::to_string(texture) + " names image " + std::to_string(source) +
                ", which does not exist";
        return false;
    }
    return true;
}

// Checks every property the loader reads and gathers each primitive's
// geometry, mesh by mesh; false with `error` at the first broken one.
bool check_model(const tinygltf::Model& gltf, std::vector<std::vector<PrimitiveData>>& meshes, std::string& error) {
    for (size_t i = 0; i < gltf.bufferViews.size(); ++i) {
        const tinygltf::BufferView& v = gltf.bufferViews[i];
        if (v.buffer < 0 || static_cast<size_t>(v.buffer) >= gltf.buffers.size() ||
            v.byteOffset > gltf.buffers[v.buffer].data.size() ||
            v.byteLength > gltf.buffers[v.buffer].data.size() - v.byteOffset) {
            error = "buffer view " + std::to_string(i) + " reaches past its buffer";
            return false;
        }
    }
    if (gltf.images.size() > static_cast<size_t>(model_max_images)) {
        error = std::to_string(gltf.images.size()) + " images, more than " + std::to_string(model_max_images);
        return false;
    }
    for (const tinygltf::Material& m : gltf.materials) {
        if (m.pbrMetallicRoughness.baseColorFactor.size() != 4 || m.emissiveFactor.size() != 3) {
            error = "material \"" + printable_text(m.name) + "\" has a factor of the wrong length";
            return false;
        }
        for (int t : {m.pbrMetallicRoughness.baseColorTexture.index,
                      m.pbrMetallicRoughness.metallicRoughnessTexture.index, m.normalTexture.index,
                      m.emissiveTexture.index})
            if (!check_texture(gltf, t, error)) return false;
    }
    for (const tinygltf::Node& node : gltf.nodes) {
        if (node.mesh >= 0 && static_cast<size_t>(node.mesh) >= gltf.meshes.size()) {
            error = "node \"" + printable_text(node.name) + "\" names mesh " + std::to_string(node.mesh) + ", which does not exist";
            return false;
        }
    }

    size_t vertex_at = 0, index_at = 0;
    meshes.assign(gltf.meshes.size(), {});
    for (size_t m = 0; m < gltf.meshes.size(); ++m) {
        const tinygltf::Mesh& mesh = gltf.meshes[m];
        for (size_t p = 0; p < mesh.primitives.size(); ++p) {
            const tinygltf::Primitive& prim = mesh.primitives[p];
            std::string where = "mesh \"" + printable_text(mesh.name) + "\" primitive " + std::to_string(p);
            PrimitiveData d{};
            auto attribute = [&](const char* key) {
                auto it = prim.attributes.find(key);
                return it == prim.attributes.end() ? -1 : it->second;
            };
            if (prim.mode != TINYGLTF_MODE_TRIANGLES) {
                error = where + " is not a triangle list";
                return false;
            }
            if (prim.indices < 0) {
                error = where + " has no index accessor";
                return false;
            }
            if (attribute("POSITION") < 0) {
                error = where + " has no POSITION attribute";
                return false;
            }
            if (prim.material >= 0 && static_cast<size_t>(prim.material) >= gltf.materials.size()) {
                error = where + " names a material that does not exist";
                return false;
            }
            std::string prefix = where + " ";
            if (!check_accessor(gltf, prim.indices, component_u16, TINYGLTF_TYPE_SCALAR, 2, prefix + "index", error,
                                &d.indices) ||
                !check_accessor(gltf, attribute("POSITION"), component_float, TINYGLTF_TYPE_VEC3, 12,
                                prefix + "POSITION", error, &d.positions) ||
                (attribute("NORMAL") >= 0 && !check_accessor(gltf, attribute("NORMAL"), component_float,
                                                             TINYGLTF_TYPE_VEC3, 12, prefix + "NORMAL", error,
                                                             &d.normals)) ||
                (attribute("TEXCOORD_0") >= 0 &&
                 !check_accessor(gltf, attribute("TEXCOORD_0"), component_float, TINYGLTF_TYPE_VEC2, 8,
                                 prefix + "TEXCOORD_0", error, &d.texcoords)))
                return false;
            if ((d.normals.bytes && d.normals.count != d.positions.count) ||
                (d.texcoords.bytes && d.texcoords.count != d.positions.count)) {
                error = where + " has attributes of different lengths";
                return false;
            }
            if (d.indices.count % 3 != 0) {
                error = where + " has " + std::to_string(d.indices.count) + " indices, not whole triangles";
                return false;
            }
            for (size_t i = 0; i < d.indices.count; ++i) {
                uint16_t index;
                std::memcpy(&index, d.indices.bytes + 2 * i, 2);
                if (index >= d.positions.count) {
                    error = where + " has index " + std::to_string(index) + " past its " +
                            std::to_string(d.positions.count) + " vertices";
                    return false;
                }
            }
            d.first_vertex = vertex_at;
            d.first_index = index_at;
            vertex_at += d.positions.count;
            index_at += d.indices.count;
            if (vertex_at > static_cast<size_t>(std::numeric_limits<int32_t>::max()) / 12 ||
                index_at > static_cast<size_t>(std::numeric_limits<int32_t>::max()) / 2) {
                error = "more geometry than the buffers can address";
                return false;
            }
            meshes[m].push_back(d);
        }
    }
    return true;
}

}  // namespace

bool parse_model(const void* data, size_t size, ParsedModel& out, std::string& error) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (!bytes || size == 0) {
        error = "no data";
        return false;
    }
    if (!check_glb_container(bytes, size, error)) return false;
    tinygltf::TinyGLTF parser;
    parser.SetImageLoader(keep_encoded_image, nullptr);
    parser.SetFsCallbacks({no_file_exists, keep_path, no_file_read, no_file_write, nullptr});
    std::string parse_error, warning;
    // The parser reports its errors as text; anything it throws (out of
    // memory on absurd sizes) ends here too.
    try {
        if (!parser.LoadBinaryFromMemory(&out.gltf, &parse_error, &warning, bytes, static_cast<unsigned>(size))) {
            error = first_line(parse_error);
            return false;
        }
    } catch (const std::exception& e) {
        error = std::string("the glTF parser gave up: ") + e.what();
        return false;
    }
    if (!check_model(out.gltf, out.meshes, error)) return false;
    out.has_pbr_block = materials_with_pbr_block(bytes);
    return true;
}

// Writes one binary glTF 2.0 file in the form the show's loader reads: one
// buffer in the binary chunk; per mesh one primitive with 16-bit indices and
// POSITION, NORMAL, TEXCOORD_0; every accessor alone at the start of its own
// tightly packed buffer view; every image in a buffer view; per material a
// metallic-roughness block with base-colour and metallic-roughness textures,
// a normal texture, and no factors.
#pragma once
#include <string>
#include <vector>

#include "maps.h"
#include "mesh.h"

struct ModelMaterial {
    std::string name;
    // Indices into ModelFile::images. Textures are written per material in the
    // order normal, base colour, metallic-roughness, so an image that two
    // materials share has two textures pointing at it.
    int normal_image = 0, base_color_image = 0, metallic_roughness_image = 0;
};

struct ModelNode {
    std::string name;
    int mesh = -1;  // -1: a node without mesh
    V3 translation;
    float rotation[4] = {0, 0, 0, 1};  // x, y, z, w
};

struct ModelFile {
    std::vector<Mesh> meshes;
    std::vector<int> mesh_material;  // one material per mesh
    std::vector<ModelMaterial> materials;
    std::vector<EncodedImage> images;
    std::vector<ModelNode> nodes;

    // Adds the three images of a material and the material using them; returns its index.
    int add_material(const std::string& name, MaterialImages images);
    // The same with the normal map of an earlier material (its maps.normal is dropped).
    int add_material_sharing_normal(const std::string& name, int normal_image, MaterialImages maps);
    // Adds a mesh with its node (mesh nodes must be added in mesh order).
    void add_mesh_node(const std::string& name, Mesh mesh, int material, V3 translation = {},
                       const float* rotation = nullptr);
    // The nodes "Light" and "Camera" without mesh, which every file carries.
    void add_light_and_camera(V3 light, V3 camera);
};

// The whole .glb file, or an empty vector with *error set when a mesh breaks a
// limit of the format (more than 65,536 vertices, indices out of range).
std::vector<uint8_t> write_glb(const ModelFile& model, std::string* error);

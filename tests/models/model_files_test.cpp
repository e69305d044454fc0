// The seven embedded models, read straight from the executable's table as the
// loader will see them: the properties the loader relies on without testing
// them (layout of the binary chunk, accessors, materials, images), the node
// names the show looks up, and the sizes and pivots its physics scene needs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "scene/model_files.h"

#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

using json = nlohmann::ordered_json;

namespace {

struct Glb {
    json doc;
    const unsigned char* bin = nullptr;
    uint32_t bin_size = 0;
    std::string error;
};

uint32_t u32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

Glb parse_glb(const EmbeddedFile& file) {
    Glb glb;
    const unsigned char* p = file.bytes;
    if (file.size < 28 || u32(p) != 0x46546C67 || u32(p + 4) != 2 || u32(p + 8) != static_cast<uint32_t>(file.size)) {
        glb.error = "not a version-2 GLB of its own size";
        return glb;
    }
    uint32_t json_size = u32(p + 12);
    if (u32(p + 16) != 0x4E4F534A || 20 + json_size + 8 > static_cast<uint32_t>(file.size)) {
        glb.error = "first chunk is not JSON";
        return glb;
    }
    glb.doc = json::parse(p + 20, p + 20 + json_size, nullptr, false);
    const unsigned char* chunk = p + 20 + json_size;
    glb.bin_size = u32(chunk);
    if (u32(chunk + 4) != 0x004E4942 || 20 + json_size + 8 + glb.bin_size != static_cast<uint32_t>(file.size)) {
        glb.error = "second chunk is not the BIN chunk ending the file";
        return glb;
    }
    glb.bin = chunk + 8;
    if (glb.doc.is_discarded()) glb.error = "JSON chunk does not parse";
    return glb;
}

const EmbeddedFile* find_file(const char* name) {
    for (int i = 0; i < model_files_count; ++i)
        if (std::strcmp(model_files[i].name, name) == 0) return &model_files[i];
    return nullptr;
}

struct ModelExpectation {
    const char* file;
    std::vector<std::string> mesh_nodes;  // in file order
    int images;
    const char* mime_type;
    std::set<int> image_sizes;  // every image square, each size from this set, all of them used
    int max_vertices;           // per primitive (convex-hull pieces stay small)
};

std::vector<std::string> greeting_nodes() {
    std::vector<std::string> names;
    for (const GreetingPiece& piece : greeting_pieces) names.push_back(piece.node);
    return names;
}

std::vector<ModelExpectation> expectations() {
    return {
        {"ingredients.glb",
         {"cheese", "bean", "corn", "jalapeno", "meatblob1", "meatblob2", "onion", "tomatodice", "chip001", "chip002",
          "chip003", "chip004"},
         27, "image/png", {256, 512, 1024}, 300},
        {"donkey.glb", {"DonkeyFront", "DonkeyBack"}, 3, "image/png", {2048}, 65536},
        {"mill.glb", {"wheel", "helix", "door1", "door2", "door_funnel"}, 14, "image/png", {512, 1024}, 65536},
        {"face.glb", {"TeethBottom", "Face", "TeethTop", "Face2"}, 9, "image/jpeg", {1024}, 65536},
        {"plate.glb", {"Plate", "Bowl1", "Bowl2"}, 9, "image/jpeg", {1024}, 65536},
        {"pyramid.glb", {"pyra"}, 3, "image/jpeg", {4096}, 65536},
        {"greetings.glb", greeting_nodes(), 36, "image/jpeg", {512}, 300},
    };
}

class ModelFileTest : public ::testing::TestWithParam<ModelExpectation> {};

TEST(ModelFiles, TableHoldsTheSevenFilesInLoadOrder) {
    const char* order[MODEL_COUNT] = {"ingredients.glb", "donkey.glb", "mill.glb", "face.glb",
                                      "plate.glb",       "pyramid.glb", "greetings.glb"};
    ASSERT_EQ(model_files_count, MODEL_COUNT);
    for (int i = 0; i < MODEL_COUNT; ++i) {
        EXPECT_STREQ(model_files[i].name, order[i]);
        EXPECT_GT(model_files[i].size, 100000) << order[i];
    }
}

TEST(ModelFiles, GreetingNodesAreShortAndInAscendingByteOrder) {
    for (int i = 0; i < GREETING_COUNT; ++i) {
        // the scene graph keeps 15 characters of a node name and looks pieces up by it
        EXPECT_LE(std::strlen(greeting_pieces[i].node), 15u) << greeting_pieces[i].node;
        if (i > 0) {
            EXPECT_LT(std::strcmp(greeting_pieces[i - 1].node, greeting_pieces[i].node), 0) << i;
        }
    }
}

TEST_P(ModelFileTest, NodesMeshesAndPrimitivesAsTheLoaderReadsThem) {
    const ModelExpectation& e = GetParam();
    const EmbeddedFile* file = find_file(e.file);
    ASSERT_NE(file, nullptr);
    Glb glb = parse_glb(*file);
    ASSERT_EQ(glb.error, "");
    const json& doc = glb.doc;

    ASSERT_EQ(doc["buffers"].size(), 1u);
    EXPECT_FALSE(doc["buffers"][0].contains("uri"));
    EXPECT_LE(doc["buffers"][0]["byteLength"].get<uint32_t>(), glb.bin_size);

    // Mesh nodes carry the meshes in mesh order, one each; no node has children.
    std::vector<std::string> mesh_nodes;
    std::set<std::string> plain_nodes;
    for (const json& node : doc["nodes"]) {
        EXPECT_FALSE(node.contains("children")) << node["name"];
        // the loader takes translation and rotation only
        EXPECT_FALSE(node.contains("scale") || node.contains("matrix")) << node["name"];
        if (node.contains("mesh")) {
            EXPECT_EQ(node["mesh"].get<size_t>(), mesh_nodes.size()) << node["name"];
            mesh_nodes.push_back(node["name"]);
        } else {
            plain_nodes.insert(node["name"].get<std::string>());
        }
    }
    EXPECT_EQ(mesh_nodes, e.mesh_nodes);
    EXPECT_EQ(plain_nodes, (std::set<std::string>{"Light", "Camera"}));
    ASSERT_EQ(doc["meshes"].size(), e.mesh_nodes.size());

    const json& views = doc["bufferViews"];
    std::map<int, int> view_users;
    auto check_accessor = [&](int index, const char* type, int component, int element_size, const std::string& what) {
        const json& a = doc["accessors"][index];
        EXPECT_EQ(a["type"], type) << what;
        EXPECT_EQ(a["componentType"], component) << what;
        EXPECT_EQ(a.value("byteOffset", 0), 0) << what;
        int view = a["bufferView"];
        ++view_users[view];
        const json& v = views[view];
        EXPECT_EQ(v["buffer"], 0) << what;
        EXPECT_EQ(v["byteLength"].get<size_t>(), a["count"].get<size_t>() * element_size) << what;
        EXPECT_EQ(v.value("byteStride", element_size), element_size) << what;
        EXPECT_LE(v.value("byteOffset", 0u) + v["byteLength"].get<uint32_t>(), glb.bin_size) << what;
        return a["count"].get<uint32_t>();
    };
    for (size_t m = 0; m < doc["meshes"].size(); ++m) {
        const json& mesh = doc["meshes"][m];
        const std::string what = e.file + std::string(" mesh ") + e.mesh_nodes[m];
        ASSERT_EQ(mesh["primitives"].size(), 1u) << what;
        const json& prim = mesh["primitives"][0];
        std::vector<std::string> attributes;
        for (auto it = prim["attributes"].begin(); it != prim["attributes"].end(); ++it) attributes.push_back(it.key());
        EXPECT_EQ(attributes, (std::vector<std::string>{"POSITION", "NORMAL", "TEXCOORD_0"})) << what;
        ASSERT_TRUE(prim.contains("indices") && prim.contains("material")) << what;
        EXPECT_EQ(prim.value("mode", 4), 4) << what;
        uint32_t vertices = check_accessor(prim["attributes"]["POSITION"], "VEC3", 5126, 12, what + " POSITION");
        EXPECT_EQ(check_accessor(prim["attributes"]["NORMAL"], "VEC3", 5126, 12, what + " NORMAL"), vertices) << what;
        EXPECT_EQ(check_accessor(prim["attributes"]["TEXCOORD_0"], "VEC2", 5126, 8, what + " TEXCOORD_0"), vertices)
            << what;
        uint32_t indices = check_accessor(prim["indices"], "SCALAR", 5123, 2, what + " indices");
        EXPECT_LE(vertices, static_cast<uint32_t>(e.max_vertices)) << what;
        EXPECT_EQ(indices % 3, 0u) << what;
        // every index names a vertex of its own primitive (they are not rebased)
        const json& index_view = views[doc["accessors"][prim["indices"].get<int>()]["bufferView"].get<int>()];
        const unsigned char* data = glb.bin + index_view.value("byteOffset", 0u);
        uint16_t largest = 0;
        for (uint32_t i = 0; i < indices; ++i) largest = std::max<uint16_t>(largest, data[2 * i] | data[2 * i + 1] << 8);
        EXPECT_LT(largest, vertices) << what;
    }
    for (const auto& [view, users] : view_users) EXPECT_EQ(users, 1) << e.file << " buffer view " << view << " shared";
}

TEST_P(ModelFileTest, MaterialsAndImages) {
    const ModelExpectation& e = GetParam();
    Glb glb = parse_glb(*find_file(e.file));
    ASSERT_EQ(glb.error, "");
    const json& doc = glb.doc;
    for (const json& material : doc["materials"]) {
        const std::string what = e.file + std::string(" material ") + material.value("name", "");
        ASSERT_TRUE(material.contains("pbrMetallicRoughness")) << what;
        const json& pbr = material["pbrMetallicRoughness"];
        EXPECT_TRUE(pbr.contains("baseColorTexture") && pbr.contains("metallicRoughnessTexture")) << what;
        EXPECT_TRUE(material.contains("normalTexture")) << what;
        for (const char* factor : {"baseColorFactor", "metallicFactor", "roughnessFactor"})
            EXPECT_FALSE(pbr.contains(factor)) << what << " " << factor;
        EXPECT_FALSE(material.contains("emissiveFactor")) << what;
    }
    std::set<int> used_images;
    for (const json& texture : doc["textures"]) used_images.insert(texture["source"].get<int>());

    ASSERT_EQ(doc["images"].size(), static_cast<size_t>(e.images));
    std::set<int> sizes;
    std::set<int> image_views;
    for (size_t i = 0; i < doc["images"].size(); ++i) {
        const json& image = doc["images"][i];
        const std::string what = e.file + std::string(" image ") + std::to_string(i);
        EXPECT_FALSE(image.contains("uri")) << what;
        ASSERT_TRUE(image.contains("bufferView")) << what;
        EXPECT_EQ(image["mimeType"], e.mime_type) << what;
        EXPECT_TRUE(image_views.insert(image["bufferView"].get<int>()).second) << what << " shares its view";
        const json& view = doc["bufferViews"][image["bufferView"].get<int>()];
        const unsigned char* bytes = glb.bin + view.value("byteOffset", 0u);
        int length = view["byteLength"], w = 0, h = 0, channels = 0;
        ASSERT_TRUE(stbi_info_from_memory(bytes, length, &w, &h, &channels)) << what << " does not decode";
        bool png = length > 4 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G';
        EXPECT_EQ(png, std::string(e.mime_type) == "image/png") << what << " content differs from its type";
        EXPECT_EQ(w, h) << what;
        sizes.insert(w);
        EXPECT_TRUE(used_images.count(static_cast<int>(i))) << what << " unused";
    }
    EXPECT_EQ(sizes, e.image_sizes) << e.file;
}

// Per triangle: the winding's normal agrees with the vertex normals, and the
// texture is not mirrored on it. The scene program turns the normal map's
// green channel up the image through a frame built from the uv derivatives,
// so a mirrored mapping turns the relief inside out along one direction.
TEST_P(ModelFileTest, SurfacesFaceTheirNormalsAndShowTheirImagesUnmirrored) {
    const ModelExpectation& e = GetParam();
    Glb glb = parse_glb(*find_file(e.file));
    ASSERT_EQ(glb.error, "");
    const json& doc = glb.doc;
    auto data = [&](int accessor) {
        const json& view = doc["bufferViews"][doc["accessors"][accessor]["bufferView"].get<int>()];
        return glb.bin + view.value("byteOffset", 0u);
    };
    for (size_t m = 0; m < doc["meshes"].size(); ++m) {
        const json& prim = doc["meshes"][m]["primitives"][0];
        const float* p = reinterpret_cast<const float*>(data(prim["attributes"]["POSITION"]));
        const float* n = reinterpret_cast<const float*>(data(prim["attributes"]["NORMAL"]));
        const float* uv = reinterpret_cast<const float*>(data(prim["attributes"]["TEXCOORD_0"]));
        const uint16_t* index = reinterpret_cast<const uint16_t*>(data(prim["indices"]));
        uint32_t count = doc["accessors"][prim["indices"].get<int>()]["count"];
        double total = 0, against = 0, mirrored = 0;
        for (uint32_t k = 0; k + 2 < count; k += 3) {
            const uint16_t a = index[k], b = index[k + 1], c = index[k + 2];
            float e1[3], e2[3], winding[3], normals = 0;
            for (int i = 0; i < 3; ++i) e1[i] = p[3 * b + i] - p[3 * a + i], e2[i] = p[3 * c + i] - p[3 * a + i];
            winding[0] = e1[1] * e2[2] - e1[2] * e2[1];
            winding[1] = e1[2] * e2[0] - e1[0] * e2[2];
            winding[2] = e1[0] * e2[1] - e1[1] * e2[0];
            for (int i = 0; i < 3; ++i) normals += winding[i] * (n[3 * a + i] + n[3 * b + i] + n[3 * c + i]);
            double area = std::sqrt(winding[0] * winding[0] + winding[1] * winding[1] + winding[2] * winding[2]);
            // uv winding: clockwise in (u, v) with v down the image is unmirrored
            float uv_area = (uv[2 * b] - uv[2 * a]) * (uv[2 * c + 1] - uv[2 * a + 1]) -
                            (uv[2 * c] - uv[2 * a]) * (uv[2 * b + 1] - uv[2 * a + 1]);
            total += area;
            if (normals < 0) against += area;
            if (uv_area > 1e-12f) mirrored += area;
        }
        EXPECT_LT(against / total, 0.002) << e.file << " " << e.mesh_nodes[m] << ": normals against the winding";
        EXPECT_LT(mirrored / total, 0.002) << e.file << " " << e.mesh_nodes[m] << ": texture mirrored";
    }
}

INSTANTIATE_TEST_SUITE_P(Seven, ModelFileTest, ::testing::ValuesIn(expectations()),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             return name.substr(0, name.find('.'));
                         });

// In the mill, the wheel's and the helix's materials share one normal map, so
// every later texture's source image is one below its own index.
TEST(ModelFiles, MillHelixTexturesResolveThroughTheSharedImage) {
    Glb glb = parse_glb(*find_file("mill.glb"));
    ASSERT_EQ(glb.error, "");
    const json& doc = glb.doc;
    ASSERT_EQ(doc["textures"].size(), 15u);
    EXPECT_EQ(doc["textures"][0]["source"], 0);
    EXPECT_EQ(doc["textures"][3]["source"], 0);
    for (int t = 4; t < 15; ++t) EXPECT_EQ(doc["textures"][t]["source"], t - 1) << "texture " << t;
    int helix = doc["meshes"][1]["primitives"][0]["material"];
    const json& material = doc["materials"][helix];
    EXPECT_EQ(material["normalTexture"]["index"], 3);
    EXPECT_EQ(material["pbrMetallicRoughness"]["baseColorTexture"]["index"], 4);
}

// ---- sizes and pivots the physics scene needs ------------------------------------

struct Box {
    float lo[3], hi[3];
};

// The world-space bounds of a mesh node (its POSITION bounds moved by its
// translation; these nodes carry no rotation), and its translation.
bool node_bounds(const char* file, const char* node_name, Box* world, Box* local, float translation[3]) {
    Glb glb = parse_glb(*find_file(file));
    for (const json& node : glb.doc["nodes"]) {
        if (node["name"] != node_name || !node.contains("mesh")) continue;
        EXPECT_FALSE(node.contains("rotation")) << node_name;
        for (int k = 0; k < 3; ++k) translation[k] = node.contains("translation") ? node["translation"][k].get<float>() : 0;
        const json& prim = glb.doc["meshes"][node["mesh"].get<int>()]["primitives"][0];
        const json& a = glb.doc["accessors"][prim["attributes"]["POSITION"].get<int>()];
        const json& view = glb.doc["bufferViews"][a["bufferView"].get<int>()];
        const float* p = reinterpret_cast<const float*>(glb.bin + view.value("byteOffset", 0u));
        for (int k = 0; k < 3; ++k) local->lo[k] = 1e30f, local->hi[k] = -1e30f;
        for (uint32_t i = 0; i < a["count"].get<uint32_t>(); ++i)
            for (int k = 0; k < 3; ++k) {
                local->lo[k] = std::min(local->lo[k], p[3 * i + k]);
                local->hi[k] = std::max(local->hi[k], p[3 * i + k]);
            }
        for (int k = 0; k < 3; ++k) world->lo[k] = local->lo[k] + translation[k], world->hi[k] = local->hi[k] + translation[k];
        return true;
    }
    return false;
}

struct Placement {
    const char* file;
    const char* node;
    const char* why;
    float translation[3];
    Box must_cover;   // the node's world bounds contain this box
    Box must_fit_in;  // and lie inside this one
};

TEST(ModelFiles, PlacementFitsThePhysicsScene) {
    const float big = 1e6f;
    const Placement cases[] = {
        {"plate.glb", "Plate", "drop disc of radius 15 from height 16, sphere disc of radius 22", {0, 0, 0},
         {{-22, 0, -22}, {22, 2, 22}}, {{-32, -2, -32}, {32, 6, 32}}},
        {"plate.glb", "Bowl1", "holds the drop and sphere discs", {0, 0, 0}, {{-22, 0, -22}, {22, 10, 22}},
         {{-34, -2, -34}, {34, 24, 34}}},
        {"plate.glb", "Bowl2", "catches what Face2 spits from z = -40", {0, 0, 0}, {{-24, 0, -24}, {24, 6, 24}},
         {{-34, -2, -34}, {34, 16, 34}}},
        {"pyramid.glb", "pyra", "300 wide, base at 0: pieces below 0 have fallen off", {0, 0, 0},
         {{-140, 0, -140}, {140, 100, 140}}, {{-160, -0.01f, -160}, {160, 130, 160}}},
        {"face.glb", "Face", "mouth round the origin, facing +z", {0, 0, 0}, {{-20, -20, -30}, {20, 30, 5}},
         {{-40, -40, -60}, {40, 50, 20}}},
        {"face.glb", "Face2", "stands at (0, 17, -40)", {0, 17, -40}, {{-15, 0, -55}, {15, 30, -32}},
         {{-40, -20, -90}, {40, 60, -20}}},
        {"face.glb", "TeethTop", "closed at height 0, opened upward by 4", {0, 0, 0}, {{-8, 0.5f, 0}, {8, 5, 2}},
         {{-16, 0, -12}, {16, 8, 10}}},
        {"face.glb", "TeethBottom", "closed at height 0, opened downward by 4", {0, 0, 0}, {{-8, -5, 0}, {8, -0.5f, 2}},
         {{-16, -8, -12}, {16, 0, 10}}},
        {"donkey.glb", "DonkeyFront", "hinge at the top of the cut; holds pieces spawned at the origin", {0, 8, 0},
         {{-6, -6, 0}, {6, 6, 16}}, {{-big, -big, -0.01f}, {big, big, big}}},
        {"donkey.glb", "DonkeyBack", "hinge at the top of the cut; holds pieces spawned at the origin", {0, 8, 0},
         {{-6, -6, -16}, {6, 6, 0}}, {{-big, -big, -big}, {big, big, 0.01f}}},
        {"mill.glb", "door_funnel", "wide mouth under the feed, spout above (0, 4, 0)", {0, 0, 0},
         {{-26, 12, -26}, {26, 30, 26}}, {{-40, -60, -40}, {40, 80, 40}}},
        {"mill.glb", "wheel", "turns about z above the helix", {0, 72, 4}, {{-14, 60, -2}, {14, 84, 10}},
         {{-20, 50, -30}, {20, 95, 32}}},
    };
    for (const Placement& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.node + ": " + c.why);
        Box world, local;
        float t[3];
        ASSERT_TRUE(node_bounds(c.file, c.node, &world, &local, t));
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(t[k], c.translation[k], 1e-4f) << "translation " << k;
            EXPECT_LE(world.lo[k], c.must_cover.lo[k]) << "axis " << k;
            EXPECT_GE(world.hi[k], c.must_cover.hi[k]) << "axis " << k;
            EXPECT_GE(world.lo[k], c.must_fit_in.lo[k]) << "axis " << k;
            EXPECT_LE(world.hi[k], c.must_fit_in.hi[k]) << "axis " << k;
        }
    }
}

// Pivots: the wheel turns about its node's origin, each door about a hinge at
// its node's origin on the spout's rim, and swings down toward the middle.
TEST(ModelFiles, MillPivots) {
    Box world, local;
    float t[3];
    ASSERT_TRUE(node_bounds("mill.glb", "wheel", &world, &local, t));
    for (int k = 0; k < 2; ++k) EXPECT_NEAR(local.lo[k], -local.hi[k], 0.5f) << "wheel off centre on axis " << k;
    ASSERT_TRUE(node_bounds("mill.glb", "door1", &world, &local, t));
    EXPECT_GT(t[0], 4);  // on the +x rim, reaching in toward the middle
    EXPECT_NEAR(local.hi[0], 0.45f, 0.1f);
    EXPECT_LT(local.lo[0], -4);
    EXPECT_GT(t[1], 4);  // above (0, 4, 0)
    ASSERT_TRUE(node_bounds("mill.glb", "door2", &world, &local, t));
    EXPECT_LT(t[0], -4);
    EXPECT_NEAR(local.lo[0], -0.45f, 0.1f);
    EXPECT_GT(local.hi[0], 4);
}

// Pieces: a chip about 2 units across, every other ingredient about 1.
TEST(ModelFiles, IngredientSizes) {
    for (const char* name : {"chip001", "chip002", "chip003", "chip004", "cheese", "bean", "corn", "jalapeno",
                             "meatblob1", "meatblob2", "onion", "tomatodice"}) {
        Box world, local;
        float t[3];
        ASSERT_TRUE(node_bounds("ingredients.glb", name, &world, &local, t)) << name;
        float largest = 0;
        for (int k = 0; k < 3; ++k) {
            largest = std::max(largest, local.hi[k] - local.lo[k]);
            EXPECT_NEAR(local.lo[k], -local.hi[k], 0.05f) << name << " not centred on axis " << k;
        }
        bool chip = std::strncmp(name, "chip", 4) == 0;
        EXPECT_GE(largest, chip ? 1.6f : 0.5f) << name;
        EXPECT_LE(largest, chip ? 2.6f : 2.3f) << name;
    }
}

}  // namespace

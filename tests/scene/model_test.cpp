// Loading GLB files into Models: image slots, packed buffers and offsets,
// materials, mesh lookup, names, and files the loader must refuse cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "glb_builder.h"
#include "physics/sim.h"
#include "platform/fetch.h"
#include "render/render_targets.h"
#include "render_window.h"
#include "scene/model.h"

using nlohmann::json;

namespace {

class ModelLoad : public testing::Test {
protected:
    void SetUp() override {
        if (!open_render_window(64, 36)) GTEST_SKIP() << "no GL 4.5 context (run under Xvfb)";
        antialias_requested = false;
        resize_targets(64, 36);
    }
};

// Loads and returns what the loader printed.
ModelPtr load_printing(const std::vector<uint8_t>& glb, int32_t mode, std::string& printed,
                     const char* name = "test.glb") {
    testing::internal::CaptureStdout();
    ModelPtr model(load_model(glb.data(), glb.size(), mode, name));
    printed = testing::internal::GetCapturedStdout();
    return model;
}

// Hull prints go to stdout too; keep only the loader's own lines.
std::string without_plane_lines(const std::string& text) {
    std::string out, line;
    for (char c : text) {
        line += c;
        if (c != '\n') continue;
        if (line.find("convex planes") == std::string::npos) out += line;
        line.clear();
    }
    return out + line;
}

Quad unit_quad() {
    const float c[3] = {0, 0, 0}, u[3] = {1, 0, 0}, v[3] = {0, -1, 0}, n[3] = {0, 0, 1};
    return make_quad(c, u, v, n);
}

TEST(MipChain, LevelCountsAndLastLevel) {
    struct Case {
        int w, h, levels, last_w, last_h;
    };
    const Case cases[] = {
        {1024, 1024, 11, 1, 1}, {1, 1, 1, 1, 1}, {1, 8, 1, 1, 8}, {1024, 256, 9, 4, 1}, {4096, 4096, 13, 1, 1},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> base(static_cast<size_t>(c.w) * c.h * 4, 200);
        gfx::ImageDesc desc{};
        desc.width = c.w;
        desc.height = c.h;
        desc.data.mip[0] = {base.data(), base.size()};
        generate_mipmaps(desc);
        EXPECT_EQ(desc.num_mipmaps, c.levels) << c.w << " x " << c.h;
        EXPECT_EQ(desc.data.mip[desc.num_mipmaps - 1].size, static_cast<size_t>(c.last_w) * c.last_h * 4)
            << c.w << " x " << c.h;
        // A flat picture stays flat at every level.
        const uint8_t* last = static_cast<const uint8_t*>(desc.data.mip[desc.num_mipmaps - 1].ptr);
        EXPECT_EQ(last[0], 200) << c.w << " x " << c.h;
        free_mipmaps(desc);
    }
}

TEST(MipChain, EachLevelComesFromTheOneAbove) {
    // A 4 x 2 picture: left half black, right half white. Level 1 (2 x 1) keeps
    // the halves apart; level 1 made from the base and level 2 only exists if
    // the chain stops at the shorter side.
    std::vector<uint8_t> base(4 * 2 * 4, 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 2; x < 4; ++x)
            for (int k = 0; k < 4; ++k) base[(y * 4 + x) * 4 + k] = 255;
    gfx::ImageDesc desc{};
    desc.width = 4;
    desc.height = 2;
    desc.data.mip[0] = {base.data(), base.size()};
    generate_mipmaps(desc);
    ASSERT_EQ(desc.num_mipmaps, 2);
    const uint8_t* level = static_cast<const uint8_t*>(desc.data.mip[1].ptr);
    EXPECT_LT(level[0], 64);
    EXPECT_GT(level[4], 191);
    free_mipmaps(desc);
}

TEST_F(ModelLoad, TexturesResolveThroughTheirSourceImage) {
    // Textures 0 and 3 share image 0, so texture 4 names image 3, as in the mill.
    GlbBuilder b;
    for (int i = 0; i < 4; ++i) b.add_image(solid_png(4, 4, static_cast<uint8_t>(60 * i), 0, 0));
    for (int image : {0, 1, 2, 0, 3}) b.add_texture(image);
    int material = b.add_material({{"pbrMetallicRoughness",
                                    {{"baseColorTexture", {{"index", 4}}}, {"metallicRoughnessTexture", {{"index", 2}}}}},
                                   {"normalTexture", {{"index", 3}}},
                                   {"emissiveTexture", {{"index", 1}}}});
    Quad q = unit_quad();
    b.add_node("helix", b.add_mesh("helix", q.vertices, q.indices, material));
    std::string printed;
    ModelPtr m = load_printing(b.build(), 0, printed);
    EXPECT_EQ(printed, "");
    ASSERT_EQ(m->entry_count, 1);
    const gfx::Bindings& bind = m->entries[0].primitives[0].bindings;
    EXPECT_EQ(bind.fs_images[SLOT_NORMAL].id, m->images[0].id);
    EXPECT_EQ(bind.fs_images[SLOT_METALLIC_ROUGHNESS].id, m->images[2].id);
    EXPECT_EQ(bind.fs_images[SLOT_BASE_COLOR].id, m->images[3].id);
    EXPECT_EQ(bind.fs_images[SLOT_EMISSIVE].id, m->images[1].id);
    EXPECT_EQ(bind.fs_images[SLOT_SHADOW_MAP].id, 0u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(gfx::query_image_state(m->images[i]), gfx::ResourceState::Valid) << i;
        EXPECT_EQ(gfx::query_image_info(m->images[i]).num_mipmaps, 3) << i;
    }
    EXPECT_EQ(m->images[4].id, 0u);
}

TEST_F(ModelLoad, PrimitiveOffsetsCountEverythingBeforeThem) {
    GlbBuilder b;
    Quad q = unit_quad();
    Quad box = make_box(1, 1, 1);
    b.add_node("Light");
    b.add_node("first", b.add_mesh("first", q.vertices, q.indices, -1));                  // 4 vertices, 6 indices
    b.add_node("second", b.add_mesh("second", box.vertices, box.indices, -1));            // 8, 36
    b.add_node("third", b.add_mesh("third", q.vertices, {0, 1, 2}, -1));                  // 4, 3
    b.add_node("Camera");
    std::string printed;
    ModelPtr m = load_printing(b.build(), 0, printed);
    ASSERT_EQ(m->entry_count, 3);
    struct Expected {
        int vertices_before, indices_before, index_count;
    };
    const Expected expected[] = {{0, 0, 6}, {4, 6, 36}, {12, 42, 3}};
    for (int k = 0; k < 3; ++k) {
        const Primitive& p = m->entries[k].primitives[0];
        EXPECT_EQ(p.bindings.vertex_buffer_offsets[0], 12 * expected[k].vertices_before) << k;
        EXPECT_EQ(p.bindings.vertex_buffer_offsets[1], 12 * expected[k].vertices_before) << k;
        EXPECT_EQ(p.bindings.vertex_buffer_offsets[2], 8 * expected[k].vertices_before) << k;
        EXPECT_EQ(p.bindings.index_buffer_offset, 2 * expected[k].indices_before) << k;
        EXPECT_EQ(p.index_count, expected[k].index_count) << k;
        EXPECT_EQ(p.bindings.vertex_buffers[0].id, m->position_buffer.id);
        EXPECT_EQ(p.bindings.vertex_buffers[1].id, m->normal_buffer.id);
        EXPECT_EQ(p.bindings.vertex_buffers[2].id, m->texcoord_buffer.id);
        EXPECT_EQ(p.bindings.index_buffer.id, m->index_buffer.id);
    }
    for (gfx::Buffer buffer : {m->index_buffer, m->position_buffer, m->normal_buffer, m->texcoord_buffer})
        EXPECT_EQ(gfx::query_buffer_state(buffer), gfx::ResourceState::Valid);
}

TEST_F(ModelLoad, MaterialsTakeTheDefaultsOfTheirBlock) {
    struct Case {
        const char* what;
        json material;  // null: no material at all
        metallic_params params;
        bool own_base_color;
    };
    const Case cases[] = {
        {"no metallic-roughness block", {{"normalTexture", {{"index", 0}}}}, {}, false},
        {"block without factors", {{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}},
         {{1, 1, 1, 1}, {0, 0, 0}, 1, 1, {}}, true},
        {"empty block", {{"pbrMetallicRoughness", json::object()}}, {{1, 1, 1, 1}, {0, 0, 0}, 1, 1, {}}, false},
        {"factors given",
         {{"pbrMetallicRoughness", {{"baseColorFactor", {0.5, 0.25, 1, 0.75}}, {"metallicFactor", 0.1},
                                    {"roughnessFactor", 0.7}}},
          {"emissiveFactor", {0.2, 0.3, 0.4}}},
         {{0.5f, 0.25f, 1, 0.75f}, {0.2f, 0.3f, 0.4f}, 0.1f, 0.7f, {}}, false},
        {"no material", nullptr, {}, false},
    };
    for (const Case& c : cases) {
        GlbBuilder b;
        b.add_texture(b.add_image(solid_png(2, 2, 9, 9, 9)));
        int material = c.material.is_null() ? -1 : b.add_material(c.material);
        Quad q = unit_quad();
        b.add_node("piece", b.add_mesh("piece", q.vertices, q.indices, material));
        std::string printed;
        ModelPtr m = load_printing(b.build(), 0, printed);
        ASSERT_EQ(m->entry_count, 1) << c.what;
        const Primitive& p = m->entries[0].primitives[0];
        EXPECT_EQ(std::memcmp(&p.params, &c.params, sizeof p.params), 0) << c.what;
        EXPECT_EQ(p.bindings.fs_images[SLOT_NORMAL].id, fallback_grey_image.id) << c.what;
        EXPECT_EQ(p.bindings.fs_images[SLOT_METALLIC_ROUGHNESS].id, fallback_black_image.id) << c.what;
        EXPECT_EQ(p.bindings.fs_images[SLOT_BASE_COLOR].id,
                  c.own_base_color ? m->images[0].id : fallback_white_image.id)
            << c.what;
        EXPECT_EQ(p.bindings.fs_images[SLOT_EMISSIVE].id, fallback_white_image.id) << c.what;
    }
    for (gfx::Image fallback : {fallback_white_image, fallback_black_image, fallback_grey_image}) {
        EXPECT_EQ(gfx::query_image_state(fallback), gfx::ResourceState::Valid);
        EXPECT_EQ(gfx::query_image_info(fallback).width, 8);
    }
    EXPECT_EQ(gfx::query_pipeline_state(scene_pipeline), gfx::ResourceState::Valid);
}

TEST_F(ModelLoad, EntriesCarryNamesTransformsAndShapes) {
    if (!sim_world) init_sim_world();
    GlbBuilder b;
    Quad box = make_box(0.5f, 0.5f, 0.5f);
    const std::string long_name = "a_node_name_that_runs_past_thirty_one_characters";
    for (const char* name : {"chip001", "chip002", "chip003", "chip004"})
        b.add_node(name, b.add_mesh(name, box.vertices, box.indices, -1));
    b.add_node(long_name, b.add_mesh("long", box.vertices, box.indices, -1));
    b.doc["nodes"][1]["translation"] = {1, 2, 3};
    b.doc["nodes"][1]["rotation"] = {0, 0.6, 0, 0.8};
    std::string printed;
    ModelPtr m = load_printing(b.build(), 1, printed);
    ASSERT_EQ(m->entry_count, 5);

    EXPECT_STREQ(m->entries[4].name, long_name.substr(0, 31).c_str());
    const float still[7] = {0, 0, 0, 0, 0, 0, 1};
    const float moved[7] = {1, 2, 3, 0, 0.6f, 0, 0.8f};
    for (int e : {0, 1}) {
        const float* want = e == 0 ? still : moved;
        for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(m->entries[e].translation[i], want[i]) << e;
        for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(m->entries[e].rotation[i], want[3 + i]) << e;
    }
    for (int e = 0; e < 5; ++e) EXPECT_GE(m->entries[e].primitives[0].shape, 0) << e;

    struct Lookup {
        std::string name;
        int entry;  // -1: no shape
    };
    const Lookup lookups[] = {
        {"chip003", 2}, {"chip", -1}, {"guacamole", -1}, {long_name, -1}, {long_name.substr(0, 31), 4}, {"", -1},
    };
    for (const Lookup& l : lookups)
        EXPECT_EQ(find_mesh_shape(m.get(), l.name.c_str()), l.entry < 0 ? -1 : m->entries[l.entry].primitives[0].shape)
            << l.name;
    // Convex hulls in mode 1 print their plane count; mode 2 builds triangle meshes.
    EXPECT_NE(printed.find("convex planes"), std::string::npos);
    ModelPtr mesh_model = load_printing(b.build(), 2, printed);
    EXPECT_EQ(printed.find("convex planes"), std::string::npos);
    EXPECT_GE(find_mesh_shape(mesh_model.get(), "chip001"), 0);
    EXPECT_TRUE(shape_list[find_mesh_shape(mesh_model.get(), "chip001")]->is_mesh);
}

TEST_F(ModelLoad, UndecodableImageLeavesItsSlotEmptyAndLoadingGoesOn) {
    GlbBuilder b;
    const std::vector<uint8_t> junk = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
    b.add_image(junk);
    b.add_image(solid_png(2, 2, 1, 2, 3));
    Quad q = unit_quad();
    b.add_node("piece", b.add_mesh("piece", q.vertices, q.indices, -1));
    std::string printed;
    ModelPtr m = load_printing(b.build(), 0, printed);
    EXPECT_EQ(printed, "Error decoding image!\n");
    EXPECT_EQ(gfx::query_image_state(m->images[0]), gfx::ResourceState::Alloc);
    EXPECT_EQ(gfx::query_image_state(m->images[1]), gfx::ResourceState::Valid);
    EXPECT_EQ(m->entry_count, 1);
}

TEST_F(ModelLoad, ExternalImagesArriveThroughTheFetcher) {
    platform::fetch_setup({});
    std::string present = testing::TempDir() + "velmo_model_texture.png";
    std::vector<uint8_t> png = solid_png(16, 8, 10, 20, 30);
    std::FILE* f = std::fopen(present.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(png.data(), 1, png.size(), f);
    std::fclose(f);
    std::string missing = testing::TempDir() + "velmo_no_such_texture.png";

    GlbBuilder b;
    b.add_image_uri(present);
    b.add_image_uri(missing);
    Quad q = unit_quad();
    b.add_node("piece", b.add_mesh("piece", q.vertices, q.indices, -1));
    std::string printed;
    ModelPtr m = load_printing(b.build(), 0, printed);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(gfx::query_image_state(m->images[0]), gfx::ResourceState::Alloc);

    testing::internal::CaptureStdout();
    for (int i = 0; i < 500 && gfx::query_image_state(m->images[0]) != gfx::ResourceState::Valid; ++i) {
        platform::fetch_dowork();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (int i = 0; i < 20; ++i) platform::fetch_dowork();
    printed = testing::internal::GetCapturedStdout();
    platform::fetch_shutdown();
    EXPECT_EQ(gfx::query_image_state(m->images[0]), gfx::ResourceState::Valid);
    EXPECT_EQ(gfx::query_image_info(m->images[0]).num_mipmaps, 4);
    EXPECT_EQ(printed, "Failed to load " + missing + "!\n");
    EXPECT_EQ(gfx::query_image_state(m->images[1]), gfx::ResourceState::Alloc);
}

// ---- files the loader refuses ----

std::vector<uint8_t> good_file() {
    GlbBuilder b;
    b.add_texture(b.add_image(solid_png(2, 2, 5, 5, 5)));
    int material = b.add_material({{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}});
    Quad q = unit_quad();
    b.add_node("piece", b.add_mesh("piece", q.vertices, q.indices, material));
    return b.build();
}

GlbBuilder good_builder() {
    GlbBuilder b;
    Quad q = unit_quad();
    b.add_node("piece", b.add_mesh("piece", q.vertices, q.indices, -1));
    return b;
}

std::vector<uint8_t> edited(const std::function<void(GlbBuilder&)>& edit) {
    GlbBuilder b = good_builder();
    edit(b);
    return b.build();
}

TEST_F(ModelLoad, BrokenFilesGiveOneLineAndAnEmptyModel) {
    std::vector<uint8_t> good = good_file();
    std::vector<uint8_t> truncated(good.begin(), good.begin() + good.size() / 2);
    std::vector<uint8_t> bad_magic = good;
    bad_magic[0] = 'X';
    std::vector<uint8_t> bad_json = good;
    std::memset(bad_json.data() + 20, '{', 16);
    std::vector<uint8_t> long_bin_chunk = good;
    {
        uint32_t json_length;
        std::memcpy(&json_length, good.data() + 12, 4);
        uint32_t huge = 0x7ffffff0;
        std::memcpy(long_bin_chunk.data() + 20 + json_length, &huge, 4);
    }
    std::vector<uint8_t> long_header = good;
    {
        uint32_t length = static_cast<uint32_t>(good.size() + 100);
        std::memcpy(long_header.data() + 8, &length, 4);
    }
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* says;
    };
    const Case cases[] = {
        {"empty", {}, "no data"},
        {"truncated", truncated, "declares"},
        {"bad magic", bad_magic, "not a binary glTF file"},
        {"corrupt JSON", bad_json, ""},
        {"binary chunk past the end", long_bin_chunk, "binary chunk reaches past the end"},
        {"declared length past the data", long_header, "declares"},
        {"accessor past its view", edited([](GlbBuilder& b) { b.doc["accessors"][1]["count"] = 5; }),
         "POSITION accessor 1 reaches past its buffer view"},
        {"accessor offset past its view", edited([](GlbBuilder& b) { b.doc["accessors"][0]["byteOffset"] = 4; }),
         "index accessor 0 reaches past its buffer view"},
        {"view past the buffer", edited([](GlbBuilder& b) { b.doc["bufferViews"][2]["byteLength"] = 4096; }),
         "buffer view 2 reaches past its buffer"},
        {"view offset past the buffer",
         edited([](GlbBuilder& b) { b.doc["bufferViews"][3]["byteOffset"] = 0x7fffffff; }),
         "buffer view 3 reaches past its buffer"},
        {"missing index accessor",
         edited([](GlbBuilder& b) { b.doc["meshes"][0]["primitives"][0].erase("indices"); }),
         "mesh \"piece\" primitive 0 has no index accessor"},
        {"32-bit indices", edited([](GlbBuilder& b) { b.doc["accessors"][0]["componentType"] = 5125; }),
         "index accessor 0 is not 16-bit unsigned"},
        {"index accessor that does not exist",
         edited([](GlbBuilder& b) { b.doc["meshes"][0]["primitives"][0]["indices"] = 40; }),
         "indices accessor out of bounds"},
        {"index past the vertices",
         edited([](GlbBuilder& b) {
             uint16_t far = 4;
             std::memcpy(b.bin.data(), &far, 2);
         }),
         "has index 4 past its 4 vertices"},
        {"no positions",
         edited([](GlbBuilder& b) { b.doc["meshes"][0]["primitives"][0]["attributes"].erase("POSITION"); }),
         "has no POSITION attribute"},
        {"positions of two floats", edited([](GlbBuilder& b) { b.doc["accessors"][1]["type"] = "VEC2"; }),
         "POSITION accessor 1 has the wrong element type"},
        {"65 images",
         edited([](GlbBuilder& b) {
             std::vector<uint8_t> png = solid_png(1, 1, 0, 0, 0);
             for (int i = 0; i < 65; ++i) b.add_image(png);
         }),
         "65 images, more than 64"},
        {"texture of an image that does not exist",
         edited([](GlbBuilder& b) {
             b.add_texture(7);
             b.add_material({{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}});
         }),
         "texture 0 names image 7"},
        {"node of a mesh that does not exist", edited([](GlbBuilder& b) { b.add_node("ghost", 9); }),
         "names mesh 9"},
        {"interleaved view", edited([](GlbBuilder& b) { b.doc["bufferViews"][1]["byteStride"] = 24; }),
         "is not tightly packed"},
        {"not whole triangles", edited([](GlbBuilder& b) { b.doc["accessors"][0]["count"] = 4; }),
         "not whole triangles"},
    };
    for (const Case& c : cases) {
        std::string printed;
        ModelPtr m = load_printing(c.bytes, 2, printed, "broken.glb");
        ASSERT_NE(m, nullptr) << c.what;
        EXPECT_EQ(m->entry_count, 0) << c.what;
        EXPECT_EQ(m->entries, nullptr) << c.what;
        EXPECT_EQ(m->images[0].id, 0u) << c.what;
        EXPECT_EQ(m->index_buffer.id, 0u) << c.what;
        std::string line = without_plane_lines(printed);
        EXPECT_EQ(line.rfind("Model broken.glb: ", 0), 0u) << c.what << ": " << line;
        EXPECT_NE(line.find(c.says), std::string::npos) << c.what << ": " << line;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << c.what << ": " << line;
        EXPECT_EQ(find_mesh_shape(m.get(), "piece"), -1) << c.what;
    }
    // Every prefix of a good file is refused without reading past it.
    for (size_t n = 0; n < good.size(); n += 7) {
        std::vector<uint8_t> prefix(good.begin(), good.begin() + n);
        std::string printed;
        ModelPtr m = load_printing(prefix, 2, printed, "prefix.glb");
        EXPECT_EQ(m->entry_count, 0) << n;
    }
}

TEST_F(ModelLoad, ShapeModeZeroBuildsNoShapes) {
    std::string printed;
    ModelPtr m = load_printing(good_file(), 0, printed);
    ASSERT_EQ(m->entry_count, 1);
    EXPECT_EQ(m->entries[0].primitives[0].shape, -1);
}

}  // namespace

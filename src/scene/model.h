// Embedded models: one binary glTF 2.0 file (GLB) held in memory becomes a
// Model with its GPU images, four packed GPU buffers and one MeshEntry per
// glTF node that carries a mesh.
//
// Contract
// - load_model parses the bytes (tinygltf, from memory, its own image decoding
//   and file access switched off), decodes every image with stb_image into its
//   slot with a CPU mip chain, packs the vertex and index data of all
//   primitives into four immutable buffers, builds one collision shape per
//   primitive (shape_mode bit 0: convex hull, else bit 1: triangle mesh) and
//   fills the entries. The first call also makes the scene pipeline and the
//   three fallback textures.
// - The result is never null and never changes afterwards. A file the parser
//   refuses, or one that breaks what the loader relies on (a view past its
//   buffer, an accessor past its view, a primitive without 16-bit indices or
//   float3 positions, an index past its primitive's vertices, more than 64
//   images, a reference to something that does not exist), prints one line
//   "Model <name>: <what is wrong>\n" and yields a model without entries,
//   images or buffers: nothing is read out of bounds and the show goes on.
// - Images held in the file are decoded, with their mip chains, on worker
//   threads (one per hardware thread, at most four) while the calling thread
//   uploads them in image order; nothing else leaves the calling thread.
// - An undecodable image prints "Error decoding image!\n" and leaves its slot
//   allocated without content: the graphics layer then skips the lit draws
//   that bind it. An image given by file name is read through the platform
//   fetcher into a 409,600-byte buffer and decoded a frame or more later;
//   "Failed to load <path>!\n" when that fails.
// - Primitive k's bindings address its own place in the packed buffers:
//   vertex offsets 12, 12 and 8 bytes × its first vertex, index offset 2 bytes
//   × its first index; indices count from the primitive's own first vertex.
// - Main thread only, with the graphics layer set up and the render targets
//   built (the pipeline takes target_sample_count).
#pragma once
#include <cstddef>
#include <cstdint>

#include "gfx/gfx.h"
#include "render/uniform_blocks.h"

constexpr int model_max_images = 64;
constexpr int mesh_name_capacity = 32;  // 31 characters and the terminating zero

// Fragment image slots of the scene program.
enum SceneImageSlot : int {
    SLOT_NORMAL = 0,              // normal_texture; fallback grey (128 everywhere)
    SLOT_METALLIC_ROUGHNESS = 1,  // metallic_roughness_texture; fallback opaque black
    SLOT_BASE_COLOR = 2,          // base_color_texture; fallback white
    SLOT_EMISSIVE = 3,            // emissive_texture; fallback white
    SLOT_SHADOW_MAP = 4,          // shadowMap; filled in at draw time
};

struct Primitive {
    int32_t shape;           // index into the physics shape list; -1 when building it failed
    gfx::Bindings bindings;  // buffers 0..2 = position, normal, texcoord; slots 0..3 as above
    int32_t index_count;
    metallic_params params;  // all zero when the material has no metallic-roughness block
};

struct MeshEntry {
    char name[mesh_name_capacity];  // the node's name, truncated to 31 characters
    int32_t primitive_count;
    Primitive* primitives;
    float translation[3];  // (0, 0, 0) when the node has none
    float rotation[4];     // x, y, z, w; (0, 0, 0, 1) when the node has none
};

struct Model {
    gfx::Image images[model_max_images];  // slot i: the file's glTF image i
    int32_t entry_count;
    MeshEntry* entries;  // glTF node order
    gfx::Buffer index_buffer;     // uint16 indices of all primitives, packed
    gfx::Buffer position_buffer;  // float3
    gfx::Buffer normal_buffer;    // float3
    gfx::Buffer texcoord_buffer;  // float2
};

// Where one load_model call spent its time (seconds) and what it made; the
// load benchmark prints these. Decoding and mip chains run on worker threads:
// their figures add up the workers' times, images_wall is how long the whole
// image stage (decode, mips, upload) took.
struct ModelLoadStats {
    double parse;         // GLB checks, tinygltf, property checks
    double image_decode;  // stb_image, summed over the workers
    double mip_chains;    // summed over the workers
    double upload;        // images, buffers and the first call's pipeline
    double shapes;        // collision shapes
    double images_wall;
    double total;
    int32_t images;
    int32_t vertices;
    int32_t indices;
};

// How many threads decode a model's images: 0 (the default) one per hardware
// thread, at most four; 1 decodes on the calling thread. The load benchmark
// compares them.
extern int32_t model_decode_threads;

// Made by the first load_model: the pipeline every scene material uses, and
// the fallback textures (8 × 8 RGBA8, nearest filtering, repeat).
extern gfx::Pipeline scene_pipeline;
extern gfx::Image fallback_white_image;
extern gfx::Image fallback_black_image;  // (0, 0, 0, 255)
extern gfx::Image fallback_grey_image;   // 128 in every byte

// name only labels the model in messages. stats, when given, receives the
// timings of this call.
Model* load_model(const void* data, size_t size, int32_t shape_mode, const char* name = "model",
                  ModelLoadStats* stats = nullptr);

// Releases a model's GPU images and buffers and its records (the show keeps
// its models to the end; tools and tests release theirs). Not while one of its
// images is still being fetched. Collision shapes stay in the shape list.
void free_model(Model* model);
// Releases only a model's records, once gfx::shutdown has released every GPU
// object (its own included).
void free_model_records(Model* model);

// The shape of the first primitive of the first entry called exactly `name`
// that has primitives; -1 when there is none. Entries compare over their
// stored, at most 31-character names.
int32_t find_mesh_shape(const Model* model, const char* name);

// Decodes one encoded image (PNG, JPEG, ...) into image slot `index` with its
// mip chain, on the calling thread. Prints "Error decoding image!\n" when it
// cannot be decoded.
void decode_model_image(Model* model, int32_t index, const void* bytes, size_t size);

// Appends the mip chain of desc's level 0 (RGBA8, desc.width × desc.height)
// to desc.data.mip[1..], each level halved from the one above it (integer
// halves, down to the level whose shorter side is 1), and sets num_mipmaps.
// An exact halving averages 2 × 2 blocks; other sizes are resampled with
// stb_image_resize. The levels are heap blocks that free_mipmaps releases.
// Safe on any thread.
void generate_mipmaps(gfx::ImageDesc& desc);
void free_mipmaps(gfx::ImageDesc& desc);

// Writes name into a fixed name field of `capacity` bytes: truncated to
// capacity - 1 characters, the rest zero.
void copy_name(char* out, size_t capacity, const char* name);

// Makes the scene program, scene_pipeline and the three fallback textures
// once; later calls do nothing.
void create_scene_pipeline();

// Forgets the pipeline and fallback handles (after gfx::shutdown released
// them), so that a later start-up makes them afresh.
void forget_scene_pipeline();

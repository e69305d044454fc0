#include "scene/model.h"
#include "scene/model_parse.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <stb_image.h>
#include <stb_image_resize.h>
#include <tiny_gltf.h>

#include "platform/fetch.h"
#include "render/render_targets.h"
#include "render/shaders.h"
#include "physics/sim.h"

int32_t model_decode_threads = 0;
gfx::Pipeline scene_pipeline{};
gfx::Image fallback_white_image{};
gfx::Image fallback_black_image{};
gfx::Image fallback_grey_image{};

namespace {

constexpr size_t external_image_buffer_size = 409600;
constexpr int max_generated_levels = 15;

using Clock = std::chrono::steady_clock;

// The stats of the load_model call in progress (main thread only).
ModelLoadStats* active_stats = nullptr;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Adds the time a scope takes to one field of the active stats.
struct StatTimer {
    double ModelLoadStats::*field;
    Clock::time_point start = Clock::now();
    explicit StatTimer(double ModelLoadStats::*f) : field(f) {}
    ~StatTimer() {
        if (active_stats) active_stats->*field += seconds_since(start);
    }
};

// ---- images ----

// A decoded picture with its mip chain, ready for upload; made on any thread.
struct DecodedImage {
    gfx::ImageDesc desc;  // num_mipmaps 0: the bytes could not be decoded
    double decode_seconds, mip_seconds;
};

DecodedImage decode_image_levels(const void* bytes, size_t size) {
    DecodedImage out{};
    Clock::time_point start = Clock::now();
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = nullptr;
    if (bytes && size > 0 && size <= static_cast<size_t>(std::numeric_limits<int>::max()))
        pixels = stbi_load_from_memory(static_cast<const stbi_uc*>(bytes), static_cast<int>(size), &w, &h, &channels, 4);
    out.decode_seconds = seconds_since(start);
    if (!pixels) return out;
    gfx::ImageDesc& desc = out.desc;
    desc.width = w;
    desc.height = h;
    desc.usage = gfx::Usage::Immutable;
    desc.pixel_format = gfx::PixelFormat::RGBA8;
    desc.min_filter = gfx::Filter::LinearMipmapLinear;
    desc.mag_filter = gfx::Filter::Linear;
    desc.wrap_u = gfx::Wrap::Repeat;
    desc.wrap_v = gfx::Wrap::Repeat;
    desc.data.mip[0] = {pixels, static_cast<size_t>(w) * h * 4};
    start = Clock::now();
    generate_mipmaps(desc);
    out.mip_seconds = seconds_since(start);
    return out;
}

// Main thread: the image into its slot, then the pixels are released.
void upload_decoded_image(Model* model, int32_t index, DecodedImage& decoded) {
    if (active_stats) {
        active_stats->image_decode += decoded.decode_seconds;
        active_stats->mip_chains += decoded.mip_seconds;
    }
    if (decoded.desc.num_mipmaps == 0) {
        std::printf("Error decoding image!\n");
        return;
    }
    {
        StatTimer timer(&ModelLoadStats::upload);
        gfx::init_image(model->images[index], decoded.desc);
    }
    void* pixels = const_cast<void*>(decoded.desc.data.mip[0].ptr);
    free_mipmaps(decoded.desc);
    stbi_image_free(pixels);
    if (active_stats) ++active_stats->images;
}

struct ImageJob {
    int32_t index;
    const void* bytes;
    size_t size;
};

// Decodes the jobs on worker threads (one per hardware thread, at most four)
// while this thread uploads the results in image order. Workers run at most a
// few images ahead of the uploads, so that few decoded pictures wait at once.
void decode_and_upload(Model* model, const std::vector<ImageJob>& jobs) {
    size_t threads_wanted = model_decode_threads > 0 ? static_cast<size_t>(model_decode_threads)
                                                     : std::min(std::max(1u, std::thread::hardware_concurrency()), 4u);
    size_t workers = std::min(threads_wanted, jobs.size());
    std::vector<DecodedImage> results(jobs.size());
    std::vector<bool> ready(jobs.size(), false);
    std::mutex mutex;
    std::condition_variable changed;
    size_t next = 0, uploaded = 0;
    const size_t ahead = 2 * workers;
    auto work = [&] {
        for (;;) {
            size_t i;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return next >= jobs.size() || next < uploaded + ahead; });
                if (next >= jobs.size()) return;
                i = next++;
            }
            DecodedImage decoded = decode_image_levels(jobs[i].bytes, jobs[i].size);
            {
                std::lock_guard lock(mutex);
                results[i] = decoded;
                ready[i] = true;
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    if (workers > 1) {
        try {
            for (size_t w = 0; w < workers; ++w) threads.emplace_back(work);
        } catch (const std::system_error&) {
            // No threads to be had: whatever is left is decoded here.
        }
    }
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (threads.empty()) {
            results[i] = decode_image_levels(jobs[i].bytes, jobs[i].size);
        } else {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return ready[i]; });
        }
        upload_decoded_image(model, jobs[i].index, results[i]);
        {
            std::lock_guard lock(mutex);
            uploaded = i + 1;
        }
        changed.notify_all();
    }
    for (std::thread& t : threads) t.join();
}

struct ExternalImage {
    Model* model;
    int64_t index;
};
static_assert(sizeof(ExternalImage) == 16, "an external image request carries 16 bytes of user data");

void external_image_done(const platform::FetchResponse* r) {
    ExternalImage target;
    std::memcpy(&target, r->user_data, sizeof target);
    if (r->dispatched) {
        platform::fetch_bind_buffer(r->handle, std::malloc(external_image_buffer_size), external_image_buffer_size);
        return;
    }
    if (r->fetched) decode_model_image(target.model, static_cast<int32_t>(target.index), r->data, r->data_size);
    if (r->finished) {
        if (r->failed) std::printf("Failed to load %s!\n", r->path);
        std::free(r->buffer);
    }
}

void request_external_image(Model* model, int32_t index, const std::string& uri) {
    ExternalImage target{model, index};
    platform::FetchRequest request{};
    request.path = uri.c_str();
    request.channel = 0;
    request.user_data = &target;
    request.user_data_size = sizeof target;
    request.callback = external_image_done;
    if (platform::fetch_send(request) == 0) std::printf("Failed to load %s!\n", uri.c_str());
}

// Every slot is allocated first, in image order; images held in the file are
// then decoded and uploaded in that order, files named by the model requested.
void load_images(Model* model, const tinygltf::Model& gltf) {
    std::vector<ImageJob> jobs;
    for (size_t i = 0; i < gltf.images.size(); ++i) {
        const tinygltf::Image& image = gltf.images[i];
        int32_t index = static_cast<int32_t>(i);
        model->images[i] = gfx::alloc_image();
        if (image.bufferView >= 0) {
            const tinygltf::BufferView& view = gltf.bufferViews[image.bufferView];
            jobs.push_back({index, gltf.buffers[view.buffer].data.data() + view.byteOffset, view.byteLength});
        } else if (!image.image.empty()) {
            jobs.push_back({index, image.image.data(), image.image.size()});
        } else if (!image.uri.empty()) {
            request_external_image(model, index, image.uri);
        } else {
            jobs.push_back({index, nullptr, 0});  // no source: it cannot be decoded
        }
    }
    Clock::time_point start = Clock::now();
    decode_and_upload(model, jobs);
    active_stats->images_wall += seconds_since(start);
}

// ---- geometry ----

struct Staging {
    std::vector<uint8_t> indices, positions, normals, texcoords;
};

void pack(const std::vector<std::vector<PrimitiveData>>& meshes, Staging& s) {
    size_t vertices = 0, indices = 0;
    for (const auto& mesh : meshes)
        for (const PrimitiveData& d : mesh) {
            vertices += d.positions.count;
            indices += d.indices.count;
        }
    s.indices.assign(indices * 2, 0);
    s.positions.assign(vertices * 12, 0);
    s.normals.assign(vertices * 12, 0);
    s.texcoords.assign(vertices * 8, 0);
    auto copy = [](std::vector<uint8_t>& to, size_t at, const AccessorSpan& from, size_t element_size) {
        if (from.bytes && from.count) std::memcpy(to.data() + at * element_size, from.bytes, from.count * element_size);
    };
    for (const auto& mesh : meshes)
        for (const PrimitiveData& d : mesh) {
            copy(s.indices, d.first_index, d.indices, 2);
            copy(s.positions, d.first_vertex, d.positions, 12);
            copy(s.normals, d.first_vertex, d.normals, 12);
            copy(s.texcoords, d.first_vertex, d.texcoords, 8);
        }
}

gfx::Buffer make_packed_buffer(const std::vector<uint8_t>& bytes, gfx::BufferType type) {
    if (bytes.empty()) return {};
    gfx::BufferDesc desc{};
    desc.type = type;
    desc.usage = gfx::Usage::Immutable;
    desc.data = {bytes.data(), bytes.size()};
    return gfx::make_buffer(desc);
}

gfx::Image texture_image(const Model* model, const tinygltf::Model& gltf, int texture, gfx::Image fallback) {
    if (texture < 0) return fallback;
    int source = gltf.textures[texture].source;
    return source < 0 ? fallback : model->images[source];
}

void fill_material(Primitive& out, const Model* model, const tinygltf::Model& gltf, int material,
                   const std::vector<bool>& has_pbr_block) {
    if (material < 0 || static_cast<size_t>(material) >= has_pbr_block.size() || !has_pbr_block[material]) return;
    const tinygltf::Material& m = gltf.materials[material];
    const tinygltf::PbrMetallicRoughness& pbr = m.pbrMetallicRoughness;
    out.params.base_color_factor = {static_cast<float>(pbr.baseColorFactor[0]), static_cast<float>(pbr.baseColorFactor[1]),
                                    static_cast<float>(pbr.baseColorFactor[2]), static_cast<float>(pbr.baseColorFactor[3])};
    out.params.emissive_factor = {static_cast<float>(m.emissiveFactor[0]), static_cast<float>(m.emissiveFactor[1]),
                                  static_cast<float>(m.emissiveFactor[2])};
    out.params.metallic_factor = static_cast<float>(pbr.metallicFactor);
    out.params.roughness_factor = static_cast<float>(pbr.roughnessFactor);
    gfx::Image* slots = out.bindings.fs_images;
    slots[SLOT_NORMAL] = texture_image(model, gltf, m.normalTexture.index, slots[SLOT_NORMAL]);
    slots[SLOT_METALLIC_ROUGHNESS] =
        texture_image(model, gltf, pbr.metallicRoughnessTexture.index, slots[SLOT_METALLIC_ROUGHNESS]);
    slots[SLOT_BASE_COLOR] = texture_image(model, gltf, pbr.baseColorTexture.index, slots[SLOT_BASE_COLOR]);
    slots[SLOT_EMISSIVE] = texture_image(model, gltf, m.emissiveTexture.index, slots[SLOT_EMISSIVE]);
}

int32_t build_shape(const PrimitiveData& d, const Staging& s, int32_t shape_mode) {
    StatTimer timer(&ModelLoadStats::shapes);
    const float* positions = reinterpret_cast<const float*>(s.positions.data() + d.first_vertex * 12);
    int32_t vertex_count = static_cast<int32_t>(d.positions.count);
    if (shape_mode & 1) return build_convex_hull_shape(vertex_count, positions);
    if (shape_mode & 2) {
        const uint16_t* indices = reinterpret_cast<const uint16_t*>(s.indices.data() + d.first_index * 2);
        return build_mesh_shape(vertex_count, positions, static_cast<int32_t>(d.indices.count), indices);
    }
    return -1;
}

void fill_entries(Model* model, const tinygltf::Model& gltf, const std::vector<std::vector<PrimitiveData>>& meshes,
                  const Staging& staging, int32_t shape_mode, const std::vector<bool>& has_pbr_block) {
    int32_t count = 0;
    for (const tinygltf::Node& node : gltf.nodes) count += node.mesh >= 0;
    model->entry_count = count;
    model->entries = count ? static_cast<MeshEntry*>(std::calloc(count, sizeof(MeshEntry))) : nullptr;
    int32_t e = 0;
    for (const tinygltf::Node& node : gltf.nodes) {
        if (node.mesh < 0) continue;
        MeshEntry& entry = model->entries[e++];
        copy_name(entry.name, sizeof entry.name, node.name.c_str());
        if (node.translation.size() == 3)
            for (int i = 0; i < 3; ++i) entry.translation[i] = static_cast<float>(node.translation[i]);
        entry.rotation[3] = 1.0f;
        if (node.rotation.size() == 4)
            for (int i = 0; i < 4; ++i) entry.rotation[i] = static_cast<float>(node.rotation[i]);
        const tinygltf::Mesh& mesh = gltf.meshes[node.mesh];
        entry.primitive_count = static_cast<int32_t>(mesh.primitives.size());
        entry.primitives = entry.primitive_count
                               ? static_cast<Primitive*>(std::calloc(entry.primitive_count, sizeof(Primitive)))
                               : nullptr;
        for (int32_t p = 0; p < entry.primitive_count; ++p) {
            const PrimitiveData& d = meshes[node.mesh][p];
            Primitive& out = entry.primitives[p];
            gfx::Bindings& b = out.bindings;
            b.vertex_buffers[0] = model->position_buffer;
            b.vertex_buffers[1] = model->normal_buffer;
            b.vertex_buffers[2] = model->texcoord_buffer;
            b.vertex_buffer_offsets[0] = static_cast<int>(d.first_vertex * 12);
            b.vertex_buffer_offsets[1] = static_cast<int>(d.first_vertex * 12);
            b.vertex_buffer_offsets[2] = static_cast<int>(d.first_vertex * 8);
            b.index_buffer = model->index_buffer;
            b.index_buffer_offset = static_cast<int>(d.first_index * 2);
            b.fs_images[SLOT_NORMAL] = fallback_grey_image;
            b.fs_images[SLOT_METALLIC_ROUGHNESS] = fallback_black_image;
            b.fs_images[SLOT_BASE_COLOR] = fallback_white_image;
            b.fs_images[SLOT_EMISSIVE] = fallback_white_image;
            out.index_count = static_cast<int32_t>(d.indices.count);
            out.shape = build_shape(d, staging, shape_mode);
            fill_material(out, model, gltf, mesh.primitives[p].material, has_pbr_block);
        }
    }
}

gfx::Image make_fallback_image(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    uint8_t pixels[8 * 8 * 4];
    for (int i = 0; i < 64; ++i) {
        pixels[4 * i] = r;
        pixels[4 * i + 1] = g;
        pixels[4 * i + 2] = b;
        pixels[4 * i + 3] = a;
    }
    gfx::ImageDesc desc{};
    desc.width = 8;
    desc.height = 8;
    desc.usage = gfx::Usage::Immutable;
    desc.pixel_format = gfx::PixelFormat::RGBA8;
    desc.data.mip[0] = {pixels, sizeof pixels};
    return gfx::make_image(desc);
}

}  // namespace

void create_scene_pipeline() {
    if (scene_pipeline.id != 0) return;
    gfx::PipelineDesc desc{};
    desc.shader = make_program(ProgramId::SceneMetallic);
    desc.layout.attrs[0] = {0, 0, gfx::VertexFormat::Float3};
    desc.layout.attrs[1] = {1, 0, gfx::VertexFormat::Float3};
    desc.layout.attrs[2] = {2, 0, gfx::VertexFormat::Float2};
    desc.depth = {gfx::PixelFormat::DepthStencil, gfx::CompareFunc::LessEqual, true};
    desc.color.pixel_format = gfx::PixelFormat::BGRA8;
    desc.index_type = gfx::IndexType::Uint16;
    desc.cull_mode = gfx::CullMode::Back;
    desc.face_winding = gfx::FaceWinding::CCW;
    desc.sample_count = render_targets.target_sample_count;
    scene_pipeline = gfx::make_pipeline(desc);
    fallback_white_image = make_fallback_image(255, 255, 255, 255);
    fallback_black_image = make_fallback_image(0, 0, 0, 255);
    fallback_grey_image = make_fallback_image(128, 128, 128, 128);
}

void forget_scene_pipeline() {
    scene_pipeline = {};
    fallback_white_image = {};
    fallback_black_image = {};
    fallback_grey_image = {};
}

namespace {

// An exact halving (both sides even) averages each 2 x 2 block, as GPU mip
// builders do; it gives what stb_image_resize's filters give for a flat or
// smooth picture at a twentieth of the cost (4096 x 4096: 15 ms against 300).
// Odd sides go through stb_image_resize.
void halve(const uint8_t* from, int w, int h, uint8_t* to, int w2, int h2) {
    if (w != 2 * w2 || h != 2 * h2) {
        stbir_resize_uint8(from, w, h, 0, to, w2, h2, 0, 4);
        return;
    }
    const size_t row = static_cast<size_t>(w) * 4;
    for (int y = 0; y < h2; ++y) {
        const uint8_t* top = from + 2 * y * row;
        const uint8_t* bottom = top + row;
        uint8_t* out = to + static_cast<size_t>(y) * w2 * 4;
        for (int x = 0; x < w2 * 4; x += 4)
            for (int c = 0; c < 4; ++c)
                out[x + c] = static_cast<uint8_t>(
                    (top[2 * x + c] + top[2 * x + 4 + c] + bottom[2 * x + c] + bottom[2 * x + 4 + c] + 2) >> 2);
    }
}

}  // namespace

void generate_mipmaps(gfx::ImageDesc& desc) {
    int w = desc.width, h = desc.height;
    const uint8_t* previous = static_cast<const uint8_t*>(desc.data.mip[0].ptr);
    int levels = 1;
    for (int i = 0; i < max_generated_levels && previous; ++i) {
        int w2 = w / 2, h2 = h / 2;
        if (w2 < 1 || h2 < 1) break;
        size_t bytes = static_cast<size_t>(w2) * h2 * 4;
        uint8_t* level = static_cast<uint8_t*>(std::malloc(bytes));
        if (!level) break;
        halve(previous, w, h, level, w2, h2);
        desc.data.mip[levels++] = {level, bytes};
        previous = level;
        w = w2;
        h = h2;
    }
    desc.num_mipmaps = levels;
}

void free_mipmaps(gfx::ImageDesc& desc) {
    for (int i = 1; i < desc.num_mipmaps; ++i) {
        std::free(const_cast<void*>(desc.data.mip[i].ptr));
        desc.data.mip[i] = {};
    }
    desc.num_mipmaps = desc.num_mipmaps > 0 ? 1 : 0;
}

void decode_model_image(Model* model, int32_t index, const void* bytes, size_t size) {
    if (!model || index < 0 || index >= model_max_images) return;
    DecodedImage decoded = decode_image_levels(bytes, size);
    upload_decoded_image(model, index, decoded);
}

Model* load_model(const void* data, size_t size, int32_t shape_mode, const char* name, ModelLoadStats* stats) {
    Clock::time_point start = Clock::now();
    ModelLoadStats local{};
    active_stats = stats ? stats : &local;
    *active_stats = ModelLoadStats{};

    {
        StatTimer timer(&ModelLoadStats::upload);
        create_scene_pipeline();
    }
    Model* model = static_cast<Model*>(std::calloc(1, sizeof(Model)));

    ParsedModel parsed;
    std::string error;
    bool usable;
    {
        StatTimer timer(&ModelLoadStats::parse);
        usable = parse_model(data, size, parsed, error);
    }
    const tinygltf::Model& gltf = parsed.gltf;
    const std::vector<std::vector<PrimitiveData>>& meshes = parsed.meshes;
    const std::vector<bool>& has_pbr_block = parsed.has_pbr_block;
    if (!usable) {
        std::printf("Model %s: %s\n", name ? name : "model", error.c_str());
    } else {
        load_images(model, gltf);
        Staging staging;
        pack(meshes, staging);
        {
            StatTimer timer(&ModelLoadStats::upload);
            model->index_buffer = make_packed_buffer(staging.indices, gfx::BufferType::IndexBuffer);
            model->position_buffer = make_packed_buffer(staging.positions, gfx::BufferType::VertexBuffer);
            model->normal_buffer = make_packed_buffer(staging.normals, gfx::BufferType::VertexBuffer);
            model->texcoord_buffer = make_packed_buffer(staging.texcoords, gfx::BufferType::VertexBuffer);
        }
        fill_entries(model, gltf, meshes, staging, shape_mode, has_pbr_block);
        active_stats->vertices = static_cast<int32_t>(staging.positions.size() / 12);
        active_stats->indices = static_cast<int32_t>(staging.indices.size() / 2);
    }
    active_stats->total = seconds_since(start);
    active_stats = nullptr;
    return model;
}

void copy_name(char* out, size_t capacity, const char* name) {
    if (capacity == 0) return;
    size_t n = name ? strnlen(name, capacity - 1) : 0;
    if (n) std::memcpy(out, name, n);
    std::memset(out + n, 0, capacity - n);
}

void free_model(Model* model) {
    if (!model) return;
    for (gfx::Image image : model->images) gfx::destroy_image(image);
    for (gfx::Buffer buffer : {model->index_buffer, model->position_buffer, model->normal_buffer, model->texcoord_buffer})
        gfx::destroy_buffer(buffer);
    free_model_records(model);
}

void free_model_records(Model* model) {
    if (!model) return;
    for (int32_t i = 0; i < model->entry_count; ++i) std::free(model->entries[i].primitives);
    std::free(model->entries);
    std::free(model);
}

int32_t find_mesh_shape(const Model* model, const char* name) {
    if (!model || !name) return -1;
    for (int32_t i = 0; i < model->entry_count; ++i) {
        const MeshEntry& e = model->entries[i];
        if (e.primitive_count > 0 && std::strcmp(e.name, name) == 0) return e.primitives[0].shape;
    }
    return -1;
}

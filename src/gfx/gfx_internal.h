// What the parts of the graphics layer share: the pools and their slots, the
// module state, the GL state cache, the GL translations of the description
// enums and the refusal log. Not part of the layer's contract (gfx.h).
//
// The parts: pools.cpp (set-up, pools and handles, queries, destruction),
// rules.cpp (defaults and validation, no GL), create.cpp (GL object creation),
// frame.cpp (updates, passes, applies, draws, uniform ring, commit, stats),
// state_cache.cpp (the GL state cache).
#pragma once
#include <epoxy/gl.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "gfx/gfx.h"
#include "gfx/gfx_rules.h"

namespace gfx::detail {

constexpr uint32_t SLOT_MASK = 0xffff;
constexpr int GEN_SHIFT = 16;
constexpr GLuint UNKNOWN = 0xffffffffu;  // "the cache does not know", never a GL value
constexpr int VS_IMAGE_UNIT_BASE = MAX_SHADERSTAGE_IMAGES;
constexpr int NUM_TEXTURE_UNITS = MAX_SHADERSTAGE_IMAGES + MAX_VS_IMAGES;
constexpr int FS_UB_BINDING_BASE = MAX_SHADERSTAGE_UBS;
constexpr int RING_REGIONS = 3;  // frames the GPU may still be reading per-frame data of

enum class ObjectKind { Buffer, Image, Shader, Pipeline, Pass, Count };

// ---------------------------------------------------------------- pools

// Dynamic and stream buffers hold RING_REGIONS regions of `size` bytes. A
// frame that writes one moves on to its next region, and draws read the region
// last written. Commit waits until the frame three back is done (the uniform
// ring's fences), so the two frames still in flight read at most the last two
// regions written, and the write never waits on the GPU.
struct BufferSlot {
    uint32_t id;
    ResourceState state;
    GLuint gl;
    size_t size;         // of one region: what the buffer's users see
    BufferType type;
    Usage usage;
    int region;          // the region last written; draws read it
    uint32_t frame;      // the frame the fields below belong to
    size_t append_pos;
    bool appended, updated, overflow;
    bool region_moved;   // this frame writes its own region already
};

struct ImageSlot {
    uint32_t id;
    ResourceState state;
    GLuint tex;      // what bindings sample (a 4-sample colour target's resolve texture); 0: not sampleable
    GLuint rb;       // multisampled renderbuffer of a 4-sample target
    GLuint sampler;
    int width, height, num_mipmaps, sample_count;
    PixelFormat format;
    Usage usage;
    bool render_target;
    uint32_t updated_frame;  // frame index + 1 of the last update; 0: never
};

struct ShaderSlot {
    uint32_t id;
    ResourceState state;
    GLuint program;
    size_t ub_size[2][MAX_SHADERSTAGE_UBS];
    bool has_image[2][MAX_SHADERSTAGE_IMAGES];
};

struct PipelineSlot {
    uint32_t id;
    ResourceState state;
    Shader shader;
    ShaderSlot* shd;
    GLuint vao;
    int stride[MAX_VERTEX_BUFFERS];
    uint8_t used_buffers;  // bit i: vertex buffer i feeds an attribute
    GLenum primitive;
    IndexType index_type;
    PixelFormat color_format, depth_format;
    int sample_count;
    bool depth_test, depth_write;
    GLenum depth_func;
    bool blend;
    GLenum blend_src_rgb, blend_dst_rgb, blend_src_a, blend_dst_a, blend_eq_rgb, blend_eq_a;
    uint8_t color_mask;  // RGBA bits
    bool cull;
    GLenum cull_face, front_face;
    // What this pipeline's vertex array object holds now.
    GLuint vao_buffer[MAX_VERTEX_BUFFERS];
    GLintptr vao_offset[MAX_VERTEX_BUFFERS];
    GLuint vao_index_buffer;
};

struct PassSlot {
    uint32_t id;
    ResourceState state;
    GLuint fbo;
    GLuint resolve_fbo;  // 4-sample colour: blit target at end_pass
    Image color_image, depth_image;
    int width, height, sample_count;
    PixelFormat color_format, depth_format;
};

template <class T>
struct Pool {
    std::vector<T> slots;  // slot 0 is never handed out
    std::vector<uint16_t> generation;
    std::vector<uint32_t> free_list;

    void init(int n) {
        n = std::clamp(n, 1, int(SLOT_MASK) - 1);
        slots.assign(size_t(n) + 1, T{});
        generation.assign(size_t(n) + 1, 0);
        free_list.clear();
        for (uint32_t i = uint32_t(n); i >= 1; --i) free_list.push_back(i);
    }
    uint32_t alloc() {
        if (free_list.empty()) return 0;
        uint32_t index = free_list.back();
        free_list.pop_back();
        if (++generation[index] == 0) generation[index] = 1;
        slots[index] = T{};
        slots[index].id = index | uint32_t(generation[index]) << GEN_SHIFT;
        slots[index].state = ResourceState::Alloc;
        return slots[index].id;
    }
    T* lookup(uint32_t id) {
        uint32_t index = id & SLOT_MASK;
        if (id == 0 || index == 0 || index >= slots.size() || slots[index].id != id) return nullptr;
        return &slots[index];
    }
    void release(T* slot) {
        uint32_t index = slot->id & SLOT_MASK;
        *slot = T{};
        free_list.push_back(index);
    }
};

// ---------------------------------------------------------------- module state

struct GlCache {
    GLuint program, vao, draw_fbo;
    GLint viewport[4];
    GLenum clip_origin;
    GLuint depth_test, depth_write;
    GLenum depth_func;
    GLuint blend;
    GLenum blend_src_rgb, blend_dst_rgb, blend_src_a, blend_dst_a, blend_eq_rgb, blend_eq_a;
    GLuint color_mask;
    GLuint cull;
    GLenum cull_face, front_face;
    GLuint texture[NUM_TEXTURE_UNITS];
    GLuint sampler[NUM_TEXTURE_UNITS];
};

struct State {
    bool valid = false;
    Features features{};
    Pool<BufferSlot> buffers;
    Pool<ImageSlot> images;
    Pool<ShaderSlot> shaders;
    Pool<PipelineSlot> pipelines;
    Pool<PassSlot> passes;
    uint32_t frame_index = 0;
    FrameStats stats{};
    char last_error[512] = "";
    bool refusal_told[int(ObjectKind::Count)] = {};
    int max_texture_size = 0;

    // The current pass.
    bool in_pass = false;
    bool pass_valid = false;
    PassSlot* pass = nullptr;  // nullptr in the window's pass
    PixelFormat pass_color = PixelFormat::None, pass_depth = PixelFormat::None;
    int pass_samples = 1;

    // The current pipeline and bindings; a draw goes ahead only when both are good.
    PipelineSlot* pip = nullptr;
    SkipReason pip_refused = SkipReason::NoPipeline;
    bool bindings_ok = false;
    BufferSlot* bound[MAX_VERTEX_BUFFERS + 1] = {};
    int num_bound = 0;
    GLenum index_gl_type = 0;
    int index_size = 0;
    size_t index_offset = 0;  // bytes into the index buffer
    SkipReason pending_uniform_skip = SkipReason::None;  // spoils the next draw

    // Uniform ring: RING_REGIONS regions of ring_size bytes, one per frame in flight.
    GLuint ubo = 0;
    uint8_t* ubo_ptr = nullptr;
    size_t ring_size = 0;
    size_t ring_align = UNIFORM_ALIGNMENT;
    size_t ring_pos = 0;
    int ring_region = 0;
    GLsync fences[RING_REGIONS] = {};

    GlCache cache{};
};

extern State st;

// ---------------------------------------------------------------- refusals and stats

// Records why an object (or an update of one) was refused: last_error() gives
// it. The first refusal of each kind of object since setup prints one line on
// stderr in every build; builds without NDEBUG print every refusal in full.
void refuse(ObjectKind kind, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void refuse(ObjectKind kind, const rules::Refusal& why);

void skip(SkipReason reason);
void set_label(GLenum kind, GLuint name, const char* label);

// ---------------------------------------------------------------- GL state cache (state_cache.cpp)

void cache_forget();
void set_enabled(GLuint& cached, GLenum cap, bool on);
void bind_draw_framebuffer(GLuint fbo);
void set_viewport(int w, int h);
void set_clip_origin(GLenum origin);
void set_color_mask(uint8_t mask);
void set_depth_write(bool on);
void bind_texture(int unit, GLuint tex, GLuint sampler);

// ---------------------------------------------------------------- GL objects (create.cpp)

struct GlFormat {
    GLenum internal, format, type;
};
GlFormat gl_format(PixelFormat f);
void upload_levels(const ImageSlot& img, const ImageData& data);

void free_buffer_gl(BufferSlot& b);
void free_image_gl(ImageSlot& img);
void free_shader_gl(ShaderSlot& s);
void free_pipeline_gl(PipelineSlot& p);
void free_pass_gl(PassSlot& p);

// ---------------------------------------------------------------- lookups (pools.cpp)

ImageSlot* valid_image(Image img);

// The slot an init may fill: allocated and not yet initialised.
template <class T>
T* slot_for_init(Pool<T>& pool, uint32_t id) {
    if (!st.valid) return nullptr;
    T* slot = pool.lookup(id);
    return slot && slot->state == ResourceState::Alloc ? slot : nullptr;
}

// ---------------------------------------------------------------- the frame (frame.cpp)

void reset_draw_state();

}  // namespace gfx::detail

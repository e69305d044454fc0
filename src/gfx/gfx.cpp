// The graphics layer over OpenGL 4.5 core (direct state access throughout).
// One module state below; pools of slots addressed by handle; a cache of the
// GL state that draws change most, so repeated applies cost no GL calls.
#include "gfx/gfx.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace gfx {
namespace {

constexpr uint32_t SLOT_MASK = 0xffff;
constexpr int GEN_SHIFT = 16;
constexpr GLuint UNKNOWN = 0xffffffffu;  // "the cache does not know", never a GL value
constexpr int VS_IMAGE_UNIT_BASE = MAX_SHADERSTAGE_IMAGES;
constexpr int NUM_TEXTURE_UNITS = MAX_SHADERSTAGE_IMAGES + MAX_VS_IMAGES;
constexpr int FS_UB_BINDING_BASE = MAX_SHADERSTAGE_UBS;
constexpr int RING_REGIONS = 3;  // frames the GPU may still be reading uniform data of

// ---------------------------------------------------------------- pools

struct BufferSlot {
    uint32_t id;
    ResourceState state;
    GLuint gl;
    size_t size;
    BufferType type;
    Usage usage;
    uint32_t frame;  // the frame the fields below belong to
    size_t append_pos;
    bool appended, updated, overflow;
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
    int vao_offset[MAX_VERTEX_BUFFERS];
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

// ---------------------------------------------------------------- state

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
    int index_offset = 0;
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
State st;

void fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void fail(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(st.last_error, sizeof st.last_error, fmt, args);
    va_end(args);
#ifndef NDEBUG
    std::fprintf(stderr, "gfx: %s\n", st.last_error);
#endif
}

const char* label_or(const char* label, const char* fallback) { return label ? label : fallback; }

void set_label(GLenum kind, GLuint name, const char* label) {
    if (label && name) glObjectLabel(kind, name, -1, label);
}

void skip(SkipReason reason) {
    st.stats.draws_skipped++;
    st.stats.skipped_by_reason[int(reason)]++;
    st.stats.last_skip_reason = reason;
}

// ---------------------------------------------------------------- GL state cache

void cache_forget() {
    GlCache& c = st.cache;
    std::memset(&c, 0xff, sizeof c);  // every field UNKNOWN
    for (auto& p : st.pipelines.slots) {
        for (int i = 0; i < MAX_VERTEX_BUFFERS; ++i) p.vao_buffer[i] = UNKNOWN;
        p.vao_index_buffer = UNKNOWN;
    }
}

void set_enabled(GLuint& cached, GLenum cap, bool on) {
    if (cached == GLuint(on)) return;
    cached = on;
    on ? glEnable(cap) : glDisable(cap);
}

void bind_draw_framebuffer(GLuint fbo) {
    if (st.cache.draw_fbo == fbo) return;
    st.cache.draw_fbo = fbo;
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, fbo);
}

void set_viewport(int w, int h) {
    GLint* v = st.cache.viewport;
    if (v[0] == 0 && v[1] == 0 && v[2] == w && v[3] == h) return;
    v[0] = 0, v[1] = 0, v[2] = w, v[3] = h;
    glViewport(0, 0, w, h);
}

void set_clip_origin(GLenum origin) {
    if (st.cache.clip_origin == origin) return;
    st.cache.clip_origin = origin;
    glClipControl(origin, GL_ZERO_TO_ONE);
}

void set_color_mask(uint8_t mask) {
    if (st.cache.color_mask == mask) return;
    st.cache.color_mask = mask;
    glColorMask(mask & 1, (mask >> 1) & 1, (mask >> 2) & 1, (mask >> 3) & 1);
}

void set_depth_write(bool on) {
    if (st.cache.depth_write == GLuint(on)) return;
    st.cache.depth_write = on;
    glDepthMask(on ? GL_TRUE : GL_FALSE);
}

void bind_texture(int unit, GLuint tex, GLuint sampler) {
    if (st.cache.texture[unit] != tex) {
        st.cache.texture[unit] = tex;
        glBindTextureUnit(GLuint(unit), tex);
    }
    if (st.cache.sampler[unit] != sampler) {
        st.cache.sampler[unit] = sampler;
        glBindSampler(GLuint(unit), sampler);
    }
}

// ---------------------------------------------------------------- formats

struct GlFormat {
    GLenum internal, format, type;
    int bytes_per_pixel;
};

GlFormat gl_format(PixelFormat f) {
    switch (f) {
        case PixelFormat::RGBA8: return {GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, 4};
        case PixelFormat::BGRA8: return {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, 4};
        case PixelFormat::R32F: return {GL_R32F, GL_RED, GL_FLOAT, 4};
        case PixelFormat::Depth: return {GL_DEPTH_COMPONENT32F, GL_DEPTH_COMPONENT, GL_FLOAT, 4};
        case PixelFormat::DepthStencil: return {GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, 4};
        default: return {0, 0, 0, 0};
    }
}

bool is_depth_format(PixelFormat f) { return f == PixelFormat::Depth || f == PixelFormat::DepthStencil; }
bool is_color_format(PixelFormat f) {
    return f == PixelFormat::RGBA8 || f == PixelFormat::BGRA8 || f == PixelFormat::R32F;
}

GLenum gl_filter(Filter f, bool mag) {
    switch (f) {
        case Filter::Linear: return GL_LINEAR;
        case Filter::NearestMipmapNearest: return mag ? GL_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
        case Filter::NearestMipmapLinear: return mag ? GL_NEAREST : GL_NEAREST_MIPMAP_LINEAR;
        case Filter::LinearMipmapNearest: return mag ? GL_LINEAR : GL_LINEAR_MIPMAP_NEAREST;
        case Filter::LinearMipmapLinear: return mag ? GL_LINEAR : GL_LINEAR_MIPMAP_LINEAR;
        default: return GL_NEAREST;
    }
}

GLenum gl_wrap(Wrap w) {
    switch (w) {
        case Wrap::ClampToEdge: return GL_CLAMP_TO_EDGE;
        case Wrap::MirroredRepeat: return GL_MIRRORED_REPEAT;
        default: return GL_REPEAT;
    }
}

GLenum gl_compare(CompareFunc f) {
    switch (f) {
        case CompareFunc::Never: return GL_NEVER;
        case CompareFunc::Less: return GL_LESS;
        case CompareFunc::Equal: return GL_EQUAL;
        case CompareFunc::LessEqual: return GL_LEQUAL;
        case CompareFunc::Greater: return GL_GREATER;
        case CompareFunc::NotEqual: return GL_NOTEQUAL;
        case CompareFunc::GreaterEqual: return GL_GEQUAL;
        default: return GL_ALWAYS;
    }
}

GLenum gl_blend_factor(BlendFactor f, GLenum fallback) {
    switch (f) {
        case BlendFactor::Zero: return GL_ZERO;
        case BlendFactor::One: return GL_ONE;
        case BlendFactor::SrcColor: return GL_SRC_COLOR;
        case BlendFactor::OneMinusSrcColor: return GL_ONE_MINUS_SRC_COLOR;
        case BlendFactor::SrcAlpha: return GL_SRC_ALPHA;
        case BlendFactor::OneMinusSrcAlpha: return GL_ONE_MINUS_SRC_ALPHA;
        case BlendFactor::DstColor: return GL_DST_COLOR;
        case BlendFactor::OneMinusDstColor: return GL_ONE_MINUS_DST_COLOR;
        case BlendFactor::DstAlpha: return GL_DST_ALPHA;
        case BlendFactor::OneMinusDstAlpha: return GL_ONE_MINUS_DST_ALPHA;
        default: return fallback;
    }
}

GLenum gl_blend_op(BlendOp op) {
    switch (op) {
        case BlendOp::Subtract: return GL_FUNC_SUBTRACT;
        case BlendOp::ReverseSubtract: return GL_FUNC_REVERSE_SUBTRACT;
        default: return GL_FUNC_ADD;
    }
}

GLenum gl_primitive(PrimitiveType p) {
    switch (p) {
        case PrimitiveType::Points: return GL_POINTS;
        case PrimitiveType::Lines: return GL_LINES;
        case PrimitiveType::LineStrip: return GL_LINE_STRIP;
        case PrimitiveType::TriangleStrip: return GL_TRIANGLE_STRIP;
        default: return GL_TRIANGLES;
    }
}

struct GlVertexFormat {
    GLint components;
    GLenum type;
    GLboolean normalized;
    int bytes;
};

GlVertexFormat gl_vertex_format(VertexFormat f) {
    switch (f) {
        case VertexFormat::Float: return {1, GL_FLOAT, GL_FALSE, 4};
        case VertexFormat::Float2: return {2, GL_FLOAT, GL_FALSE, 8};
        case VertexFormat::Float3: return {3, GL_FLOAT, GL_FALSE, 12};
        case VertexFormat::Float4: return {4, GL_FLOAT, GL_FALSE, 16};
        case VertexFormat::UByte4N: return {4, GL_UNSIGNED_BYTE, GL_TRUE, 4};
        default: return {0, 0, GL_FALSE, 0};
    }
}

int mip_extent(int size, int level) { return std::max(1, size >> level); }

size_t level_bytes(const ImageSlot& img, int level) {
    return size_t(mip_extent(img.width, level)) * size_t(mip_extent(img.height, level)) *
           size_t(gl_format(img.format).bytes_per_pixel);
}

// Checks every level the caller supplied (all of them when `all_required`).
bool check_levels(const ImageSlot& img, const ImageData& data, bool all_required, const char* label) {
    for (int level = 0; level < img.num_mipmaps; ++level) {
        const Range& r = data.mip[level];
        if (!r.ptr) {
            if (all_required) {
                fail("image '%s': mip level %d of %d has no data", label, level, img.num_mipmaps);
                return false;
            }
            continue;
        }
        if (r.size != level_bytes(img, level)) {
            fail("image '%s': mip level %d holds %zu bytes, %zu expected for %dx%d", label, level, r.size,
                 level_bytes(img, level), mip_extent(img.width, level), mip_extent(img.height, level));
            return false;
        }
    }
    return true;
}

void upload_levels(const ImageSlot& img, const ImageData& data) {
    GlFormat f = gl_format(img.format);
    for (int level = 0; level < img.num_mipmaps; ++level) {
        if (!data.mip[level].ptr) continue;
        glTextureSubImage2D(img.tex, level, 0, 0, mip_extent(img.width, level), mip_extent(img.height, level),
                            f.format, f.type, data.mip[level].ptr);
    }
}

// ---------------------------------------------------------------- shaders

GLuint compile_stage(GLenum kind, const ShaderStageDesc& desc, const char* label) {
    const char* stage = kind == GL_VERTEX_SHADER ? "vertex" : "fragment";
    if (!desc.source) {
        fail("shader '%s': no %s source", label, stage);
        return 0;
    }
    if (desc.entry && std::strcmp(desc.entry, "main") != 0) {
        fail("shader '%s': %s entry point '%s' is not \"main\"", label, stage, desc.entry);
        return 0;
    }
    GLuint sh = glCreateShader(kind);
    glShaderSource(sh, 1, &desc.source, nullptr);
    glCompileShader(sh);
    GLint ok = 0;
    glGetShaderiv(sh, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[1024] = "";
        glGetShaderInfoLog(sh, sizeof log, nullptr, log);
        fail("shader '%s': %s stage does not compile:\n%s", label, stage, log);
        glDeleteShader(sh);
        return 0;
    }
    return sh;
}

GLuint link_program(const ShaderDesc& desc, const char* label) {
    GLuint vs = compile_stage(GL_VERTEX_SHADER, desc.vs, label);
    if (!vs) return 0;
    GLuint fs = compile_stage(GL_FRAGMENT_SHADER, desc.fs, label);
    if (!fs) {
        glDeleteShader(vs);
        return 0;
    }
    GLuint prog = glCreateProgram();
    glAttachShader(prog, vs);
    glAttachShader(prog, fs);
    for (int k = 0; k < MAX_VERTEX_ATTRIBUTES; ++k) {
        if (desc.attrs[k].name) glBindAttribLocation(prog, GLuint(k), desc.attrs[k].name);
    }
    glLinkProgram(prog);
    glDetachShader(prog, vs);
    glDetachShader(prog, fs);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(prog, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[1024] = "";
        glGetProgramInfoLog(prog, sizeof log, nullptr, log);
        fail("shader '%s': program does not link:\n%s", label, log);
        glDeleteProgram(prog);
        return 0;
    }
    return prog;
}

// Binds the named blocks, then checks that every block the program uses sits at
// a declared binding and fits the declared size.
bool bind_uniform_blocks(GLuint prog, const ShaderDesc& desc, ShaderSlot& shd, const char* label) {
    const ShaderStageDesc* stages[2] = {&desc.vs, &desc.fs};
    for (int s = 0; s < 2; ++s) {
        for (int k = 0; k < MAX_SHADERSTAGE_UBS; ++k) {
            const ShaderUniformBlockDesc& ub = stages[s]->uniform_blocks[k];
            shd.ub_size[s][k] = ub.size;
            if (ub.size == 0 || !ub.name) continue;
            GLuint index = glGetUniformBlockIndex(prog, ub.name);
            if (index != GL_INVALID_INDEX) glUniformBlockBinding(prog, index, GLuint(s * FS_UB_BINDING_BASE + k));
        }
    }
    GLint count = 0;
    glGetProgramiv(prog, GL_ACTIVE_UNIFORM_BLOCKS, &count);
    for (GLint i = 0; i < count; ++i) {
        GLint binding = 0, size = 0;
        glGetActiveUniformBlockiv(prog, GLuint(i), GL_UNIFORM_BLOCK_BINDING, &binding);
        glGetActiveUniformBlockiv(prog, GLuint(i), GL_UNIFORM_BLOCK_DATA_SIZE, &size);
        char name[128] = "";
        glGetActiveUniformBlockName(prog, GLuint(i), sizeof name, nullptr, name);
        int s = binding / FS_UB_BINDING_BASE, k = binding % FS_UB_BINDING_BASE;
        if (binding < 0 || s > 1 || shd.ub_size[s][k] == 0) {
            fail("shader '%s': uniform block '%s' sits at binding %d, where no block is declared", label, name,
                 binding);
            return false;
        }
        if (size_t(size) > shd.ub_size[s][k]) {
            fail("shader '%s': uniform block '%s' takes %d bytes, %zu declared", label, name, size,
                 shd.ub_size[s][k]);
            return false;
        }
    }
    return true;
}

void bind_image_units(GLuint prog, const ShaderDesc& desc, ShaderSlot& shd) {
    const ShaderStageDesc* stages[2] = {&desc.vs, &desc.fs};
    for (int s = 0; s < 2; ++s) {
        int slots = s == 0 ? MAX_VS_IMAGES : MAX_SHADERSTAGE_IMAGES;
        for (int k = 0; k < slots; ++k) {
            const char* name = stages[s]->images[k].name;
            if (!name) continue;
            shd.has_image[s][k] = true;
            GLint loc = glGetUniformLocation(prog, name);
            if (loc >= 0) glProgramUniform1i(prog, loc, s == 0 ? VS_IMAGE_UNIT_BASE + k : k);
        }
    }
}

// ---------------------------------------------------------------- destruction

void free_buffer_gl(BufferSlot& b) {
    if (b.gl) glDeleteBuffers(1, &b.gl);
}
void free_image_gl(ImageSlot& img) {
    if (img.tex) glDeleteTextures(1, &img.tex);
    if (img.rb) glDeleteRenderbuffers(1, &img.rb);
    if (img.sampler) glDeleteSamplers(1, &img.sampler);
}
void free_shader_gl(ShaderSlot& s) {
    if (s.program) glDeleteProgram(s.program);
}
void free_pipeline_gl(PipelineSlot& p) {
    if (p.vao) glDeleteVertexArrays(1, &p.vao);
}
void free_pass_gl(PassSlot& p) {
    if (p.fbo) glDeleteFramebuffers(1, &p.fbo);
    if (p.resolve_fbo) glDeleteFramebuffers(1, &p.resolve_fbo);
}

// GL reuses deleted names, so nothing cached may outlive the object it names.
template <class T>
void destroy_slot(Pool<T>& pool, uint32_t id, void (*free_gl)(T&)) {
    if (!st.valid) return;
    T* slot = pool.lookup(id);
    if (!slot) return;
    free_gl(*slot);
    pool.release(slot);
    cache_forget();
}

template <class T>
ResourceState query_state(Pool<T>& pool, uint32_t id) {
    if (!st.valid) return ResourceState::Invalid;
    T* slot = pool.lookup(id);
    return slot ? slot->state : ResourceState::Invalid;
}

// The slot an init may fill: allocated and not yet initialised.
template <class T>
T* slot_for_init(Pool<T>& pool, uint32_t id) {
    if (!st.valid) return nullptr;
    T* slot = pool.lookup(id);
    return slot && slot->state == ResourceState::Alloc ? slot : nullptr;
}

void touch(BufferSlot& b) {
    if (b.frame == st.frame_index) return;
    b.frame = st.frame_index;
    b.append_pos = 0;
    b.appended = b.updated = b.overflow = false;
}

bool is_overflowed(const BufferSlot& b) { return b.frame == st.frame_index && b.overflow; }

void reset_draw_state() {
    st.pip = nullptr;
    st.pip_refused = SkipReason::NoPipeline;
    st.bindings_ok = false;
    st.num_bound = 0;
    st.pending_uniform_skip = SkipReason::None;
}

bool pass_accepts_applies() {
    if (st.in_pass && st.pass_valid) return true;
    st.stats.applies_ignored++;
    return false;
}

ImageSlot* valid_image(Image img) {
    ImageSlot* s = st.images.lookup(img.id);
    return s && s->state == ResourceState::Valid ? s : nullptr;
}

}  // namespace

// ---------------------------------------------------------------- setup

void setup(const Desc& desc) {
    if (st.valid) shutdown();
    st = State();
    st.buffers.init(desc.buffer_pool_size ? desc.buffer_pool_size : 128);
    st.images.init(desc.image_pool_size ? desc.image_pool_size : 128);
    st.shaders.init(desc.shader_pool_size ? desc.shader_pool_size : 32);
    st.pipelines.init(desc.pipeline_pool_size ? desc.pipeline_pool_size : 64);
    st.passes.init(desc.pass_pool_size ? desc.pass_pool_size : 16);

    GLint max_samples = 0, align = 0;
    glGetIntegerv(GL_MAX_SAMPLES, &max_samples);
    glGetIntegerv(GL_UNIFORM_BUFFER_OFFSET_ALIGNMENT, &align);
    st.features.msaa_render_targets = max_samples >= 4;
    st.ring_align = std::max<size_t>(UNIFORM_ALIGNMENT, size_t(std::max(align, 1)));

    st.ring_size = desc.uniform_buffer_size > 0 ? size_t(desc.uniform_buffer_size) : size_t(8) << 20;
    st.ring_size = (st.ring_size + st.ring_align - 1) / st.ring_align * st.ring_align;
    const GLbitfield flags = GL_MAP_WRITE_BIT | GL_MAP_PERSISTENT_BIT | GL_MAP_COHERENT_BIT;
    glCreateBuffers(1, &st.ubo);
    glNamedBufferStorage(st.ubo, GLsizeiptr(st.ring_size * RING_REGIONS), nullptr, flags);
    st.ubo_ptr = static_cast<uint8_t*>(glMapNamedBufferRange(st.ubo, 0, GLsizeiptr(st.ring_size * RING_REGIONS), flags));
    set_label(GL_BUFFER, st.ubo, "uniform-ring");

    // State this layer never changes again.
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_FRAMEBUFFER_SRGB);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    st.valid = true;
    cache_forget();
}

void shutdown() {
    if (!st.valid) return;
    for (auto& s : st.passes.slots) if (s.id) free_pass_gl(s);
    for (auto& s : st.pipelines.slots) if (s.id) free_pipeline_gl(s);
    for (auto& s : st.shaders.slots) if (s.id) free_shader_gl(s);
    for (auto& s : st.images.slots) if (s.id) free_image_gl(s);
    for (auto& s : st.buffers.slots) if (s.id) free_buffer_gl(s);
    for (GLsync& f : st.fences) {
        if (f) glDeleteSync(f);
        f = nullptr;
    }
    if (st.ubo) {
        glUnmapNamedBuffer(st.ubo);
        glDeleteBuffers(1, &st.ubo);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindVertexArray(0);
    glUseProgram(0);
    st.valid = false;
}

bool is_setup() { return st.valid; }
Features query_features() { return st.features; }
void reset_state_cache() {
    if (st.valid) cache_forget();
}
const char* last_error() { return st.last_error; }

// ---------------------------------------------------------------- alloc / init / make

Buffer alloc_buffer() { return {st.valid ? st.buffers.alloc() : 0}; }
Image alloc_image() { return {st.valid ? st.images.alloc() : 0}; }
Shader alloc_shader() { return {st.valid ? st.shaders.alloc() : 0}; }
Pipeline alloc_pipeline() { return {st.valid ? st.pipelines.alloc() : 0}; }
Pass alloc_pass() { return {st.valid ? st.passes.alloc() : 0}; }

void init_buffer(Buffer handle, const BufferDesc& desc) {
    BufferSlot* b = slot_for_init(st.buffers, handle.id);
    if (!b) return;
    const char* label = label_or(desc.label, "(unlabelled buffer)");
    b->state = ResourceState::Failed;
    b->type = desc.type == BufferType::Default ? BufferType::VertexBuffer : desc.type;
    b->usage = desc.usage == Usage::Default ? Usage::Immutable : desc.usage;
    b->size = desc.size ? desc.size : desc.data.size;
    if (b->size == 0) {
        fail("buffer '%s': size 0", label);
        return;
    }
    if (b->usage == Usage::Immutable && !desc.data.ptr) {
        fail("buffer '%s': an immutable buffer needs its data", label);
        return;
    }
    if (desc.data.ptr && desc.data.size > b->size) {
        fail("buffer '%s': %zu bytes of data exceed its size %zu", label, desc.data.size, b->size);
        return;
    }
    glCreateBuffers(1, &b->gl);
    GLbitfield flags = b->usage == Usage::Immutable ? 0 : GL_DYNAMIC_STORAGE_BIT;
    if (desc.data.ptr && desc.data.size == b->size) {
        glNamedBufferStorage(b->gl, GLsizeiptr(b->size), desc.data.ptr, flags);
    } else {
        glNamedBufferStorage(b->gl, GLsizeiptr(b->size), nullptr, flags);
        if (desc.data.ptr) glNamedBufferSubData(b->gl, 0, GLsizeiptr(desc.data.size), desc.data.ptr);
    }
    set_label(GL_BUFFER, b->gl, desc.label);
    b->frame = st.frame_index;
    b->state = ResourceState::Valid;
}

void init_image(Image handle, const ImageDesc& desc) {
    ImageSlot* img = slot_for_init(st.images, handle.id);
    if (!img) return;
    const char* label = label_or(desc.label, "(unlabelled image)");
    img->state = ResourceState::Failed;
    img->render_target = desc.render_target;
    img->width = desc.width;
    img->height = desc.height;
    img->num_mipmaps = desc.num_mipmaps ? desc.num_mipmaps : 1;
    img->sample_count = desc.sample_count ? desc.sample_count : 1;
    img->usage = desc.usage == Usage::Default ? Usage::Immutable : desc.usage;
    img->format = desc.pixel_format != PixelFormat::Default ? desc.pixel_format
                  : desc.render_target                      ? PixelFormat::BGRA8
                                                            : PixelFormat::RGBA8;
    GLint max_size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
    if (img->width <= 0 || img->height <= 0 || img->width > max_size || img->height > max_size) {
        fail("image '%s': size %dx%d is outside 1..%d", label, img->width, img->height, max_size);
        return;
    }
    if (gl_format(img->format).internal == 0) {
        fail("image '%s': pixel format None cannot be stored", label);
        return;
    }
    int full_chain = 1;
    while ((std::max(img->width, img->height) >> full_chain) > 0) ++full_chain;
    if (img->num_mipmaps < 1 || img->num_mipmaps > std::min(full_chain, MAX_MIPMAPS)) {
        fail("image '%s': %d mip levels, a %dx%d image has 1..%d", label, img->num_mipmaps, img->width,
             img->height, full_chain);
        return;
    }
    if (img->sample_count != 1 && (!img->render_target || img->sample_count != 4 || !st.features.msaa_render_targets)) {
        fail("image '%s': sample count %d (only render targets take 4, where the driver has it)", label,
             img->sample_count);
        return;
    }
    if (img->sample_count > 1 && img->num_mipmaps > 1) {
        fail("image '%s': a multisampled target has one mip level", label);
        return;
    }
    if (!img->render_target &&
        !check_levels(*img, desc.data, img->usage == Usage::Immutable, label))
        return;

    GlFormat f = gl_format(img->format);
    bool msaa = img->sample_count > 1;
    if (msaa) {
        glCreateRenderbuffers(1, &img->rb);
        glNamedRenderbufferStorageMultisample(img->rb, img->sample_count, f.internal, img->width, img->height);
        set_label(GL_RENDERBUFFER, img->rb, desc.label);
    }
    // A multisampled depth target is only ever attached; everything else gets a texture.
    if (!msaa || !is_depth_format(img->format)) {
        glCreateTextures(GL_TEXTURE_2D, 1, &img->tex);
        glTextureStorage2D(img->tex, img->num_mipmaps, f.internal, img->width, img->height);
        set_label(GL_TEXTURE, img->tex, desc.label);
        if (!img->render_target) upload_levels(*img, desc.data);
    }
    glCreateSamplers(1, &img->sampler);
    glSamplerParameteri(img->sampler, GL_TEXTURE_MIN_FILTER, GLint(gl_filter(desc.min_filter, false)));
    glSamplerParameteri(img->sampler, GL_TEXTURE_MAG_FILTER, GLint(gl_filter(desc.mag_filter, true)));
    glSamplerParameteri(img->sampler, GL_TEXTURE_WRAP_S, GLint(gl_wrap(desc.wrap_u)));
    glSamplerParameteri(img->sampler, GL_TEXTURE_WRAP_T, GLint(gl_wrap(desc.wrap_v)));
    set_label(GL_SAMPLER, img->sampler, desc.label);
    img->state = ResourceState::Valid;
}

void init_shader(Shader handle, const ShaderDesc& desc) {
    ShaderSlot* shd = slot_for_init(st.shaders, handle.id);
    if (!shd) return;
    const char* label = label_or(desc.label, "(unlabelled shader)");
    shd->state = ResourceState::Failed;
    GLuint prog = link_program(desc, label);
    if (!prog) return;
    if (!bind_uniform_blocks(prog, desc, *shd, label)) {
        glDeleteProgram(prog);
        return;
    }
    bind_image_units(prog, desc, *shd);
    set_label(GL_PROGRAM, prog, desc.label);
    shd->program = prog;
    shd->state = ResourceState::Valid;
}

void init_pipeline(Pipeline handle, const PipelineDesc& desc) {
    PipelineSlot* p = slot_for_init(st.pipelines, handle.id);
    if (!p) return;
    const char* label = label_or(desc.label, "(unlabelled pipeline)");
    p->state = ResourceState::Failed;
    ShaderSlot* shd = st.shaders.lookup(desc.shader.id);
    if (!shd || shd->state != ResourceState::Valid) {
        fail("pipeline '%s': its shader is not valid", label);
        return;
    }
    p->shader = desc.shader;
    p->shd = shd;

    p->color_format = desc.color.pixel_format == PixelFormat::Default ? PixelFormat::BGRA8 : desc.color.pixel_format;
    p->depth_format = desc.depth.pixel_format == PixelFormat::Default ? PixelFormat::DepthStencil : desc.depth.pixel_format;
    p->sample_count = desc.sample_count ? desc.sample_count : 1;
    if (!is_color_format(p->color_format)) {
        fail("pipeline '%s': colour format is not a colour format", label);
        return;
    }
    if (p->depth_format != PixelFormat::None && !is_depth_format(p->depth_format)) {
        fail("pipeline '%s': depth format is not a depth format", label);
        return;
    }

    // Vertex layout: offsets and strides not given are packed in attribute order.
    int packed[MAX_VERTEX_BUFFERS] = {};
    struct Attr { int buffer, offset; GlVertexFormat fmt; };
    Attr attrs[MAX_VERTEX_ATTRIBUTES];
    int num_attrs = 0;
    for (; num_attrs < MAX_VERTEX_ATTRIBUTES; ++num_attrs) {
        const VertexAttrDesc& a = desc.layout.attrs[num_attrs];
        if (a.format == VertexFormat::Invalid) break;
        GlVertexFormat fmt = gl_vertex_format(a.format);
        if (a.buffer_index < 0 || a.buffer_index >= MAX_VERTEX_BUFFERS || fmt.bytes == 0) {
            fail("pipeline '%s': vertex attribute %d names buffer %d or an unknown format", label, num_attrs,
                 a.buffer_index);
            return;
        }
        int offset = a.offset ? a.offset : packed[a.buffer_index];
        packed[a.buffer_index] = std::max(packed[a.buffer_index], offset + fmt.bytes);
        attrs[num_attrs] = {a.buffer_index, offset, fmt};
        p->used_buffers |= uint8_t(1u << a.buffer_index);
    }
    glCreateVertexArrays(1, &p->vao);
    for (int k = 0; k < num_attrs; ++k) {
        glEnableVertexArrayAttrib(p->vao, GLuint(k));
        glVertexArrayAttribFormat(p->vao, GLuint(k), attrs[k].fmt.components, attrs[k].fmt.type,
                                  attrs[k].fmt.normalized, GLuint(attrs[k].offset));
        glVertexArrayAttribBinding(p->vao, GLuint(k), GLuint(attrs[k].buffer));
    }
    for (int i = 0; i < MAX_VERTEX_BUFFERS; ++i) {
        const BufferLayoutDesc& l = desc.layout.buffers[i];
        p->stride[i] = l.stride ? l.stride : packed[i];
        p->vao_buffer[i] = UNKNOWN;
        if (p->used_buffers & (1u << i)) {
            GLuint divisor = l.step_func == VertexStep::PerInstance ? GLuint(l.step_rate ? l.step_rate : 1) : 0;
            glVertexArrayBindingDivisor(p->vao, GLuint(i), divisor);
        }
    }
    p->vao_index_buffer = UNKNOWN;
    set_label(GL_VERTEX_ARRAY, p->vao, desc.label);

    p->primitive = gl_primitive(desc.primitive_type);
    p->index_type = desc.index_type == IndexType::Default ? IndexType::None : desc.index_type;
    p->depth_func = gl_compare(desc.depth.compare);
    p->depth_write = desc.depth.write_enabled && p->depth_format != PixelFormat::None;
    p->depth_test = p->depth_format != PixelFormat::None && (p->depth_func != GL_ALWAYS || p->depth_write);
    const BlendState& b = desc.color.blend;
    p->blend = b.enabled;
    p->blend_src_rgb = gl_blend_factor(b.src_factor_rgb, GL_ONE);
    p->blend_dst_rgb = gl_blend_factor(b.dst_factor_rgb, GL_ZERO);
    p->blend_src_a = gl_blend_factor(b.src_factor_alpha, GL_ONE);
    p->blend_dst_a = gl_blend_factor(b.dst_factor_alpha, GL_ZERO);
    p->blend_eq_rgb = gl_blend_op(b.op_rgb);
    p->blend_eq_a = gl_blend_op(b.op_alpha);
    uint8_t mask = desc.color.write_mask;
    p->color_mask = mask == COLORMASK_DEFAULT ? COLORMASK_RGBA : (mask & COLORMASK_NONE) ? 0 : (mask & COLORMASK_RGBA);
    p->cull = desc.cull_mode == CullMode::Front || desc.cull_mode == CullMode::Back;
    p->cull_face = desc.cull_mode == CullMode::Front ? GL_FRONT : GL_BACK;
    p->front_face = desc.face_winding == FaceWinding::CCW ? GL_CCW : GL_CW;
    p->state = ResourceState::Valid;
}

void init_pass(Pass handle, const PassDesc& desc) {
    PassSlot* p = slot_for_init(st.passes, handle.id);
    if (!p) return;
    const char* label = label_or(desc.label, "(unlabelled pass)");
    p->state = ResourceState::Failed;
    ImageSlot* color = valid_image(desc.color_attachment.image);
    if (!color || !color->render_target || !is_color_format(color->format)) {
        fail("pass '%s': colour attachment is not a valid colour render target", label);
        return;
    }
    int cmip = desc.color_attachment.mip_level;
    if (cmip < 0 || cmip >= color->num_mipmaps) {
        fail("pass '%s': colour attachment mip level %d out of range", label, cmip);
        return;
    }
    p->color_image = desc.color_attachment.image;
    p->color_format = color->format;
    p->width = mip_extent(color->width, cmip);
    p->height = mip_extent(color->height, cmip);
    p->sample_count = color->sample_count;
    p->depth_format = PixelFormat::None;
    ImageSlot* depth = nullptr;
    if (desc.depth_stencil_attachment.image.id) {
        depth = valid_image(desc.depth_stencil_attachment.image);
        int dmip = desc.depth_stencil_attachment.mip_level;
        if (!depth || !depth->render_target || !is_depth_format(depth->format)) {
            fail("pass '%s': depth attachment is not a valid depth render target", label);
            return;
        }
        if (mip_extent(depth->width, dmip) != p->width || mip_extent(depth->height, dmip) != p->height ||
            depth->sample_count != p->sample_count) {
            fail("pass '%s': depth attachment %dx%d (%d samples) differs from colour %dx%d (%d samples)", label,
                 mip_extent(depth->width, dmip), mip_extent(depth->height, dmip), depth->sample_count, p->width,
                 p->height, p->sample_count);
            return;
        }
        p->depth_image = desc.depth_stencil_attachment.image;
        p->depth_format = depth->format;
    }

    glCreateFramebuffers(1, &p->fbo);
    if (color->rb) {
        glNamedFramebufferRenderbuffer(p->fbo, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color->rb);
        glCreateFramebuffers(1, &p->resolve_fbo);
        glNamedFramebufferTexture(p->resolve_fbo, GL_COLOR_ATTACHMENT0, color->tex, 0);
        set_label(GL_FRAMEBUFFER, p->resolve_fbo, desc.label);
    } else {
        glNamedFramebufferTexture(p->fbo, GL_COLOR_ATTACHMENT0, color->tex, cmip);
    }
    if (depth) {
        GLenum point = depth->format == PixelFormat::DepthStencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT;
        if (depth->rb) {
            glNamedFramebufferRenderbuffer(p->fbo, point, GL_RENDERBUFFER, depth->rb);
        } else {
            glNamedFramebufferTexture(p->fbo, point, depth->tex, desc.depth_stencil_attachment.mip_level);
        }
    }
    glNamedFramebufferDrawBuffer(p->fbo, GL_COLOR_ATTACHMENT0);
    set_label(GL_FRAMEBUFFER, p->fbo, desc.label);
    GLenum status = glCheckNamedFramebufferStatus(p->fbo, GL_DRAW_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE ||
        (p->resolve_fbo && glCheckNamedFramebufferStatus(p->resolve_fbo, GL_DRAW_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)) {
        fail("pass '%s': framebuffer incomplete (status 0x%x)", label, status);
        free_pass_gl(*p);
        p->fbo = p->resolve_fbo = 0;
        return;
    }
    p->state = ResourceState::Valid;
}

namespace {
template <class Handle, class Desc>
Handle make_with(Handle (*alloc)(), void (*init)(Handle, const Desc&), const Desc& desc) {
    Handle h = alloc();
    init(h, desc);
    return h;
}
}  // namespace

Buffer make_buffer(const BufferDesc& desc) { return make_with(alloc_buffer, init_buffer, desc); }
Image make_image(const ImageDesc& desc) { return make_with(alloc_image, init_image, desc); }
Shader make_shader(const ShaderDesc& desc) { return make_with(alloc_shader, init_shader, desc); }
Pipeline make_pipeline(const PipelineDesc& desc) { return make_with(alloc_pipeline, init_pipeline, desc); }
Pass make_pass(const PassDesc& desc) { return make_with(alloc_pass, init_pass, desc); }

void destroy_buffer(Buffer h) { destroy_slot(st.buffers, h.id, free_buffer_gl); }
void destroy_image(Image h) { destroy_slot(st.images, h.id, free_image_gl); }
void destroy_shader(Shader h) { destroy_slot(st.shaders, h.id, free_shader_gl); }
void destroy_pipeline(Pipeline h) {
    if (st.pip && st.pip->id == h.id) reset_draw_state();
    destroy_slot(st.pipelines, h.id, free_pipeline_gl);
}
void destroy_pass(Pass h) { destroy_slot(st.passes, h.id, free_pass_gl); }

ResourceState query_buffer_state(Buffer h) { return query_state(st.buffers, h.id); }
ResourceState query_image_state(Image h) { return query_state(st.images, h.id); }
ResourceState query_shader_state(Shader h) { return query_state(st.shaders, h.id); }
ResourceState query_pipeline_state(Pipeline h) { return query_state(st.pipelines, h.id); }
ResourceState query_pass_state(Pass h) { return query_state(st.passes, h.id); }

ImageInfo query_image_info(Image h) {
    ImageSlot* img = st.valid ? valid_image(h) : nullptr;
    if (!img) return {};
    return {img->width, img->height, img->num_mipmaps, img->sample_count, img->format, img->render_target};
}

bool query_buffer_overflow(Buffer h) {
    BufferSlot* b = st.valid ? st.buffers.lookup(h.id) : nullptr;
    return b && is_overflowed(*b);
}

uint32_t gl_image_texture(Image h) {
    ImageSlot* img = st.valid ? valid_image(h) : nullptr;
    return img ? img->tex : 0;
}

uint32_t gl_pass_framebuffer(Pass h) {
    PassSlot* p = st.valid ? st.passes.lookup(h.id) : nullptr;
    return p && p->state == ResourceState::Valid ? p->fbo : 0;
}

// ---------------------------------------------------------------- updates

void update_buffer(Buffer h, const Range& data) {
    BufferSlot* b = st.valid ? st.buffers.lookup(h.id) : nullptr;
    if (!b || b->state != ResourceState::Valid || b->usage == Usage::Immutable || !data.ptr) return;
    touch(*b);
    if (b->updated || b->appended || data.size > b->size) return;
    glNamedBufferSubData(b->gl, 0, GLsizeiptr(data.size), data.ptr);
    b->updated = true;
}

int append_buffer(Buffer h, const Range& data) {
    BufferSlot* b = st.valid ? st.buffers.lookup(h.id) : nullptr;
    if (!b || b->state != ResourceState::Valid || b->usage != Usage::Stream) return 0;
    touch(*b);
    if (b->updated) return 0;
    size_t offset = b->append_pos;
    if (offset + data.size > b->size) {
        b->overflow = true;
        return int(offset);
    }
    if (data.size) glNamedBufferSubData(b->gl, GLintptr(offset), GLsizeiptr(data.size), data.ptr);
    b->append_pos = (offset + data.size + 3) & ~size_t(3);
    b->appended = true;
    return int(offset);
}

void update_image(Image h, const ImageData& data) {
    ImageSlot* img = st.valid ? valid_image(h) : nullptr;
    if (!img || img->render_target || img->usage == Usage::Immutable) return;
    if (img->updated_frame == st.frame_index + 1) return;  // once per frame: the first update wins
    if (!check_levels(*img, data, false, "(update)")) return;
    upload_levels(*img, data);
    img->updated_frame = st.frame_index + 1;
}

// ---------------------------------------------------------------- passes

namespace {

// Clears what the pass action asks for. The window's framebuffer is cleared with
// glClear: on a single-buffered surface (an EGL pbuffer) Mesa's glClearBuffer*
// finds no GL_BACK to clear, while glClear clears the buffer that draws reach.
void clear_attachments(GLuint fbo, const PassAction& action, PixelFormat depth_format) {
    bool clear_color = action.color.action == Action::Default || action.color.action == Action::Clear;
    bool has_depth = depth_format != PixelFormat::None;
    bool clear_depth = has_depth && (action.depth.action == Action::Default || action.depth.action == Action::Clear);
    bool clear_stencil = depth_format == PixelFormat::DepthStencil &&
                         (action.stencil.action == Action::Default || action.stencil.action == Action::Clear);
    Color c = action.color.action == Action::Default ? Color{0.5f, 0.5f, 0.5f, 1.0f} : action.color.value;
    const GLfloat color[4] = {c.r, c.g, c.b, c.a};
    GLfloat depth = action.depth.action == Action::Default ? 1.0f : action.depth.value;
    GLint stencil = action.stencil.action == Action::Default ? 0 : action.stencil.value;
    if (clear_color) set_color_mask(COLORMASK_RGBA);
    if (clear_depth) set_depth_write(true);

    if (fbo == 0) {
        GLbitfield mask = 0;
        if (clear_color) glClearColor(color[0], color[1], color[2], color[3]), mask |= GL_COLOR_BUFFER_BIT;
        if (clear_depth) glClearDepthf(depth), mask |= GL_DEPTH_BUFFER_BIT;
        if (clear_stencil) glClearStencil(stencil), mask |= GL_STENCIL_BUFFER_BIT;
        if (mask) glClear(mask);
        return;
    }
    if (clear_color) glClearNamedFramebufferfv(fbo, GL_COLOR, 0, color);
    if (clear_depth && clear_stencil) {
        glClearNamedFramebufferfi(fbo, GL_DEPTH_STENCIL, 0, depth, stencil);
    } else if (clear_depth) {
        glClearNamedFramebufferfv(fbo, GL_DEPTH, 0, &depth);
    } else if (clear_stencil) {
        glClearNamedFramebufferiv(fbo, GL_STENCIL, 0, &stencil);
    }
}

void start_pass(PixelFormat color, PixelFormat depth, int samples) {
    st.in_pass = true;
    st.pass_valid = true;
    st.pass_color = color;
    st.pass_depth = depth;
    st.pass_samples = samples;
    st.stats.passes++;
    reset_draw_state();
}

}  // namespace

void begin_pass(Pass h, const PassAction& action) {
    if (!st.valid || st.in_pass) return;
    PassSlot* p = st.passes.lookup(h.id);
    start_pass(PixelFormat::None, PixelFormat::None, 1);
    st.pass = p;
    // A pass whose attachments were destroyed since is as invalid as one that failed.
    if (!p || p->state != ResourceState::Valid || !valid_image(p->color_image) ||
        (p->depth_image.id && !valid_image(p->depth_image))) {
        st.pass_valid = false;
        st.pass = nullptr;
        return;
    }
    st.pass_color = p->color_format;
    st.pass_depth = p->depth_format;
    st.pass_samples = p->sample_count;
    bind_draw_framebuffer(p->fbo);
    set_viewport(p->width, p->height);
    set_clip_origin(GL_UPPER_LEFT);
    clear_attachments(p->fbo, action, p->depth_format);
}

void begin_default_pass(const PassAction& action, int width, int height) {
    if (!st.valid || st.in_pass) return;
    start_pass(PixelFormat::BGRA8, PixelFormat::DepthStencil, 1);
    st.pass = nullptr;
    bind_draw_framebuffer(0);
    set_viewport(std::max(width, 1), std::max(height, 1));
    set_clip_origin(GL_LOWER_LEFT);
    clear_attachments(0, action, PixelFormat::DepthStencil);
}

void end_pass() {
    if (!st.valid || !st.in_pass) return;
    PassSlot* p = st.pass;
    if (st.pass_valid && p && p->resolve_fbo) {
        glBlitNamedFramebuffer(p->fbo, p->resolve_fbo, 0, 0, p->width, p->height, 0, 0, p->width, p->height,
                               GL_COLOR_BUFFER_BIT, GL_NEAREST);
    }
    st.in_pass = false;
    st.pass_valid = false;
    st.pass = nullptr;
    reset_draw_state();
}

// ---------------------------------------------------------------- applies and draws

void apply_pipeline(Pipeline h) {
    if (!st.valid || !pass_accepts_applies()) return;
    reset_draw_state();
    PipelineSlot* p = st.pipelines.lookup(h.id);
    if (!p || p->state != ResourceState::Valid) return;
    ShaderSlot* shd = st.shaders.lookup(p->shader.id);
    if (!shd || shd->state != ResourceState::Valid) return;
    if (p->color_format != st.pass_color || p->depth_format != st.pass_depth || p->sample_count != st.pass_samples) {
        st.pip_refused = SkipReason::PassMismatch;
        return;
    }
    st.pip = p;
    GlCache& c = st.cache;
    if (c.program != shd->program) {
        c.program = shd->program;
        glUseProgram(shd->program);
    }
    if (c.vao != p->vao) {
        c.vao = p->vao;
        glBindVertexArray(p->vao);
    }
    set_enabled(c.depth_test, GL_DEPTH_TEST, p->depth_test);
    if (p->depth_test && c.depth_func != p->depth_func) {
        c.depth_func = p->depth_func;
        glDepthFunc(p->depth_func);
    }
    set_depth_write(p->depth_write);
    set_enabled(c.blend, GL_BLEND, p->blend);
    if (p->blend) {
        if (c.blend_src_rgb != p->blend_src_rgb || c.blend_dst_rgb != p->blend_dst_rgb ||
            c.blend_src_a != p->blend_src_a || c.blend_dst_a != p->blend_dst_a) {
            c.blend_src_rgb = p->blend_src_rgb, c.blend_dst_rgb = p->blend_dst_rgb;
            c.blend_src_a = p->blend_src_a, c.blend_dst_a = p->blend_dst_a;
            glBlendFuncSeparate(p->blend_src_rgb, p->blend_dst_rgb, p->blend_src_a, p->blend_dst_a);
        }
        if (c.blend_eq_rgb != p->blend_eq_rgb || c.blend_eq_a != p->blend_eq_a) {
            c.blend_eq_rgb = p->blend_eq_rgb, c.blend_eq_a = p->blend_eq_a;
            glBlendEquationSeparate(p->blend_eq_rgb, p->blend_eq_a);
        }
    }
    set_color_mask(p->color_mask);
    set_enabled(c.cull, GL_CULL_FACE, p->cull);
    if (p->cull && c.cull_face != p->cull_face) {
        c.cull_face = p->cull_face;
        glCullFace(p->cull_face);
    }
    if (c.front_face != p->front_face) {
        c.front_face = p->front_face;
        glFrontFace(p->front_face);
    }
    // A pipeline that reads no buffers and no images needs no bindings.
    bool needs_images = false;
    for (int s = 0; s < 2; ++s)
        for (bool used : shd->has_image[s]) needs_images |= used;
    st.bindings_ok = p->used_buffers == 0 && p->index_type == IndexType::None && !needs_images;
}

void apply_bindings(const Bindings& bnd) {
    if (!st.valid || !pass_accepts_applies()) return;
    PipelineSlot* p = st.pip;
    st.bindings_ok = false;
    st.num_bound = 0;
    if (!p) return;

    // Check everything first so that a refused binding changes no GL state.
    BufferSlot* vbs[MAX_VERTEX_BUFFERS] = {};
    for (int i = 0; i < MAX_VERTEX_BUFFERS; ++i) {
        if (!(p->used_buffers & (1u << i))) continue;
        BufferSlot* b = st.buffers.lookup(bnd.vertex_buffers[i].id);
        if (!b || b->state != ResourceState::Valid || b->type != BufferType::VertexBuffer) return;
        vbs[i] = b;
    }
    BufferSlot* ib = nullptr;
    if (p->index_type != IndexType::None) {
        ib = st.buffers.lookup(bnd.index_buffer.id);
        if (!ib || ib->state != ResourceState::Valid || ib->type != BufferType::IndexBuffer) return;
    }
    ImageSlot* imgs[NUM_TEXTURE_UNITS] = {};
    for (int s = 0; s < 2; ++s) {
        int slots = s == 0 ? MAX_VS_IMAGES : MAX_SHADERSTAGE_IMAGES;
        for (int k = 0; k < slots; ++k) {
            if (!p->shd->has_image[s][k]) continue;
            Image h = s == 0 ? bnd.vs_images[k] : bnd.fs_images[k];
            ImageSlot* img = valid_image(h);
            // An image cannot be sampled while the current pass renders into it.
            if (!img || !img->tex ||
                (st.pass && (h.id == st.pass->color_image.id || h.id == st.pass->depth_image.id)))
                return;
            imgs[s == 0 ? VS_IMAGE_UNIT_BASE + k : k] = img;
        }
    }

    for (int i = 0; i < MAX_VERTEX_BUFFERS; ++i) {
        if (!vbs[i]) continue;
        int offset = bnd.vertex_buffer_offsets[i];
        if (p->vao_buffer[i] != vbs[i]->gl || p->vao_offset[i] != offset) {
            p->vao_buffer[i] = vbs[i]->gl;
            p->vao_offset[i] = offset;
            glVertexArrayVertexBuffer(p->vao, GLuint(i), vbs[i]->gl, offset, p->stride[i]);
        }
        st.bound[st.num_bound++] = vbs[i];
    }
    if (ib) {
        if (p->vao_index_buffer != ib->gl) {
            p->vao_index_buffer = ib->gl;
            glVertexArrayElementBuffer(p->vao, ib->gl);
        }
        st.bound[st.num_bound++] = ib;
        st.index_gl_type = p->index_type == IndexType::Uint16 ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT;
        st.index_size = p->index_type == IndexType::Uint16 ? 2 : 4;
        st.index_offset = bnd.index_buffer_offset;
    }
    for (int unit = 0; unit < NUM_TEXTURE_UNITS; ++unit) {
        if (imgs[unit]) bind_texture(unit, imgs[unit]->tex, imgs[unit]->sampler);
    }
    st.bindings_ok = true;
}

void apply_uniforms(ShaderStage stage, int ub_index, const void* data, size_t size) {
    if (!st.valid || !pass_accepts_applies()) return;
    PipelineSlot* p = st.pip;
    if (!p) return;
    int s = stage == ShaderStage::Vs ? 0 : 1;
    if (ub_index < 0 || ub_index >= MAX_SHADERSTAGE_UBS || !data || p->shd->ub_size[s][ub_index] == 0 ||
        p->shd->ub_size[s][ub_index] != size) {
        st.pending_uniform_skip = SkipReason::UniformSize;
        return;
    }
    if (st.ring_pos + size > st.ring_size) {
        st.pending_uniform_skip = SkipReason::UniformRingFull;
        return;
    }
    size_t offset = size_t(st.ring_region) * st.ring_size + st.ring_pos;
    std::memcpy(st.ubo_ptr + offset, data, size);
    glBindBufferRange(GL_UNIFORM_BUFFER, GLuint(s * FS_UB_BINDING_BASE + ub_index), st.ubo, GLintptr(offset),
                      GLsizeiptr(size));
    st.ring_pos += (size + st.ring_align - 1) / st.ring_align * st.ring_align;
    st.stats.uniform_bytes = int(st.ring_pos);
}

void draw(int base_element, int num_elements, int num_instances) {
    if (!st.valid) return;
    if (!st.in_pass || !st.pass_valid) return skip(SkipReason::NoPass);
    if (!st.pip) return skip(st.pip_refused);
    if (!st.bindings_ok) return skip(SkipReason::InvalidBindings);
    if (st.pending_uniform_skip != SkipReason::None) {
        SkipReason r = st.pending_uniform_skip;
        st.pending_uniform_skip = SkipReason::None;
        return skip(r);
    }
    for (int i = 0; i < st.num_bound; ++i) {
        if (is_overflowed(*st.bound[i])) return skip(SkipReason::BufferOverflow);
    }
    if (num_elements <= 0 || num_instances <= 0 || base_element < 0) return;
    if (st.pip->index_type != IndexType::None) {
        auto offset = uintptr_t(st.index_offset) + uintptr_t(base_element) * uintptr_t(st.index_size);
        glDrawElementsInstanced(st.pip->primitive, num_elements, st.index_gl_type,
                                reinterpret_cast<const void*>(offset), num_instances);
    } else {
        glDrawArraysInstanced(st.pip->primitive, base_element, num_elements, num_instances);
    }
    st.stats.draws++;
}

void commit() {
    if (!st.valid) return;
    if (st.in_pass) end_pass();
    // The region just written is fenced; the next one is reused once the GPU is past it.
    st.fences[st.ring_region] = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    st.ring_region = (st.ring_region + 1) % RING_REGIONS;
    if (GLsync f = st.fences[st.ring_region]) {
        while (glClientWaitSync(f, GL_SYNC_FLUSH_COMMANDS_BIT, 1000000000) == GL_TIMEOUT_EXPIRED) {
        }
        glDeleteSync(f);
        st.fences[st.ring_region] = nullptr;
    }
    st.ring_pos = 0;
    st.frame_index++;
    st.stats = FrameStats{};
    st.stats.frame_index = st.frame_index;
}

FrameStats query_frame_stats() {
    FrameStats s = st.stats;
    s.frame_index = st.frame_index;
    return s;
}

}  // namespace gfx

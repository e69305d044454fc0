// Set-up and shut-down, the pools and their handles, queries, destruction and
// the refusal log.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "gfx/gfx_internal.h"

namespace gfx {
namespace detail {

State st;

namespace {

const char* const kind_names[int(ObjectKind::Count)] = {"buffer", "image", "shader", "pipeline", "pass"};

void record_refusal(ObjectKind kind) {
    if (st.refusal_told[int(kind)]) {
#ifndef NDEBUG
        std::fprintf(stderr, "gfx: %s\n", st.last_error);
#endif
        return;
    }
    st.refusal_told[int(kind)] = true;
    // One line: a driver's log after the message joins it, its line breaks as spaces.
    char line[sizeof st.last_error];
    std::memcpy(line, st.last_error, sizeof line);
    for (char* c = line; *c; ++c)
        if (*c == '\n') *c = ' ';
#ifdef NDEBUG
    std::fprintf(stderr, "gfx: %s (further %s refusals are not shown)\n", line, kind_names[int(kind)]);
#else
    std::fprintf(stderr, "gfx: %s\n", line);
#endif
}

}  // namespace

void refuse(ObjectKind kind, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(st.last_error, sizeof st.last_error, fmt, args);
    va_end(args);
    record_refusal(kind);
}

void refuse(ObjectKind kind, const rules::Refusal& why) { refuse(kind, "%s", why.text); }

void skip(SkipReason reason) {
    st.stats.draws_skipped++;
    st.stats.skipped_by_reason[int(reason)]++;
    st.stats.last_skip_reason = reason;
}

void set_label(GLenum kind, GLuint name, const char* label) {
    if (label && name) glObjectLabel(kind, name, -1, label);
}

ImageSlot* valid_image(Image img) {
    ImageSlot* s = st.images.lookup(img.id);
    return s && s->state == ResourceState::Valid ? s : nullptr;
}

}  // namespace detail

using namespace detail;

namespace {

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
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &st.max_texture_size);
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

// ---------------------------------------------------------------- handles

Buffer alloc_buffer() { return {st.valid ? st.buffers.alloc() : 0}; }
Image alloc_image() { return {st.valid ? st.images.alloc() : 0}; }
Shader alloc_shader() { return {st.valid ? st.shaders.alloc() : 0}; }
Pipeline alloc_pipeline() { return {st.valid ? st.pipelines.alloc() : 0}; }
Pass alloc_pass() { return {st.valid ? st.passes.alloc() : 0}; }

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

// ---------------------------------------------------------------- queries

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

uint32_t gl_image_texture(Image h) {
    ImageSlot* img = st.valid ? valid_image(h) : nullptr;
    return img ? img->tex : 0;
}

uint32_t gl_pass_framebuffer(Pass h) {
    PassSlot* p = st.valid ? st.passes.lookup(h.id) : nullptr;
    return p && p->state == ResourceState::Valid ? p->fbo : 0;
}

}  // namespace gfx

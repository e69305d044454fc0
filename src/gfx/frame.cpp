// The frame: buffer and image updates, passes, applies, draws, the uniform
// ring, commit and the frame's statistics.
#include <cstring>

#include "gfx/gfx_internal.h"

namespace gfx {
namespace detail {

namespace {

void touch(BufferSlot& b) {
    if (b.frame == st.frame_index) return;
    b.frame = st.frame_index;
    b.append_pos = 0;
    b.appended = b.updated = b.overflow = b.region_moved = false;
}

// Where draws read the buffer's data.
size_t read_base(const BufferSlot& b) { return size_t(b.region) * b.size; }

// Where this frame's writes go: the frame's first write moves on to the next
// region, which no frame in flight reads.
size_t write_base(BufferSlot& b) {
    if (!b.region_moved) {
        b.region = (b.region + 1) % RING_REGIONS;
        b.region_moved = true;
    }
    return size_t(b.region) * b.size;
}

bool is_overflowed(const BufferSlot& b) { return b.frame == st.frame_index && b.overflow; }

}  // namespace

void reset_draw_state() {
    st.pip = nullptr;
    st.pip_refused = SkipReason::NoPipeline;
    st.bindings_ok = false;
    st.num_bound = 0;
    st.pending_uniform_skip = SkipReason::None;
}

namespace {
bool pass_accepts_applies() {
    if (st.in_pass && st.pass_valid) return true;
    st.stats.applies_ignored++;
    return false;
}
}  // namespace
}  // namespace detail

using namespace detail;

// ---------------------------------------------------------------- updates

void update_buffer(Buffer h, const Range& data) {
    BufferSlot* b = st.valid ? st.buffers.lookup(h.id) : nullptr;
    if (!b || b->state != ResourceState::Valid || b->usage == Usage::Immutable || !data.ptr) return;
    touch(*b);
    if (b->updated || b->appended || data.size > b->size) return;
    glNamedBufferSubData(b->gl, GLintptr(write_base(*b)), GLsizeiptr(data.size), data.ptr);
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
    const size_t base = write_base(*b);
    if (data.size) glNamedBufferSubData(b->gl, GLintptr(base + offset), GLsizeiptr(data.size), data.ptr);
    b->append_pos = (offset + data.size + 3) & ~size_t(3);
    b->appended = true;
    return int(offset);
}

void update_image(Image h, const ImageData& data) {
    ImageSlot* img = st.valid ? valid_image(h) : nullptr;
    if (!img || img->render_target || img->usage == Usage::Immutable) return;
    if (img->updated_frame == st.frame_index + 1) return;  // once per frame: the first update wins
    rules::Refusal why;
    if (!rules::check_levels(img->width, img->height, img->num_mipmaps, img->format, data, false, "(update)", &why))
        return refuse(ObjectKind::Image, why);
    upload_levels(*img, data);
    img->updated_frame = st.frame_index + 1;
}

bool query_buffer_overflow(Buffer h) {
    BufferSlot* b = st.valid ? st.buffers.lookup(h.id) : nullptr;
    return b && is_overflowed(*b);
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
        const GLintptr offset = GLintptr(read_base(*vbs[i])) + bnd.vertex_buffer_offsets[i];
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
        st.index_offset = read_base(*ib) + size_t(bnd.index_buffer_offset);
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

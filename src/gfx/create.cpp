// GL object creation: every init_* resolves its description's defaults,
// validates it (gfx_rules.h), and only then makes the GL objects. What the
// driver alone can refuse (compiling, linking, uniform blocks, framebuffer
// completeness) is checked here.
#include <cstring>

#include "gfx/gfx_internal.h"

namespace gfx {
namespace detail {

// ---------------------------------------------------------------- GL translations

GlFormat gl_format(PixelFormat f) {
    switch (f) {
        case PixelFormat::RGBA8: return {GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE};
        case PixelFormat::BGRA8: return {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE};
        case PixelFormat::R32F: return {GL_R32F, GL_RED, GL_FLOAT};
        case PixelFormat::Depth: return {GL_DEPTH_COMPONENT32F, GL_DEPTH_COMPONENT, GL_FLOAT};
        case PixelFormat::DepthStencil: return {GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8};
        default: return {0, 0, 0};
    }
}

void upload_levels(const ImageSlot& img, const ImageData& data) {
    GlFormat f = gl_format(img.format);
    for (int level = 0; level < img.num_mipmaps; ++level) {
        if (!data.mip[level].ptr) continue;
        glTextureSubImage2D(img.tex, level, 0, 0, rules::mip_extent(img.width, level),
                            rules::mip_extent(img.height, level), f.format, f.type, data.mip[level].ptr);
    }
}

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

namespace {

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

GLenum gl_blend_factor(BlendFactor f) {
    switch (f) {
        case BlendFactor::Zero: return GL_ZERO;
        case BlendFactor::SrcColor: return GL_SRC_COLOR;
        case BlendFactor::OneMinusSrcColor: return GL_ONE_MINUS_SRC_COLOR;
        case BlendFactor::SrcAlpha: return GL_SRC_ALPHA;
        case BlendFactor::OneMinusSrcAlpha: return GL_ONE_MINUS_SRC_ALPHA;
        case BlendFactor::DstColor: return GL_DST_COLOR;
        case BlendFactor::OneMinusDstColor: return GL_ONE_MINUS_DST_COLOR;
        case BlendFactor::DstAlpha: return GL_DST_ALPHA;
        case BlendFactor::OneMinusDstAlpha: return GL_ONE_MINUS_DST_ALPHA;
        default: return GL_ONE;
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
};

GlVertexFormat gl_vertex_format(VertexFormat f) {
    switch (f) {
        case VertexFormat::Float: return {1, GL_FLOAT, GL_FALSE};
        case VertexFormat::Float2: return {2, GL_FLOAT, GL_FALSE};
        case VertexFormat::Float3: return {3, GL_FLOAT, GL_FALSE};
        case VertexFormat::Float4: return {4, GL_FLOAT, GL_FALSE};
        case VertexFormat::UByte4N: return {4, GL_UNSIGNED_BYTE, GL_TRUE};
        default: return {0, 0, GL_FALSE};
    }
}

// ---------------------------------------------------------------- shaders

GLuint compile_stage(GLenum kind, const ShaderStageDesc& desc, const char* label) {
    const char* stage = kind == GL_VERTEX_SHADER ? "vertex" : "fragment";
    GLuint sh = glCreateShader(kind);
    glShaderSource(sh, 1, &desc.source, nullptr);
    glCompileShader(sh);
    GLint ok = 0;
    glGetShaderiv(sh, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[1024] = "";
        glGetShaderInfoLog(sh, sizeof log, nullptr, log);
        refuse(ObjectKind::Shader, "shader '%s': %s stage does not compile:\n%s", label, stage, log);
        glDeleteShader(sh);
        return 0;
    }
    return sh;
}

GLuint link_program(const ShaderDesc& desc) {
    GLuint vs = compile_stage(GL_VERTEX_SHADER, desc.vs, desc.label);
    if (!vs) return 0;
    GLuint fs = compile_stage(GL_FRAGMENT_SHADER, desc.fs, desc.label);
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
        refuse(ObjectKind::Shader, "shader '%s': program does not link:\n%s", desc.label, log);
        glDeleteProgram(prog);
        return 0;
    }
    return prog;
}

// Binds the named blocks, then checks every block the program uses against the
// declared ones.
bool bind_uniform_blocks(GLuint prog, const ShaderDesc& desc, ShaderSlot& shd) {
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
        rules::Refusal why;
        if (!rules::check_uniform_block(shd.ub_size, binding, size_t(std::max(size, 0)), name, desc.label, &why)) {
            refuse(ObjectKind::Shader, why);
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

rules::Limits driver_limits() { return {st.max_texture_size, st.features.msaa_render_targets}; }

ImageInfo info_of(const ImageSlot& img) {
    return {img.width, img.height, img.num_mipmaps, img.sample_count, img.format, img.render_target};
}

}  // namespace
}  // namespace detail

using namespace detail;

// ---------------------------------------------------------------- init

void init_buffer(Buffer handle, const BufferDesc& desc) {
    BufferSlot* b = slot_for_init(st.buffers, handle.id);
    if (!b) return;
    b->state = ResourceState::Failed;
    const BufferDesc d = rules::defaults(desc);
    rules::Refusal why;
    if (!rules::validate(d, &why)) return refuse(ObjectKind::Buffer, why);
    b->type = d.type;
    b->usage = d.usage;
    b->size = d.size;
    // Per-frame data gets a region for every frame in flight; the first holds the initial content.
    const int regions = d.usage == Usage::Immutable ? 1 : RING_REGIONS;
    const GLbitfield flags = d.usage == Usage::Immutable ? 0 : GL_DYNAMIC_STORAGE_BIT;
    glCreateBuffers(1, &b->gl);
    if (regions == 1 && d.data.ptr && d.data.size == d.size) {
        glNamedBufferStorage(b->gl, GLsizeiptr(d.size), d.data.ptr, flags);
    } else {
        glNamedBufferStorage(b->gl, GLsizeiptr(d.size * regions), nullptr, flags);
        if (d.data.ptr) glNamedBufferSubData(b->gl, 0, GLsizeiptr(d.data.size), d.data.ptr);
    }
    set_label(GL_BUFFER, b->gl, desc.label);
    b->region = 0;
    b->frame = st.frame_index;
    b->state = ResourceState::Valid;
}

void init_image(Image handle, const ImageDesc& desc) {
    ImageSlot* img = slot_for_init(st.images, handle.id);
    if (!img) return;
    img->state = ResourceState::Failed;
    const ImageDesc d = rules::defaults(desc);
    rules::Refusal why;
    if (!rules::validate(d, driver_limits(), &why)) return refuse(ObjectKind::Image, why);
    img->render_target = d.render_target;
    img->width = d.width;
    img->height = d.height;
    img->num_mipmaps = d.num_mipmaps;
    img->sample_count = d.sample_count;
    img->usage = d.usage;
    img->format = d.pixel_format;

    GlFormat f = gl_format(img->format);
    bool msaa = img->sample_count > 1;
    if (msaa) {
        glCreateRenderbuffers(1, &img->rb);
        glNamedRenderbufferStorageMultisample(img->rb, img->sample_count, f.internal, img->width, img->height);
        set_label(GL_RENDERBUFFER, img->rb, desc.label);
    }
    // A multisampled depth target is only ever attached; everything else gets a texture.
    if (!msaa || !rules::is_depth_format(img->format)) {
        glCreateTextures(GL_TEXTURE_2D, 1, &img->tex);
        glTextureStorage2D(img->tex, img->num_mipmaps, f.internal, img->width, img->height);
        set_label(GL_TEXTURE, img->tex, desc.label);
        if (!img->render_target) upload_levels(*img, d.data);
    }
    glCreateSamplers(1, &img->sampler);
    glSamplerParameteri(img->sampler, GL_TEXTURE_MIN_FILTER, GLint(gl_filter(d.min_filter, false)));
    glSamplerParameteri(img->sampler, GL_TEXTURE_MAG_FILTER, GLint(gl_filter(d.mag_filter, true)));
    glSamplerParameteri(img->sampler, GL_TEXTURE_WRAP_S, GLint(gl_wrap(d.wrap_u)));
    glSamplerParameteri(img->sampler, GL_TEXTURE_WRAP_T, GLint(gl_wrap(d.wrap_v)));
    set_label(GL_SAMPLER, img->sampler, desc.label);
    img->state = ResourceState::Valid;
}

void init_shader(Shader handle, const ShaderDesc& desc) {
    ShaderSlot* shd = slot_for_init(st.shaders, handle.id);
    if (!shd) return;
    shd->state = ResourceState::Failed;
    const ShaderDesc d = rules::defaults(desc);
    rules::Refusal why;
    if (!rules::validate(d, &why)) return refuse(ObjectKind::Shader, why);
    GLuint prog = link_program(d);
    if (!prog) return;
    if (!bind_uniform_blocks(prog, d, *shd)) {
        glDeleteProgram(prog);
        return;
    }
    bind_image_units(prog, d, *shd);
    set_label(GL_PROGRAM, prog, desc.label);
    shd->program = prog;
    shd->state = ResourceState::Valid;
}

void init_pipeline(Pipeline handle, const PipelineDesc& desc) {
    PipelineSlot* p = slot_for_init(st.pipelines, handle.id);
    if (!p) return;
    p->state = ResourceState::Failed;
    const PipelineDesc d = rules::defaults(desc);
    ShaderSlot* shd = st.shaders.lookup(d.shader.id);
    const bool shader_valid = shd && shd->state == ResourceState::Valid;
    rules::Refusal why;
    if (!rules::validate(d, shader_valid, &why)) return refuse(ObjectKind::Pipeline, why);
    p->shader = d.shader;
    p->shd = shd;
    p->color_format = d.color.pixel_format;
    p->depth_format = d.depth.pixel_format;
    p->sample_count = d.sample_count;

    glCreateVertexArrays(1, &p->vao);
    for (int k = 0; k < MAX_VERTEX_ATTRIBUTES; ++k) {
        const VertexAttrDesc& a = d.layout.attrs[k];
        if (a.format == VertexFormat::Invalid) break;
        const GlVertexFormat fmt = gl_vertex_format(a.format);
        glEnableVertexArrayAttrib(p->vao, GLuint(k));
        glVertexArrayAttribFormat(p->vao, GLuint(k), fmt.components, fmt.type, fmt.normalized, GLuint(a.offset));
        glVertexArrayAttribBinding(p->vao, GLuint(k), GLuint(a.buffer_index));
        p->used_buffers |= uint8_t(1u << a.buffer_index);
    }
    for (int i = 0; i < MAX_VERTEX_BUFFERS; ++i) {
        const BufferLayoutDesc& l = d.layout.buffers[i];
        p->stride[i] = l.stride;
        p->vao_buffer[i] = UNKNOWN;
        if (p->used_buffers & (1u << i)) {
            GLuint divisor = l.step_func == VertexStep::PerInstance ? GLuint(l.step_rate) : 0;
            glVertexArrayBindingDivisor(p->vao, GLuint(i), divisor);
        }
    }
    p->vao_index_buffer = UNKNOWN;
    set_label(GL_VERTEX_ARRAY, p->vao, desc.label);

    p->primitive = gl_primitive(d.primitive_type);
    p->index_type = d.index_type;
    p->depth_func = gl_compare(d.depth.compare);
    p->depth_write = d.depth.write_enabled && p->depth_format != PixelFormat::None;
    p->depth_test = p->depth_format != PixelFormat::None && (p->depth_func != GL_ALWAYS || p->depth_write);
    const BlendState& b = d.color.blend;
    p->blend = b.enabled;
    p->blend_src_rgb = gl_blend_factor(b.src_factor_rgb);
    p->blend_dst_rgb = gl_blend_factor(b.dst_factor_rgb);
    p->blend_src_a = gl_blend_factor(b.src_factor_alpha);
    p->blend_dst_a = gl_blend_factor(b.dst_factor_alpha);
    p->blend_eq_rgb = gl_blend_op(b.op_rgb);
    p->blend_eq_a = gl_blend_op(b.op_alpha);
    const uint8_t mask = d.color.write_mask;
    p->color_mask = (mask & COLORMASK_NONE) ? 0 : (mask & COLORMASK_RGBA);
    p->cull = d.cull_mode == CullMode::Front || d.cull_mode == CullMode::Back;
    p->cull_face = d.cull_mode == CullMode::Front ? GL_FRONT : GL_BACK;
    p->front_face = d.face_winding == FaceWinding::CCW ? GL_CCW : GL_CW;
    p->state = ResourceState::Valid;
}

void init_pass(Pass handle, const PassDesc& desc) {
    PassSlot* p = slot_for_init(st.passes, handle.id);
    if (!p) return;
    p->state = ResourceState::Failed;
    const PassDesc d = rules::defaults(desc);
    ImageSlot* color = valid_image(d.color_attachment.image);
    ImageSlot* depth = d.depth_stencil_attachment.image.id ? valid_image(d.depth_stencil_attachment.image) : nullptr;
    const ImageInfo color_info = color ? info_of(*color) : ImageInfo{};
    const ImageInfo depth_info = depth ? info_of(*depth) : ImageInfo{};
    rules::Refusal why;
    if (!rules::validate(d, color ? &color_info : nullptr, depth ? &depth_info : nullptr, &why))
        return refuse(ObjectKind::Pass, why);
    const int cmip = d.color_attachment.mip_level;
    p->color_image = d.color_attachment.image;
    p->color_format = color->format;
    p->width = rules::mip_extent(color->width, cmip);
    p->height = rules::mip_extent(color->height, cmip);
    p->sample_count = color->sample_count;
    p->depth_format = PixelFormat::None;
    if (depth) {
        p->depth_image = d.depth_stencil_attachment.image;
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
            glNamedFramebufferTexture(p->fbo, point, depth->tex, d.depth_stencil_attachment.mip_level);
        }
    }
    glNamedFramebufferDrawBuffer(p->fbo, GL_COLOR_ATTACHMENT0);
    set_label(GL_FRAMEBUFFER, p->fbo, desc.label);
    GLenum status = glCheckNamedFramebufferStatus(p->fbo, GL_DRAW_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE ||
        (p->resolve_fbo && glCheckNamedFramebufferStatus(p->resolve_fbo, GL_DRAW_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)) {
        refuse(ObjectKind::Pass, "pass '%s': framebuffer incomplete (status 0x%x)", d.label, status);
        free_pass_gl(*p);
        p->fbo = p->resolve_fbo = 0;
        return;
    }
    p->state = ResourceState::Valid;
}

}  // namespace gfx

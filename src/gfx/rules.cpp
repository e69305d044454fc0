// Defaults and validation of the graphics layer's descriptions: no GL here.
#include "gfx/gfx_rules.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace gfx::rules {
namespace {

bool refuse(Refusal* why, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
bool refuse(Refusal* why, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(why->text, sizeof why->text, fmt, args);
    va_end(args);
    return false;
}

const char* label_or(const char* label, const char* fallback) { return label ? label : fallback; }

template <class E>
E or_default(E value, E fallback) {
    return value == E::Default ? fallback : value;
}

}  // namespace

// ---------------------------------------------------------------- pieces

int bytes_per_pixel(PixelFormat format) {
    switch (format) {
        case PixelFormat::RGBA8:
        case PixelFormat::BGRA8:
        case PixelFormat::R32F:
        case PixelFormat::Depth:
        case PixelFormat::DepthStencil: return 4;
        default: return 0;
    }
}

int vertex_format_bytes(VertexFormat format) {
    switch (format) {
        case VertexFormat::Float: return 4;
        case VertexFormat::Float2: return 8;
        case VertexFormat::Float3: return 12;
        case VertexFormat::Float4: return 16;
        case VertexFormat::UByte4N: return 4;
        default: return 0;
    }
}

bool is_depth_format(PixelFormat f) { return f == PixelFormat::Depth || f == PixelFormat::DepthStencil; }
bool is_color_format(PixelFormat f) {
    return f == PixelFormat::RGBA8 || f == PixelFormat::BGRA8 || f == PixelFormat::R32F;
}

int mip_extent(int size, int level) { return std::max(1, size >> level); }

size_t level_bytes(int width, int height, PixelFormat format, int level) {
    return size_t(mip_extent(width, level)) * size_t(mip_extent(height, level)) * size_t(bytes_per_pixel(format));
}

int full_mip_chain(int width, int height) {
    int levels = 1;
    while ((std::max(width, height) >> levels) > 0) ++levels;
    return levels;
}

bool check_levels(int width, int height, int num_mipmaps, PixelFormat format, const ImageData& data,
                  bool all_required, const char* label, Refusal* why) {
    for (int level = 0; level < num_mipmaps && level < MAX_MIPMAPS; ++level) {
        const Range& r = data.mip[level];
        if (!r.ptr) {
            if (all_required) return refuse(why, "image '%s': mip level %d of %d has no data", label, level, num_mipmaps);
            continue;
        }
        const size_t expected = level_bytes(width, height, format, level);
        if (r.size != expected)
            return refuse(why, "image '%s': mip level %d holds %zu bytes, %zu expected for %dx%d", label, level, r.size,
                          expected, mip_extent(width, level), mip_extent(height, level));
    }
    return true;
}

bool check_uniform_block(const size_t (&declared)[2][MAX_SHADERSTAGE_UBS], int binding, size_t size,
                         const char* block_name, const char* label, Refusal* why) {
    const int stage = binding / MAX_SHADERSTAGE_UBS, slot = binding % MAX_SHADERSTAGE_UBS;
    if (binding < 0 || stage > 1 || declared[stage][slot] == 0)
        return refuse(why, "shader '%s': uniform block '%s' sits at binding %d, where no block is declared", label,
                      block_name, binding);
    if (size > declared[stage][slot])
        return refuse(why, "shader '%s': uniform block '%s' takes %zu bytes, %zu declared", label, block_name, size,
                      declared[stage][slot]);
    return true;
}

// ---------------------------------------------------------------- buffers

BufferDesc defaults(const BufferDesc& desc) {
    BufferDesc d = desc;
    d.type = or_default(d.type, BufferType::VertexBuffer);
    d.usage = or_default(d.usage, Usage::Immutable);
    if (d.size == 0) d.size = d.data.size;
    d.label = label_or(d.label, "(unlabelled buffer)");
    return d;
}

bool validate(const BufferDesc& d, Refusal* why) {
    if (d.size == 0) return refuse(why, "buffer '%s': size 0", d.label);
    if (d.usage == Usage::Immutable && !d.data.ptr)
        return refuse(why, "buffer '%s': an immutable buffer needs its data", d.label);
    if (d.data.ptr && d.data.size > d.size)
        return refuse(why, "buffer '%s': %zu bytes of data exceed its size %zu", d.label, d.data.size, d.size);
    return true;
}

// ---------------------------------------------------------------- images

ImageDesc defaults(const ImageDesc& desc) {
    ImageDesc d = desc;
    if (d.num_mipmaps == 0) d.num_mipmaps = 1;
    if (d.sample_count == 0) d.sample_count = 1;
    d.usage = or_default(d.usage, Usage::Immutable);
    d.pixel_format = or_default(d.pixel_format, d.render_target ? PixelFormat::BGRA8 : PixelFormat::RGBA8);
    d.min_filter = or_default(d.min_filter, Filter::Nearest);
    d.mag_filter = or_default(d.mag_filter, Filter::Nearest);
    d.wrap_u = or_default(d.wrap_u, Wrap::Repeat);
    d.wrap_v = or_default(d.wrap_v, Wrap::Repeat);
    d.label = label_or(d.label, "(unlabelled image)");
    return d;
}

bool validate(const ImageDesc& d, const Limits& limits, Refusal* why) {
    const int max_size = limits.max_texture_size;
    if (d.width <= 0 || d.height <= 0 || d.width > max_size || d.height > max_size)
        return refuse(why, "image '%s': size %dx%d is outside 1..%d", d.label, d.width, d.height, max_size);
    if (bytes_per_pixel(d.pixel_format) == 0)
        return refuse(why, "image '%s': pixel format None cannot be stored", d.label);
    const int full_chain = full_mip_chain(d.width, d.height);
    if (d.num_mipmaps < 1 || d.num_mipmaps > std::min(full_chain, MAX_MIPMAPS))
        return refuse(why, "image '%s': %d mip levels, a %dx%d image has 1..%d", d.label, d.num_mipmaps, d.width,
                      d.height, full_chain);
    if (d.sample_count != 1 && (!d.render_target || d.sample_count != 4 || !limits.msaa_render_targets))
        return refuse(why, "image '%s': sample count %d (only render targets take 4, where the driver has it)", d.label,
                      d.sample_count);
    if (d.sample_count > 1 && d.num_mipmaps > 1)
        return refuse(why, "image '%s': a multisampled target has one mip level", d.label);
    if (!d.render_target &&
        !check_levels(d.width, d.height, d.num_mipmaps, d.pixel_format, d.data, d.usage == Usage::Immutable, d.label,
                      why))
        return false;
    return true;
}

// ---------------------------------------------------------------- shaders

ShaderDesc defaults(const ShaderDesc& desc) {
    ShaderDesc d = desc;
    d.label = label_or(d.label, "(unlabelled shader)");
    return d;
}

bool validate(const ShaderDesc& d, Refusal* why) {
    const ShaderStageDesc* stages[2] = {&d.vs, &d.fs};
    const char* names[2] = {"vertex", "fragment"};
    for (int s = 0; s < 2; ++s) {
        if (!stages[s]->source) return refuse(why, "shader '%s': no %s source", d.label, names[s]);
        if (stages[s]->entry && std::strcmp(stages[s]->entry, "main") != 0)
            return refuse(why, "shader '%s': %s entry point '%s' is not \"main\"", d.label, names[s], stages[s]->entry);
    }
    return true;
}

// ---------------------------------------------------------------- pipelines

PipelineDesc defaults(const PipelineDesc& desc) {
    PipelineDesc d = desc;
    // Offsets not given follow the furthest end so far in their buffer; strides
    // not given are that end.
    int packed[MAX_VERTEX_BUFFERS] = {};
    for (VertexAttrDesc& a : d.layout.attrs) {
        if (a.format == VertexFormat::Invalid) break;
        if (a.buffer_index < 0 || a.buffer_index >= MAX_VERTEX_BUFFERS) continue;  // refused by validate
        if (a.offset == 0) a.offset = packed[a.buffer_index];
        packed[a.buffer_index] = std::max(packed[a.buffer_index], a.offset + vertex_format_bytes(a.format));
    }
    for (int i = 0; i < MAX_VERTEX_BUFFERS; ++i) {
        BufferLayoutDesc& l = d.layout.buffers[i];
        if (l.stride == 0) l.stride = packed[i];
        l.step_func = or_default(l.step_func, VertexStep::PerVertex);
        if (l.step_rate == 0) l.step_rate = 1;
    }
    d.depth.pixel_format = or_default(d.depth.pixel_format, PixelFormat::DepthStencil);
    d.depth.compare = or_default(d.depth.compare, CompareFunc::Always);
    d.color.pixel_format = or_default(d.color.pixel_format, PixelFormat::BGRA8);
    if (d.color.write_mask == COLORMASK_DEFAULT) d.color.write_mask = COLORMASK_RGBA;
    BlendState& b = d.color.blend;
    b.src_factor_rgb = or_default(b.src_factor_rgb, BlendFactor::One);
    b.dst_factor_rgb = or_default(b.dst_factor_rgb, BlendFactor::Zero);
    b.op_rgb = or_default(b.op_rgb, BlendOp::Add);
    b.src_factor_alpha = or_default(b.src_factor_alpha, BlendFactor::One);
    b.dst_factor_alpha = or_default(b.dst_factor_alpha, BlendFactor::Zero);
    b.op_alpha = or_default(b.op_alpha, BlendOp::Add);
    d.primitive_type = or_default(d.primitive_type, PrimitiveType::Triangles);
    d.index_type = or_default(d.index_type, IndexType::None);
    d.cull_mode = or_default(d.cull_mode, CullMode::None);
    d.face_winding = or_default(d.face_winding, FaceWinding::CW);
    if (d.sample_count == 0) d.sample_count = 1;
    d.label = label_or(d.label, "(unlabelled pipeline)");
    return d;
}

bool validate(const PipelineDesc& d, bool shader_valid, Refusal* why) {
    if (!shader_valid) return refuse(why, "pipeline '%s': its shader is not valid", d.label);
    if (!is_color_format(d.color.pixel_format))
        return refuse(why, "pipeline '%s': colour format is not a colour format", d.label);
    if (d.depth.pixel_format != PixelFormat::None && !is_depth_format(d.depth.pixel_format))
        return refuse(why, "pipeline '%s': depth format is not a depth format", d.label);
    for (int k = 0; k < MAX_VERTEX_ATTRIBUTES; ++k) {
        const VertexAttrDesc& a = d.layout.attrs[k];
        if (a.format == VertexFormat::Invalid) break;
        if (a.buffer_index < 0 || a.buffer_index >= MAX_VERTEX_BUFFERS || vertex_format_bytes(a.format) == 0)
            return refuse(why, "pipeline '%s': vertex attribute %d names buffer %d or an unknown format", d.label, k,
                          a.buffer_index);
    }
    return true;
}

// ---------------------------------------------------------------- passes

PassDesc defaults(const PassDesc& desc) {
    PassDesc d = desc;
    d.label = label_or(d.label, "(unlabelled pass)");
    return d;
}

bool validate(const PassDesc& d, const ImageInfo* color, const ImageInfo* depth, Refusal* why) {
    if (!color || !color->render_target || !is_color_format(color->pixel_format))
        return refuse(why, "pass '%s': colour attachment is not a valid colour render target", d.label);
    const int cmip = d.color_attachment.mip_level;
    if (cmip < 0 || cmip >= color->num_mipmaps)
        return refuse(why, "pass '%s': colour attachment mip level %d out of range", d.label, cmip);
    if (!d.depth_stencil_attachment.image.id) return true;
    if (!depth || !depth->render_target || !is_depth_format(depth->pixel_format))
        return refuse(why, "pass '%s': depth attachment is not a valid depth render target", d.label);
    const int dmip = d.depth_stencil_attachment.mip_level;
    if (dmip < 0 || dmip >= depth->num_mipmaps)
        return refuse(why, "pass '%s': depth attachment mip level %d out of range", d.label, dmip);
    const int w = mip_extent(color->width, cmip), h = mip_extent(color->height, cmip);
    const int dw = mip_extent(depth->width, dmip), dh = mip_extent(depth->height, dmip);
    if (dw != w || dh != h || depth->sample_count != color->sample_count)
        return refuse(why, "pass '%s': depth attachment %dx%d (%d samples) differs from colour %dx%d (%d samples)",
                      d.label, dw, dh, depth->sample_count, w, h, color->sample_count);
    return true;
}

}  // namespace gfx::rules

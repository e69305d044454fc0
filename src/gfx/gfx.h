// The graphics layer: pooled GPU objects and draws over OpenGL 4.5 core.
//
// Resource model
// - Buffers, images, shaders, pipelines and passes live in fixed pools and are
//   named by handles: id = slot index (bits 0..15, from 1) | generation << 16;
//   id 0 is never a valid handle. A destroyed object's handle goes stale: its
//   state reads Invalid and every use of it is a no-op.
// - alloc_X reserves a slot (state Alloc), init_X creates the GL object (Valid,
//   or Failed when the description or the driver refuses it); make_X does both.
//   destroy_X on handle 0, a stale handle or a never-made handle does nothing.
// - Creation results need not be examined: a draw whose pipeline, shader, pass
//   or bindings hold an object that is not Valid is skipped (nothing reaches GL,
//   no GL error), and the frame goes on. query_frame_stats() says what was skipped.
// - Descriptor fields left zero take the defaults written next to them.
//
// Frame model
// - begin_pass / begin_default_pass ... end_pass, any number per frame (a begin
//   inside an open pass is ignored; commit ends a pass left open); inside a
//   pass: apply_pipeline, apply_bindings, apply_uniforms, draw. commit() ends the
//   frame: stream-buffer append positions, overflow flags, once-per-frame update
//   marks and the uniform ring all start over.
// - Off-screen passes render with glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE):
//   clip y = +1 lands on row 0 of the target, a texture sampled at v = 0 reads
//   row 0 (the first row of uploaded data), clip z/w < 0 is clipped. The window's
//   pass uses GL_LOWER_LEFT so that clip y = +1 is the top of the window.
// - A pass that is not Valid is begun as invalid: every apply and draw until
//   its end_pass is ignored. A pipeline whose colour format, depth format or
//   sample count differ from the current pass's is refused in that pass.
//
// Shader interface conventions
// - Vertex input location k is the input with semantic TEXCOORD index k
//   (`layout(location = k) in ...` in the source).
// - Uniform blocks are std140. Vertex-stage block k is bound at binding point k,
//   fragment-stage block k at binding point 4 + k. When a block's name is given,
//   the layer sets the binding with glUniformBlockBinding; otherwise the source
//   must say `layout(std140, binding = N)` itself. A block the program uses at
//   a binding where the description declares none, or one the driver reports
//   as larger than the declared size, makes the shader Failed.
// - Fragment image slot k samples texture unit k, vertex image slot k unit 8 + k;
//   the sampler uniform named in the slot is pointed at its unit at init.
// - Compile or link failures leave the shader Failed with the driver's log in
//   last_error(). Nothing aborts.
//
// Images
// - 2D only. Pixel formats RGBA8, BGRA8 (both stored as GL_RGBA8; BGRA8 data
//   is read as bytes B, G, R, A), R32F, Depth (32-bit float depth) and
//   DepthStencil (24/8).
// - Immutable images take every mip level from data.mip[0 .. num_mipmaps-1];
//   a missing level or a level of the wrong size makes the image Failed. Stream
//   and dynamic images take update_image at most once per frame; a second
//   update in the same frame is ignored.
// - Render targets (render_target = true) have one mip level and sample count 1
//   or 4. A 4-sample colour target renders into a multisampled renderbuffer and
//   resolves at end_pass into its single-sample texture, which is what bindings
//   sample. A 4-sample depth target cannot be sampled.
// - Each image owns a GL sampler object with its filters and wraps.
//
// Buffers
// - Immutable buffers take their data at init (required). Dynamic buffers take
//   update_buffer at most once per frame. Stream buffers take update_buffer once
//   or append_buffer any number of times per frame: each append writes at the
//   frame's write position (4-byte aligned) and returns its byte offset. An
//   append that does not fit marks the buffer overflowed: nothing is written and
//   every draw that binds the buffer is skipped until the frame ends.
// - A dynamic or stream buffer keeps a copy per frame in flight, so writing a
//   frame's data never waits for the GPU to finish reading an earlier frame's;
//   bindings made after a write read what it wrote.
//
// Uniforms
// - apply_uniforms copies the block into a per-frame ring (one persistently
//   mapped GL uniform buffer, 256-byte-aligned ranges, fenced so the GPU is done
//   with a region before it is written again). The size must equal the block's
//   declared size, else the next draw is skipped. A frame that runs out of ring
//   space skips its draws that need more.
//
// All calls are main-thread only, with the GL context current. setup() must come
// first; shutdown() releases every object.
#pragma once
#include <cstddef>
#include <cstdint>

namespace gfx {

struct Buffer { uint32_t id; };
struct Image { uint32_t id; };
struct Shader { uint32_t id; };
struct Pipeline { uint32_t id; };
struct Pass { uint32_t id; };

constexpr int MAX_VERTEX_BUFFERS = 3;
constexpr int MAX_VERTEX_ATTRIBUTES = 16;
constexpr int MAX_SHADERSTAGE_UBS = 4;
constexpr int MAX_SHADERSTAGE_IMAGES = 8;  // fragment stage
constexpr int MAX_VS_IMAGES = 4;           // vertex stage
constexpr int MAX_MIPMAPS = 16;
constexpr int UNIFORM_ALIGNMENT = 256;

// A pointer and a byte size.
struct Range {
    const void* ptr;
    size_t size;
};

enum class ResourceState { Initial, Alloc, Valid, Failed, Invalid };

enum class Usage { Default, Immutable, Dynamic, Stream };  // Default: Immutable
enum class BufferType { Default, VertexBuffer, IndexBuffer };  // Default: VertexBuffer
enum class IndexType { Default, None, Uint16, Uint32 };  // Default: None

// Default resolves per use: a plain image's Default is RGBA8, a render target's
// colour Default is the window's BGRA8, a pipeline's depth Default is the
// window's DepthStencil. None means "no such attachment".
enum class PixelFormat { Default, None, RGBA8, BGRA8, R32F, Depth, DepthStencil };

enum class PrimitiveType { Default, Points, Lines, LineStrip, Triangles, TriangleStrip };  // Default: Triangles
enum class Filter {  // Default: Nearest
    Default,
    Nearest,
    Linear,
    NearestMipmapNearest,
    NearestMipmapLinear,
    LinearMipmapNearest,
    LinearMipmapLinear,
};
enum class Wrap { Default, Repeat, ClampToEdge, MirroredRepeat };  // Default: Repeat
enum class VertexFormat { Invalid, Float, Float2, Float3, Float4, UByte4N };
enum class VertexStep { Default, PerVertex, PerInstance };  // Default: PerVertex
enum class CompareFunc {  // Default: Always
    Default,
    Never,
    Less,
    Equal,
    LessEqual,
    Greater,
    NotEqual,
    GreaterEqual,
    Always,
};
enum class CullMode { Default, None, Front, Back };  // Default: None
enum class FaceWinding { Default, CCW, CW };        // Default: CW (front faces are clockwise)
enum class BlendFactor {  // src Default: One, dst Default: Zero
    Default,
    Zero,
    One,
    SrcColor,
    OneMinusSrcColor,
    SrcAlpha,
    OneMinusSrcAlpha,
    DstColor,
    OneMinusDstColor,
    DstAlpha,
    OneMinusDstAlpha,
};
enum class BlendOp { Default, Add, Subtract, ReverseSubtract };  // Default: Add
// Default: clear with the default value. DontCare promises that the pass overwrites
// every pixel; the old content may stay (nothing is cleared).
enum class Action { Default, Clear, Load, DontCare };
enum class ShaderStage { Vs, Fs };

// Colour write mask bits; zero means all four channels.
enum ColorMask : uint8_t {
    COLORMASK_DEFAULT = 0,
    COLORMASK_R = 1,
    COLORMASK_G = 2,
    COLORMASK_B = 4,
    COLORMASK_A = 8,
    COLORMASK_RGBA = 15,
    COLORMASK_NONE = 16,  // write no channel
};

struct Color {
    float r, g, b, a;
};

// ---- setup ----

struct Desc {
    int buffer_pool_size;    // 0: 128
    int image_pool_size;     // 0: 128 (the show asks for 256)
    int shader_pool_size;    // 0: 32
    int pipeline_pool_size;  // 0: 64
    int pass_pool_size;      // 0: 16
    int uniform_buffer_size; // bytes of uniform data per frame; 0: 8 MiB
};

struct Features {
    bool msaa_render_targets;  // 4-sample colour and depth render targets
};

void setup(const Desc& desc);  // needs a current GL 4.5 core context
void shutdown();
bool is_setup();
Features query_features();

// Forget the cached GL state (after code outside this layer changed it).
void reset_state_cache();

// Why the last init_* call made its object Failed (names the object's label and
// what was wrong); "" before the first failure. The first refusal of each kind
// of object after setup() prints it as one line on stderr; builds without
// NDEBUG print every refusal.
const char* last_error();

// ---- buffers ----

struct BufferDesc {
    size_t size;        // 0: data.size
    BufferType type;
    Usage usage;
    Range data;         // immutable: the content (required); others: optional initial content
    const char* label;
};

// ---- images ----

struct ImageData {
    Range mip[MAX_MIPMAPS];  // level i: max(1, width >> i) × max(1, height >> i) pixels, rows top first
};

struct ImageDesc {
    bool render_target;
    int width, height;
    int num_mipmaps;          // 0: 1
    Usage usage;
    PixelFormat pixel_format;
    int sample_count;         // 0: 1; render targets only: 1 or 4
    Filter min_filter, mag_filter;
    Wrap wrap_u, wrap_v;
    ImageData data;           // immutable: every level; stream/dynamic: optional
    const char* label;
};

struct ImageInfo {
    int width, height;
    int num_mipmaps;
    int sample_count;
    PixelFormat pixel_format;  // resolved, never Default
    bool render_target;
};

// ---- shaders ----

struct ShaderAttrDesc {
    const char* name;      // optional: bound to location k with glBindAttribLocation
    const char* sem_name;  // "TEXCOORD" (informational)
    int sem_index;         // = the location
};

struct ShaderUniformBlockDesc {
    size_t size;       // std140 size in bytes; 0: no block in this slot
    const char* name;  // GLSL block name; nullptr: the source declares layout(binding = N)
};

struct ShaderImageDesc {
    const char* name;  // sampler uniform name; nullptr: no image in this slot
};

struct ShaderStageDesc {
    const char* source;  // GLSL 4.50 source, zero-terminated
    const char* entry;   // must be "main" or nullptr
    ShaderUniformBlockDesc uniform_blocks[MAX_SHADERSTAGE_UBS];
    ShaderImageDesc images[MAX_SHADERSTAGE_IMAGES];  // vertex stage: only the first MAX_VS_IMAGES
};

struct ShaderDesc {
    ShaderAttrDesc attrs[MAX_VERTEX_ATTRIBUTES];
    ShaderStageDesc vs;
    ShaderStageDesc fs;
    const char* label;
};

// ---- pipelines ----

struct BufferLayoutDesc {
    int stride;            // 0: the sum of this buffer's attribute sizes
    VertexStep step_func;
    int step_rate;         // 0: 1
};

struct VertexAttrDesc {
    int buffer_index;      // 0 .. MAX_VERTEX_BUFFERS-1
    int offset;            // 0: the sum of the sizes of earlier attributes in the same buffer
    VertexFormat format;   // Invalid ends the list
};

struct LayoutDesc {
    BufferLayoutDesc buffers[MAX_VERTEX_BUFFERS];
    VertexAttrDesc attrs[MAX_VERTEX_ATTRIBUTES];  // attrs[k] feeds location k
};

struct DepthState {
    PixelFormat pixel_format;  // Default: DepthStencil; None: the pass has no depth attachment
    CompareFunc compare;
    bool write_enabled;
};

struct BlendState {
    bool enabled;
    BlendFactor src_factor_rgb, dst_factor_rgb;
    BlendOp op_rgb;
    BlendFactor src_factor_alpha, dst_factor_alpha;
    BlendOp op_alpha;
};

struct ColorState {
    PixelFormat pixel_format;  // Default: BGRA8
    uint8_t write_mask;        // ColorMask bits; 0: all
    BlendState blend;
};

struct PipelineDesc {
    Shader shader;
    LayoutDesc layout;
    DepthState depth;
    ColorState color;
    PrimitiveType primitive_type;
    IndexType index_type;
    CullMode cull_mode;
    FaceWinding face_winding;
    int sample_count;  // 0: 1 (the window's)
    const char* label;
};

// Alpha blending as the show's overlays use it: colour = src × srcA + dst × (1 − srcA),
// alpha = src × 1 + dst × 0.
constexpr BlendState alpha_blending() {
    BlendState b{};
    b.enabled = true;
    b.src_factor_rgb = BlendFactor::SrcAlpha;
    b.dst_factor_rgb = BlendFactor::OneMinusSrcAlpha;
    return b;
}

// ---- passes ----

struct PassAttachmentDesc {
    Image image;
    int mip_level;
};

struct PassDesc {
    PassAttachmentDesc color_attachment;          // required
    PassAttachmentDesc depth_stencil_attachment;  // optional (image id 0: none)
    const char* label;
};

struct ColorAttachmentAction {
    Action action;
    Color value;  // Default action: (0.5, 0.5, 0.5, 1)
};
struct DepthAttachmentAction {
    Action action;
    float value;  // Default action: 1.0
};
struct StencilAttachmentAction {
    Action action;
    uint8_t value;  // Default action: 0
};

struct PassAction {
    ColorAttachmentAction color;
    DepthAttachmentAction depth;
    StencilAttachmentAction stencil;
};

// ---- draws ----

struct Bindings {
    Buffer vertex_buffers[MAX_VERTEX_BUFFERS];
    int vertex_buffer_offsets[MAX_VERTEX_BUFFERS];
    Buffer index_buffer;
    int index_buffer_offset;
    Image vs_images[MAX_VS_IMAGES];
    Image fs_images[MAX_SHADERSTAGE_IMAGES];
};

// Why a draw did not reach GL.
enum class SkipReason {
    None,
    NoPass,           // outside a pass, or inside a pass that is not Valid
    NoPipeline,       // no pipeline applied in this pass, or it is not Valid
    PassMismatch,     // pipeline's colour, depth or sample count differ from the pass
    InvalidBindings,  // a buffer or image that the draw needs is missing or not Valid
    BufferOverflow,   // a bound buffer overflowed this frame
    UniformSize,      // an apply_uniforms of the wrong size or block index
    UniformRingFull,  // the frame's uniform space ran out
    Count,
};

struct FrameStats {
    uint32_t frame_index;  // counts commits
    int passes;            // passes begun (valid or not)
    int draws;             // draws issued to GL
    int draws_skipped;
    int skipped_by_reason[static_cast<int>(SkipReason::Count)];
    SkipReason last_skip_reason;
    int uniform_bytes;     // ring bytes used, alignment included
    int applies_ignored;   // applies outside a pass or inside an invalid one
};

// ---- calls ----

Buffer alloc_buffer();
Image alloc_image();
Shader alloc_shader();
Pipeline alloc_pipeline();
Pass alloc_pass();

void init_buffer(Buffer buf, const BufferDesc& desc);
void init_image(Image img, const ImageDesc& desc);
void init_shader(Shader shd, const ShaderDesc& desc);
void init_pipeline(Pipeline pip, const PipelineDesc& desc);
void init_pass(Pass pass, const PassDesc& desc);

Buffer make_buffer(const BufferDesc& desc);
Image make_image(const ImageDesc& desc);
Shader make_shader(const ShaderDesc& desc);
Pipeline make_pipeline(const PipelineDesc& desc);
Pass make_pass(const PassDesc& desc);

void destroy_buffer(Buffer buf);
void destroy_image(Image img);
void destroy_shader(Shader shd);
void destroy_pipeline(Pipeline pip);
void destroy_pass(Pass pass);

ResourceState query_buffer_state(Buffer buf);
ResourceState query_image_state(Image img);
ResourceState query_shader_state(Shader shd);
ResourceState query_pipeline_state(Pipeline pip);
ResourceState query_pass_state(Pass pass);

ImageInfo query_image_info(Image img);  // zeros for an image that is not Valid
bool query_buffer_overflow(Buffer buf);  // overflowed in this frame

// Replace a dynamic or stream buffer's content from offset 0; once per frame,
// not after an append in the same frame, at most the buffer's size.
void update_buffer(Buffer buf, const Range& data);
// Append to a stream buffer; returns the byte offset of the data in the buffer.
int append_buffer(Buffer buf, const Range& data);
// Replace a stream or dynamic image's levels; at most once per frame.
void update_image(Image img, const ImageData& data);

void begin_pass(Pass pass, const PassAction& action);
void begin_default_pass(const PassAction& action, int width, int height);
void end_pass();
void apply_pipeline(Pipeline pip);
void apply_bindings(const Bindings& bindings);
void apply_uniforms(ShaderStage stage, int ub_index, const void* data, size_t size);
void draw(int base_element, int num_elements, int num_instances);
void commit();

FrameStats query_frame_stats();  // the current frame so far; commit starts a new one

// GL names, for tests and frame captures: the texture that bindings sample
// (a multisampled target's resolve texture), the framebuffer of a pass.
uint32_t gl_image_texture(Image img);
uint32_t gl_pass_framebuffer(Pass pass);

}  // namespace gfx

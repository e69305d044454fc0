// Skeleton: every call is accepted and nothing reaches GL yet.
#include "gfx/gfx.h"

namespace gfx {

void setup(const Desc&) {}
void shutdown() {}
bool is_setup() { return false; }
Features query_features() { return {}; }
void reset_state_cache() {}

Buffer alloc_buffer() { return {}; }
Image alloc_image() { return {}; }
Shader alloc_shader() { return {}; }
Pipeline alloc_pipeline() { return {}; }
Pass alloc_pass() { return {}; }
void init_buffer(Buffer, const BufferDesc&) {}
void init_image(Image, const ImageDesc&) {}
void init_shader(Shader, const ShaderDesc&) {}
void init_pipeline(Pipeline, const PipelineDesc&) {}
void init_pass(Pass, const PassDesc&) {}
Buffer make_buffer(const BufferDesc&) { return {}; }
Image make_image(const ImageDesc&) { return {}; }
Shader make_shader(const ShaderDesc&) { return {}; }
Pipeline make_pipeline(const PipelineDesc&) { return {}; }
Pass make_pass(const PassDesc&) { return {}; }
void destroy_buffer(Buffer) {}
void destroy_image(Image) {}
void destroy_shader(Shader) {}
void destroy_pipeline(Pipeline) {}
void destroy_pass(Pass) {}
ResourceState query_buffer_state(Buffer) { return ResourceState::Invalid; }
ResourceState query_image_state(Image) { return ResourceState::Invalid; }
ResourceState query_shader_state(Shader) { return ResourceState::Invalid; }
ResourceState query_pipeline_state(Pipeline) { return ResourceState::Invalid; }
ResourceState query_pass_state(Pass) { return ResourceState::Invalid; }
ImageInfo query_image_info(Image) { return {}; }
bool query_buffer_overflow(Buffer) { return false; }
void update_buffer(Buffer, const Range&) {}
int append_buffer(Buffer, const Range&) { return 0; }
void update_image(Image, const ImageData&) {}
void begin_pass(Pass, const PassAction&) {}
void begin_default_pass(const PassAction&, int, int) {}
void end_pass() {}
void apply_pipeline(Pipeline) {}
void apply_bindings(const Bindings&) {}
void apply_uniforms(ShaderStage, int, const void*, size_t) {}
void draw(int, int, int) {}
void commit() {}
FrameStats query_frame_stats() { return {}; }
uint32_t gl_image_texture(Image) { return 0; }
uint32_t gl_pass_framebuffer(Pass) { return 0; }

}  // namespace gfx

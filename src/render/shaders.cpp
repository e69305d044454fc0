#include "render/shaders.h"

#include <cstdio>
#include <cstring>

#include "platform/embedded.h"

extern "C" const EmbeddedFile shader_files[];
extern "C" const int shader_files_count;

namespace {

#define BLOCK(record) ProgramBlock{#record, static_cast<int>(sizeof(record))}

// One row per ProgramId, in its order.
const ProgramInfo program_table[] = {
    {"shadow_shader", "shadow.vert", "shadow.frag", 1, {BLOCK(vs_shadow_params)}, {}, {}},
    {"down_shader", "post.vert", "down.frag", 1, {}, {BLOCK(fs_down_params)}, {"tex0"}},
    {"up_shader", "post.vert", "up.frag", 1, {}, {BLOCK(fs_up_params)}, {"tex0"}},
    {"combine_shader", "combine.vert", "combine.frag", 1, {BLOCK(vs_combine_params)},
     {BLOCK(fs_combine_params)}, {"blur", "base"}},
    {"gradient_shader", "background.vert", "gradient.frag", 1, {}, {BLOCK(fs_gradient_params)}, {}},
    {"aztec_shader", "background.vert", "aztec.frag", 1, {}, {BLOCK(fs_aztec_params)}, {"tex_fft"}},
    {"fft_shader", "background.vert", "fft.frag", 1, {}, {}, {"tex"}},
    {"image_grad_shader", "image_grad.vert", "image_grad.frag", 1, {BLOCK(vs_image_params)},
     {BLOCK(fs_image_grad_params)}, {"tex"}},
    {"shape_shader", "shape.vert", "shape.frag", 7, {BLOCK(vs_shape_params)}, {}, {}},
    {"scene_metallic_shader", "scene_metallic.vert", "scene_metallic.frag", 3, {BLOCK(vs_params)},
     {BLOCK(light_params), BLOCK(metallic_params)},
     {"normal_texture", "metallic_roughness_texture", "base_color_texture", "emissive_texture", "shadowMap"}},
};
#undef BLOCK

constexpr int program_count = static_cast<int>(ProgramId::Count);
static_assert(sizeof(program_table) / sizeof(program_table[0]) == program_count,
              "one catalogue row per ProgramId");

gfx::ShaderDesc descs[program_count];
bool desc_built[program_count];

void fill_stage(gfx::ShaderStageDesc& stage, const char* file, const ProgramBlock* blocks, const char* label) {
    stage.source = shader_source(file);
    if (!stage.source) std::fprintf(stderr, "%s: shader source \"%s\" is not embedded\n", label, file);
    stage.entry = "main";
    for (int i = 0; i < max_program_blocks; ++i) {
        stage.uniform_blocks[i].name = blocks[i].name;
        stage.uniform_blocks[i].size = static_cast<size_t>(blocks[i].size);
    }
}

}  // namespace

const ProgramInfo& program_info(ProgramId id) { return program_table[static_cast<int>(id)]; }

const char* shader_source(const char* file_name) {
    for (int i = 0; i < shader_files_count; ++i)
        if (std::strcmp(shader_files[i].name, file_name) == 0)
            return reinterpret_cast<const char*>(shader_files[i].bytes);
    return nullptr;
}

const gfx::ShaderDesc& program_desc(ProgramId id) {
    int index = static_cast<int>(id);
    gfx::ShaderDesc& desc = descs[index];
    if (desc_built[index]) return desc;
    const ProgramInfo& info = program_table[index];
    desc = gfx::ShaderDesc{};
    desc.label = info.label;
    for (int k = 0; k < info.vertex_inputs; ++k) desc.attrs[k] = {nullptr, "TEXCOORD", k};
    fill_stage(desc.vs, info.vs_file, info.vs_blocks, info.label);
    fill_stage(desc.fs, info.fs_file, info.fs_blocks, info.label);
    for (int i = 0; i < max_program_images; ++i) desc.fs.images[i].name = info.images[i];
    desc_built[index] = true;
    return desc;
}

gfx::Shader make_program(ProgramId id) { return gfx::make_shader(program_desc(id)); }

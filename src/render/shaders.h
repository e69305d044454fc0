// The catalogue of the show's GPU programs: for each one its label, its GLSL
// sources (embedded from data/shaders under their file names), its uniform
// blocks per stage and its image slots. The uniform block records are in
// render/uniform_blocks.h; the sources declare the same blocks with
// `layout(std140, binding = N)` (vertex block k at binding k, fragment block k
// at 4 + k) and sampler slot k at texture unit k.
//
// Vertex input location k is the input with semantic TEXCOORD index k. A
// program's description is built on first use and kept; its creator makes the
// program through the graphics layer. Creating a program whose source is not
// embedded prints which file is missing on stderr and yields a program the
// graphics layer marks failed (its draws are skipped). The sources of every
// program live in data/shaders under the file names of the catalogue table in
// shaders.cpp (e.g. "background.vert" with "gradient.frag"); a new file there is
// checked and embedded by the build without further listing.
#pragma once

#include "gfx/gfx.h"
#include "render/uniform_blocks.h"

enum class ProgramId : int {
    Shadow,         // "shadow_shader"
    Down,           // "down_shader"
    Up,             // "up_shader"
    Combine,        // "combine_shader"
    Gradient,       // "gradient_shader"
    Aztec,          // "aztec_shader"
    Fft,            // "fft_shader"
    ImageGrad,      // "image_grad_shader"
    Shape,          // "shape_shader"
    SceneMetallic,  // "scene_metallic_shader"
    Count,
};

constexpr int max_program_blocks = 2;  // per stage; only the scene's fragment stage has two
constexpr int max_program_images = 5;

struct ProgramBlock {
    const char* name;  // GLSL block name; nullptr: no block
    int size;          // bytes, the record's sizeof
};

struct ProgramInfo {
    const char* label;     // "..._shader"
    const char* vs_file;   // embedded source names, e.g. "post.vert"
    const char* fs_file;
    int vertex_inputs;     // locations 0 .. vertex_inputs - 1
    ProgramBlock vs_blocks[max_program_blocks];
    ProgramBlock fs_blocks[max_program_blocks];
    const char* images[max_program_images];  // fragment image slots in order
};

const ProgramInfo& program_info(ProgramId id);

// The embedded GLSL source of that name, zero-terminated; nullptr when absent.
const char* shader_source(const char* file_name);

// The program's description, built on first use.
const gfx::ShaderDesc& program_desc(ProgramId id);

// Makes the program (each caller makes its programs once and keeps the handle).
gfx::Shader make_program(ProgramId id);

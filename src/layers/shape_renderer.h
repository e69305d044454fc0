// Instanced flat outline shapes: thick line segments and thick triangle
// outlines, each instance with its own 4 × 4 transform and colour, alpha-blended
// into the off-screen pass in one draw per call. The background's spectrum bars
// and the shape effect are drawn with it.
//
// Contract
// - shape_renderer_setup() once per graphics session, after resize_targets
//   (the pipeline takes target_sample_count).
// - draw_shapes() inside the off-screen pass. It appends the instance data to
//   two stream buffers shared by every call of the frame: at most
//   shape_max_instances matrices and colours in all. An append that does not
//   fit overflows its buffer, and the graphics layer skips every later draw of
//   that frame that binds it; the next frame starts over.
// - A line is a 1-unit vertical segment centred on the origin, `thick` wide; a
//   triangle outline is the ring between the triangles of circumradius
//   1 − thick/2 and 1 + thick/2, corners at 0°, 120° and 240°.
#pragma once
#include <cstdint>

#include "gfx/gfx.h"
#include "render/math3d.h"

enum ShapeKind : int32_t {
    SHAPE_LINE = 0,      // indices 0–5
    SHAPE_TRIANGLE = 1,  // indices 6–23
};

constexpr int shape_vertex_count = 10;
constexpr int shape_index_count = 24;
constexpr int shape_max_instances = 1024;
constexpr int shape_matrix_stream_bytes = shape_max_instances * 64;  // 65,536
constexpr int shape_color_stream_bytes = shape_max_instances * 16;   // 16,384

struct ShapeVertex {
    vec2 position;
    vec2 offset;  // scaled by thick / 2 and added to the position
};
static_assert(sizeof(ShapeVertex) == 16);

struct ShapeRenderer {
    gfx::Buffer geometry_vertices;  // 10 ShapeVertex, immutable
    gfx::Buffer geometry_indices;   // 24 16-bit indices, immutable
    gfx::Buffer matrix_stream;      // per-instance matrices, appended per draw
    gfx::Buffer color_stream;       // per-instance colours, appended per draw
    gfx::Bindings bindings;         // slot offsets 1 and 2 set per draw
    gfx::Shader shader;             // "shape_shader"
    gfx::Pipeline pipeline;
};

extern ShapeRenderer shape_renderer;

// The static geometry: the line's quad (vertices 0–3) and the triangle's inner
// and outer corners (4 + 2j, 5 + 2j), with their indices.
void shape_geometry(ShapeVertex vertices[shape_vertex_count], uint16_t indices[shape_index_count]);

void shape_renderer_setup();

// Draws `count` instances of `kind`; matrices and colours hold count entries
// each. cam_pos is carried unread; fov_radians gives the unread pixel scale.
// count 0 appends nothing and draws nothing.
void draw_shapes(ShapeKind kind, const mat4& wvp, vec3 cam_pos, float fov_radians, float thick, int32_t count,
                 const mat4* matrices, const vec4* colours);

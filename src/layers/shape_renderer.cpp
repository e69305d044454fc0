#include "layers/shape_renderer.h"

#include <cmath>

#include "layers/layer_common.h"
#include "render/render_targets.h"
#include "render/shaders.h"

ShapeRenderer shape_renderer;

void shape_geometry(ShapeVertex v[shape_vertex_count], uint16_t idx[shape_index_count]) {
    v[0] = {{0.0f, 0.5f}, {-1.0f, 0.0f}};
    v[1] = {{0.0f, 0.5f}, {1.0f, 0.0f}};
    v[2] = {{0.0f, -0.5f}, {1.0f, 0.0f}};
    v[3] = {{0.0f, -0.5f}, {-1.0f, 0.0f}};
    for (int j = 0; j < 3; ++j) {
        // The angle in double; its cosine and sine in float.
        float a = static_cast<float>(j * 2.0 * M_PI / 3.0);
        float c = std::cos(a), s = std::sin(a);
        v[4 + 2 * j] = {{c, s}, {-c, -s}};  // inner corner: pulled toward the centre
        v[5 + 2 * j] = {{c, s}, {c, s}};    // outer corner: pushed away from it
    }
    const uint16_t line[6] = {0, 1, 2, 0, 2, 3};
    for (int i = 0; i < 6; ++i) idx[i] = line[i];
    for (int j = 0; j < 3; ++j) {
        uint16_t inner = static_cast<uint16_t>(4 + 2 * j), outer = static_cast<uint16_t>(5 + 2 * j);
        uint16_t next = static_cast<uint16_t>(j == 2 ? 4 : 6 + 2 * j);  // inner vertex of the next corner
        uint16_t* e = idx + 6 + 6 * j;
        e[0] = inner;
        e[1] = outer;
        e[2] = next;
        e[3] = outer;
        e[4] = static_cast<uint16_t>(next + 1);
        e[5] = next;
    }
}

void shape_renderer_setup() {
    ShapeRenderer& r = shape_renderer;
    r = ShapeRenderer{};
    ShapeVertex vertices[shape_vertex_count];
    uint16_t indices[shape_index_count];
    shape_geometry(vertices, indices);

    gfx::BufferDesc vb{};
    vb.data = {vertices, sizeof vertices};
    vb.label = "shape-vertices";
    r.geometry_vertices = gfx::make_buffer(vb);
    gfx::BufferDesc ib{};
    ib.type = gfx::BufferType::IndexBuffer;
    ib.data = {indices, sizeof indices};
    ib.label = "shape-indices";
    r.geometry_indices = gfx::make_buffer(ib);
    gfx::BufferDesc ms{};
    ms.size = shape_matrix_stream_bytes;
    ms.usage = gfx::Usage::Stream;
    ms.label = "shape-matrices";
    r.matrix_stream = gfx::make_buffer(ms);
    gfx::BufferDesc cs{};
    cs.size = shape_color_stream_bytes;
    cs.usage = gfx::Usage::Stream;
    cs.label = "shape-colors";
    r.color_stream = gfx::make_buffer(cs);

    r.bindings.vertex_buffers[0] = r.geometry_vertices;
    r.bindings.vertex_buffers[1] = r.matrix_stream;
    r.bindings.vertex_buffers[2] = r.color_stream;
    r.bindings.index_buffer = r.geometry_indices;

    r.shader = make_program(ProgramId::Shape);
    gfx::PipelineDesc pd = layer_pipeline_desc(r.shader, true);  // location 0: position
    pd.layout.buffers[1].step_func = gfx::VertexStep::PerInstance;
    pd.layout.buffers[2].step_func = gfx::VertexStep::PerInstance;
    pd.layout.attrs[1] = {0, 0, gfx::VertexFormat::Float2};  // offset
    for (int k = 2; k <= 5; ++k) pd.layout.attrs[k] = {1, 0, gfx::VertexFormat::Float4};  // matrix columns
    pd.layout.attrs[6] = {2, 0, gfx::VertexFormat::Float4};  // colour
    r.pipeline = gfx::make_pipeline(pd);
}

void draw_shapes(ShapeKind kind, const mat4& wvp, vec3 cam_pos, float fov_radians, float thick, int32_t count,
                 const mat4* matrices, const vec4* colours) {
    ShapeRenderer& r = shape_renderer;
    size_t n = count > 0 ? static_cast<size_t>(count) : 0;
    gfx::Bindings b = r.bindings;
    b.vertex_buffer_offsets[1] = gfx::append_buffer(r.matrix_stream, {matrices, n * sizeof(mat4)});
    b.vertex_buffer_offsets[2] = gfx::append_buffer(r.color_stream, {colours, n * sizeof(vec4)});

    vs_shape_params params{};
    params.wvp = wvp;
    params.cam_pos = cam_pos;
    params.thick = thick;
    params.pixel_scale = std::tan(fov_radians * 0.5f) /
                         static_cast<float>(render_targets.target_height > 0 ? render_targets.target_height : 1);

    gfx::apply_pipeline(r.pipeline);
    gfx::apply_bindings(b);
    gfx::apply_uniforms(gfx::ShaderStage::Vs, 0, &params, sizeof params);
    if (n == 0) return;
    if (kind == SHAPE_LINE)
        gfx::draw(0, 6, count);
    else
        gfx::draw(6, 18, count);
}

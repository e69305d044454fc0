// CPU cost of the scene's heaviest frame: draws that each apply a pipeline,
// bindings and three uniform blocks (the scene's own block sizes: 208, 160, 48),
// into a small off-screen target so that the rasteriser does little.
//   gfx_bench            (under xvfb-run on a machine without a display)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "gfx_fixture.h"
#include "platform/app_window.h"

using namespace gfxtest;

namespace {

constexpr int DRAWS = 10000;

const char* const VS = R"(#version 450
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 texcoord;
layout(std140) uniform vs_params { mat4 world; mat4 view_proj; mat4 light_wvp; vec3 eye_pos; };
out vec2 uv;
void main() { uv = texcoord + normal.xy * 0.0; gl_Position = view_proj * world * vec4(position, 1.0) + light_wvp[0] * 0.0 + vec4(eye_pos * 0.0, 0.0); }
)";

const char* const FS = R"(#version 450
layout(std140) uniform light_params { vec4 light_pos[4]; vec4 light_color[4]; float extra; vec2 shadowMapSize; vec3 lightDir; };
layout(std140) uniform metallic_params { vec4 base_color_factor; vec3 emissive_factor; float metallic_factor; float roughness_factor; };
uniform sampler2D normal_texture, metallic_roughness_texture, base_color_texture, emissive_texture, shadowMap;
in vec2 uv;
layout(location = 0) out vec4 frag;
void main() {
    frag = base_color_factor * texture(base_color_texture, uv) + light_color[0] * texture(normal_texture, uv).x
         + texture(metallic_roughness_texture, uv) * metallic_factor + texture(emissive_texture, uv) * roughness_factor
         + texture(shadowMap, uv).x * shadowMapSize.x;
}
)";

struct Scene {
    Target target;
    gfx::Pipeline pip, mismatched;
    gfx::Bindings bindings[2];
};

gfx::Buffer buffer_of(const std::vector<float>& v) { return make_vertices(v, "bench-vertices"); }

Scene make_scene() {
    Scene s;
    s.target = make_target(64, 64, gfx::PixelFormat::BGRA8, gfx::PixelFormat::DepthStencil);
    gfx::ShaderDesc sd{};
    sd.vs.source = VS;
    sd.vs.uniform_blocks[0] = {208, "vs_params"};
    sd.fs.source = FS;
    sd.fs.uniform_blocks[0] = {160, "light_params"};
    sd.fs.uniform_blocks[1] = {48, "metallic_params"};
    const char* images[5] = {"normal_texture", "metallic_roughness_texture", "base_color_texture", "emissive_texture",
                             "shadowMap"};
    for (int i = 0; i < 5; ++i) sd.fs.images[i].name = images[i];
    sd.label = "scene_metallic_shader";
    gfx::Shader shd = gfx::make_shader(sd);
    gfx::PipelineDesc pd{};
    pd.shader = shd;
    pd.layout.attrs[0] = {0, 0, gfx::VertexFormat::Float3};
    pd.layout.attrs[1] = {1, 0, gfx::VertexFormat::Float3};
    pd.layout.attrs[2] = {2, 0, gfx::VertexFormat::Float2};
    pd.index_type = gfx::IndexType::Uint16;
    pd.depth = {gfx::PixelFormat::DepthStencil, gfx::CompareFunc::LessEqual, true};
    pd.cull_mode = gfx::CullMode::Back;
    pd.face_winding = gfx::FaceWinding::CCW;
    s.pip = gfx::make_pipeline(pd);
    pd.sample_count = 4;  // refused in the 1-sample target: every draw is skipped
    s.mismatched = gfx::make_pipeline(pd);

    const uint8_t texel[4] = {255, 255, 255, 255};
    gfx::ImageDesc id{};
    id.width = id.height = 1;
    id.data.mip[0] = {texel, sizeof texel};
    static const uint16_t idx[3] = {0, 1, 2};
    gfx::BufferDesc ib{};
    ib.type = gfx::BufferType::IndexBuffer;
    ib.data = {idx, sizeof idx};
    for (gfx::Bindings& b : s.bindings) {
        b.vertex_buffers[0] = buffer_of({0, 0, 0.5f, 0.01f, 0, 0.5f, 0, 0.01f, 0.5f});  // a triangle of a pixel or so
        b.vertex_buffers[1] = buffer_of({0, 0, 1, 0, 0, 1, 0, 0, 1});
        b.vertex_buffers[2] = buffer_of({0, 0, 1, 0, 0, 1});
        b.index_buffer = gfx::make_buffer(ib);
        for (int i = 0; i < 5; ++i) b.fs_images[i] = gfx::make_image(id);
    }
    if (gfx::query_pipeline_state(s.pip) != gfx::ResourceState::Valid) std::fprintf(stderr, "%s\n", gfx::last_error());
    return s;
}

struct Blocks {
    float vs[52], light[40], metallic[12];
};

void run_frame(const Scene& s, gfx::Pipeline pip, Blocks& u) {
    gfx::PassAction a{};
    gfx::begin_pass(s.target.pass, a);
    for (int i = 0; i < DRAWS; ++i) {
        u.vs[0] = float(i);  // identity-ish world, varying per draw as the scene's would
        gfx::apply_pipeline(pip);
        gfx::apply_bindings(s.bindings[(i / 8) & 1]);  // a few draws per model, then the next model
        gfx::apply_uniforms(gfx::ShaderStage::Vs, 0, u.vs, sizeof u.vs);
        gfx::apply_uniforms(gfx::ShaderStage::Fs, 0, u.light, sizeof u.light);
        gfx::apply_uniforms(gfx::ShaderStage::Fs, 1, u.metallic, sizeof u.metallic);
        gfx::draw(0, 3, 1);
    }
    gfx::end_pass();
}

// Seconds per draw, shown in ns.
benchmark::Counter per_draw() {
    return benchmark::Counter(double(DRAWS), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

Blocks identity_blocks() {
    Blocks u{};
    for (int k = 0; k < 4; ++k) u.vs[k * 5] = u.vs[16 + k * 5] = 1;
    return u;
}

// Issued draws: the layer plus Mesa's per-draw work on the calling thread.
void BM_SceneFrame(benchmark::State& state) {
    static const Scene s = make_scene();  // once: the benchmark library runs this function many times
    Blocks u = identity_blocks();
    for (auto _ : state) {
        run_frame(s, s.pip, u);
        gfx::commit();
        glFinish();
    }
    gfx::FrameStats fs{};
    run_frame(s, s.pip, u);
    fs = gfx::query_frame_stats();
    gfx::commit();
    state.counters["draws"] = fs.draws;
    state.counters["skipped"] = fs.draws_skipped;
    state.counters["uniform_KiB"] = fs.uniform_bytes / 1024.0;
    state.counters["ns_per_draw"] = per_draw();
}
BENCHMARK(BM_SceneFrame)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The same calls with every draw refused: the layer's own bookkeeping alone.
void BM_SceneFrameAllSkipped(benchmark::State& state) {
    static const Scene s = make_scene();
    Blocks u = identity_blocks();
    for (auto _ : state) {
        run_frame(s, s.mismatched, u);
        gfx::commit();
    }
    state.counters["ns_per_draw"] = per_draw();
}
BENCHMARK(BM_SceneFrameAllSkipped)->Unit(benchmark::kMillisecond);

// Per-frame vertex data as the 2D layers send it: instance records appended
// to a stream buffer (or one update of a dynamic buffer) and drawn from, then
// the next frame at once, without waiting for the GPU. A frame that writes
// where the GPU still reads the previous one waits for it here.
const char* const VS_INSTANCED = R"(#version 450
layout(location = 0) in vec2 corner;
layout(location = 1) in vec4 place;
void main() { gl_Position = vec4(corner * place.z + place.xy, 0.0, 1.0); }
)";
const char* const FS_FLAT = R"(#version 450
layout(location = 0) out vec4 frag;
void main() { frag = vec4(1.0); }
)";

constexpr int INSTANCES = 1024, BATCHES = 8;

struct InstancedScene {
    Target target;
    gfx::Pipeline pip;
    gfx::Buffer corners, instances;
};

InstancedScene make_instanced_scene(gfx::Usage usage) {
    InstancedScene s;
    s.target = make_target(256, 256);
    gfx::ShaderDesc sd{};
    sd.vs.source = VS_INSTANCED;
    sd.fs.source = FS_FLAT;
    sd.label = "bench_instanced_shader";
    gfx::PipelineDesc pd{};
    pd.shader = gfx::make_shader(sd);
    pd.layout.attrs[0] = {0, 0, gfx::VertexFormat::Float2};
    pd.layout.attrs[1] = {1, 0, gfx::VertexFormat::Float4};
    pd.layout.buffers[1].step_func = gfx::VertexStep::PerInstance;
    pd.depth.pixel_format = gfx::PixelFormat::None;
    pd.primitive_type = gfx::PrimitiveType::TriangleStrip;
    s.pip = gfx::make_pipeline(pd);
    s.corners = make_vertices({-1, -1, 1, -1, -1, 1, 1, 1}, "bench-corners");
    gfx::BufferDesc bd{};
    bd.size = INSTANCES * 16;
    bd.usage = usage;
    bd.label = "bench-instances";
    s.instances = gfx::make_buffer(bd);
    return s;
}

void instanced_frames(benchmark::State& state, gfx::Usage usage) {
    // Made once per usage: the benchmark library runs this function many times.
    static InstancedScene scenes[2] = {make_instanced_scene(gfx::Usage::Stream), make_instanced_scene(gfx::Usage::Dynamic)};
    const InstancedScene& s = scenes[usage == gfx::Usage::Dynamic ? 1 : 0];
    std::vector<float> data(INSTANCES * 4);
    constexpr int per_batch = INSTANCES / BATCHES;
    uint32_t frame = 0;
    int draws = 0;
    for (auto _ : state) {
        ++frame;
        for (int i = 0; i < INSTANCES; ++i) {
            data[4 * i + 0] = float((i * 37 + frame) % 200) / 100.0f - 1.0f;
            data[4 * i + 1] = float((i * 91) % 200) / 100.0f - 1.0f;
            data[4 * i + 2] = 0.02f;
        }
        int offsets[BATCHES] = {};
        if (usage == gfx::Usage::Dynamic) {
            gfx::update_buffer(s.instances, {data.data(), data.size() * sizeof(float)});
            for (int b = 0; b < BATCHES; ++b) offsets[b] = b * per_batch * 16;
        } else {
            for (int b = 0; b < BATCHES; ++b)
                offsets[b] = gfx::append_buffer(s.instances, {&data[size_t(b) * per_batch * 4], per_batch * 16});
        }
        gfx::begin_pass(s.target.pass, gfx::PassAction{});
        gfx::apply_pipeline(s.pip);
        for (int b = 0; b < BATCHES; ++b) {
            gfx::Bindings bind{};
            bind.vertex_buffers[0] = s.corners;
            bind.vertex_buffers[1] = s.instances;
            bind.vertex_buffer_offsets[1] = offsets[b];
            gfx::apply_bindings(bind);
            gfx::draw(0, 4, per_batch);
        }
        gfx::end_pass();
        draws = gfx::query_frame_stats().draws;
        gfx::commit();
        glFlush();
    }
    glFinish();
    state.counters["draws_per_frame"] = draws;
}

void BM_StreamAppendsFrame(benchmark::State& state) { instanced_frames(state, gfx::Usage::Stream); }
BENCHMARK(BM_StreamAppendsFrame)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_DynamicUpdateFrame(benchmark::State& state) { instanced_frames(state, gfx::Usage::Dynamic); }
BENCHMARK(BM_DynamicUpdateFrame)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    platform::AppDesc app{};
    app.width = 64;
    app.height = 64;
    app.hidden = true;
    if (!platform::open_window(app)) return 1;
    gfx::setup(gfx::Desc{});
    benchmark::AddCustomContext("GL_RENDERER", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    benchmark::RunSpecifiedBenchmarks();
    gfx::shutdown();
    platform::close_window();
    benchmark::Shutdown();
    return 0;
}

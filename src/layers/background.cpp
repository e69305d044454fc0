#include "layers/background.h"

#include <cmath>

#include "audio/fft_image.h"
#include "layers/layer_common.h"
#include "render/render_targets.h"
#include "render/shaders.h"

BackgroundLayer background_layer;

namespace {

constexpr vec4 black = {0.0f, 0.0f, 0.0f, 1.0f};
constexpr vec4 bar_colour = {250.0f / 255.0f, 236.0f / 255.0f, 191.0f / 255.0f, 0.75f};

fs_gradient_params gradient(vec4 from, vec4 to, vec2 dir, double phase) {
    fs_gradient_params p{};
    p.color0 = from;
    p.color1 = to;
    p.dir = dir;
    p.phase = static_cast<float>(phase);
    return p;
}

// The pattern's variants by x = bg.index − 10, tested in order; the last row
// is every other value.
struct PatternVariant {
    float x;
    float angle, rows, thresh;
};
constexpr float third_turn = 2.0943933f;
constexpr PatternVariant pattern_variants[] = {
    {0.1f, -third_turn, 2.5f, 0.5f},
    {0.2f, third_turn, 2.5f, 0.5f},
    {0.3f, 0.0f, 2.5f, 0.5f},
    {0.4f, 0.0f, 10.0f, 0.5f},
    {0.5f, 0.0f, 0.0f, 0.5f},  // rows breathe with time, below
};
constexpr PatternVariant pattern_default = {0.0f, -third_turn, 2.5f, 0.25f};

fs_aztec_params pattern(float x, double time) {
    PatternVariant v = pattern_default;
    for (const PatternVariant& row : pattern_variants)
        if (std::fabs(x - row.x) < 0.001f) {
            v = row;
            break;
        }
    fs_aztec_params p{};
    p.u_angle = v.angle;
    p.u_rows = v.rows;
    if (v.x == 0.5f) {
        double c = std::cos(M_PI * time / 0.3);
        p.u_rows = static_cast<float>(5.0 + 2.5 * c * c * c);
    }
    p.u_time = static_cast<float>(time * 4.0);
    p.u_thresh = v.thresh;
    return p;
}

}  // namespace

BackgroundChoice choose_background(double v, double time) {
    BackgroundChoice c{};
    c.program = BackgroundProgram::Gradient;
    const vec2 down = {0.0f, 1.0f}, across = {1.0f, 0.0f};
    int32_t k = track_int(v);
    if (k < 0) {
        c.bars = true;
        switch (k) {
            case -1: c.gradient = gradient(golden, golden, down, 0.0); break;
            case -3: c.gradient = gradient(golden, terracotta, down, time * 4.0); break;
            case -4: c.gradient = gradient(golden, terracotta, across, time * 8.0); break;
            case -5: c.gradient = gradient(golden, terracotta, down, time * 16.0); break;
            default: c.gradient = gradient(golden, terracotta, down, 0.0); break;
        }
        return c;
    }
    switch (k) {
        case 0: c.gradient = gradient(black, black, down, 0.0); break;
        case 1: case 7: case 8: case 9: c.gradient = gradient(golden, terracotta, down, 0.0); break;
        case 2: c.gradient = gradient(golden, terracotta, down, time); break;
        case 3: c.gradient = gradient(golden, terracotta, down, time * 2.0); break;
        case 4: c.gradient = gradient(golden, terracotta, down, time * 4.0); break;
        case 5: c.gradient = gradient(golden, terracotta, down, time * 8.0); break;
        case 6: c.gradient = gradient(golden, terracotta, down, time * 16.0); break;
        case 11: c.program = BackgroundProgram::Spectrum; break;
        default:  // 10 and 12 or more: the pattern, its variant from the untruncated value
            c.program = BackgroundProgram::Pattern;
            c.pattern = pattern(static_cast<float>(v - 10.0), time);
            break;
    }
    return c;
}

void background_setup() {
    BackgroundLayer& b = background_layer;
    b = BackgroundLayer{};
    b.gradient_shader = make_program(ProgramId::Gradient);
    b.pattern_shader = make_program(ProgramId::Aztec);
    b.spectrum_shader = make_program(ProgramId::Fft);
    b.gradient = gfx::make_pipeline(layer_pipeline_desc(b.gradient_shader, false));
    b.pattern = gfx::make_pipeline(layer_pipeline_desc(b.pattern_shader, false));
    b.spectrum = gfx::make_pipeline(layer_pipeline_desc(b.spectrum_shader, false));
    b.bindings = fullscreen_quad.bindings;
}

void draw_background(const FrameInfo& info, double bg_index, const float* spectrum, uint8_t* scratch) {
    if (info.shadow_pass) return;
    const BackgroundLayer& b = background_layer;
    BackgroundChoice c = choose_background(bg_index, info.time);
    gfx::Bindings bindings = b.bindings;
    switch (c.program) {
        case BackgroundProgram::Gradient:
            gfx::apply_pipeline(b.gradient);
            gfx::apply_bindings(bindings);
            gfx::apply_uniforms(gfx::ShaderStage::Fs, 0, &c.gradient, sizeof c.gradient);
            break;
        case BackgroundProgram::Pattern:
            bindings.fs_images[0] = fft_image();
            gfx::apply_pipeline(b.pattern);
            gfx::apply_bindings(bindings);
            gfx::apply_uniforms(gfx::ShaderStage::Fs, 0, &c.pattern, sizeof c.pattern);
            break;
        case BackgroundProgram::Spectrum:
            bindings.fs_images[0] = fft_image();
            gfx::apply_pipeline(b.spectrum);
            gfx::apply_bindings(bindings);
            break;
    }
    gfx::draw(0, fullscreen_quad_index_count, 1);
    if (c.bars) draw_spectrum_bars(flat_camera(16.0f / 9.0f), spectrum, bar_colour, scratch);
}

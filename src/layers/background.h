// The background: the first thing drawn into the off-screen pass each content
// frame, chosen by the "bg.index" track. A solid colour, a static or scrolling
// two-colour gradient, a gradient with the spectrum bars over it, the animated
// triangular pattern whose lines pulse with the low frequencies, or the full
// spectrum display.
//
// Contract
// - background_setup() once per graphics session, after resize_targets and
//   shape_renderer_setup.
// - draw_background() inside the off-screen pass, before the active part's
//   draw; it returns at once for the shadow variant of the frame. The pattern
//   and spectrum display sample the "fft" image (audio/fft_image.h); while it
//   does not exist the graphics layer skips those draws.
#pragma once
#include <cstdint>

#include "app/parts.h"
#include "gfx/gfx.h"
#include "render/uniform_blocks.h"

enum class BackgroundProgram { Gradient, Pattern, Spectrum };

// What one "bg.index" value draws at a time.
struct BackgroundChoice {
    BackgroundProgram program;
    fs_gradient_params gradient;  // Gradient only
    fs_aztec_params pattern;      // Pattern only
    bool bars;                    // the spectrum bars over the gradient
};

BackgroundChoice choose_background(double bg_index, double time);

struct BackgroundLayer {
    gfx::Shader gradient_shader, pattern_shader, spectrum_shader;  // "gradient_shader", "aztec_shader", "fft_shader"
    gfx::Pipeline gradient, pattern, spectrum;
    gfx::Bindings bindings;  // the full-screen quad; fragment image 0 is the "fft" image at each draw
};

extern BackgroundLayer background_layer;

void background_setup();

// bg_index: "bg.index" at the current row; spectrum: the 512 smoothed values
// (the bars' heights); scratch: vertex_scratch, where the bars are built.
void draw_background(const FrameInfo& info, double bg_index, const float* spectrum, uint8_t* scratch);

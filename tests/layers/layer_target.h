// Test support for the 2D layers: one hidden window with the graphics layer,
// the render targets and the layers set up, and small off-screen targets of
// the off-screen pass's formats to draw them into and read back.
#pragma once
#include <functional>
#include <vector>

#include "gfx/gfx.h"
#include "gfx_fixture.h"
#include "layers/image_overlays.h"
#include "render/math3d.h"
#include "render_window.h"

// Opens the 128 × 72 window once and sets up the targets, the shape renderer,
// the background, the spectrum with its silent "fft" image, and the overlays
// with the given captions. False when no GL context can be made.
bool open_layers(const EmbeddedFile* captions = caption_files, int count = caption_files_count);

using LayerTarget = gfxtest::Target;

// BGRA8 colour and depth-stencil at the off-screen sample count.
LayerTarget make_layer_target(int width, int height);

// Clears the target to `clear`, runs `draw` inside its pass, ends the frame and
// returns the pixels, top row first; `stats` receives the frame's draw figures.
std::vector<Rgba8> render_layers(const LayerTarget& target, vec4 clear, const std::function<void()>& draw,
                                 gfx::FrameStats* stats = nullptr);

// Pixel (x, y) of a read-back, y counted from the top.
inline Rgba8 pixel(const std::vector<Rgba8>& pixels, const LayerTarget& t, int x, int y) {
    return pixels[static_cast<size_t>(y) * t.width + x];
}

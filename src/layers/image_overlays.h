// The two caption overlay layers: drawn last into the off-screen pass, each
// driven by its seven "imgN:" tracks. A layer shows one of the twelve embedded
// captions (position, scale, angle in degrees, opacity and tint), or, with a
// negative index, darkens the whole target by its opacity.
//
// Contract
// - image_overlays_setup() once per graphics session, after resize_targets:
//   decodes the captions with their mip chains (each level made from the one
//   above, at most 16), makes the 8 × 8 white image and the pipeline. A caption
//   that fails to decode keeps handle 0 (a line on stderr names it) and a layer
//   selecting it draws nothing.
// - draw_image_overlays() inside the off-screen pass, after the active part's
//   draw: layer 0, then layer 1, at most one draw each.
// - On screen x = −1 and 1 are the target's left and right edges, y grows
//   upwards with one unit = aspect × the half-height, and a positive angle
//   turns the caption clockwise. At scale 1 a caption keeps its pixel size on
//   a 1920 × 1080 target.
#pragma once
#include "gfx/gfx.h"
#include "platform/embedded.h"
#include "render/uniform_blocks.h"

constexpr int caption_count = 12;

// The embedded captions, in index order (data/captions).
extern "C" const EmbeddedFile caption_files[];
extern "C" const int caption_files_count;

struct CaptionEntry {
    gfx::Image image;   // id 0: not loaded
    int width, height;  // level 0, pixels
};

struct ImageOverlays {
    CaptionEntry captions[caption_count];
    gfx::Image white_image;  // 8 × 8, every byte 255
    gfx::Shader shader;      // "image_grad_shader"
    gfx::Pipeline pipeline;
    gfx::Bindings bindings;  // the full-screen quad; fragment image 0 set per draw
};

extern ImageOverlays image_overlays;

// One layer's track values at the current row, in the order of the track names.
struct ImageLayerValues {
    double alpha, angle, index, mode, scale, x, y;
};

// Mip levels of a width × height image: halved with integer division until a
// side would reach 0, at most 16 (1024 × 512 has 10).
int caption_mip_levels(int width, int height);

// Reads `count` PNG files of `table` as captions 0 … count − 1 (at most 12).
void image_overlays_setup(const EmbeddedFile* table = caption_files, int count = caption_files_count);

// What one layer draws: false when it draws nothing. time in seconds; aspect
// is the target's width over its height.
struct ImageLayerDraw {
    gfx::Image image;
    vs_image_params vs;
    fs_image_grad_params fs;
};
bool image_layer_draw(const ImageLayerValues& layer, double time, float aspect, ImageLayerDraw* out);

void draw_image_overlays(const ImageLayerValues layers[2], double time);

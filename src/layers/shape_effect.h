// The shape effect (part 1 of the show): the spectrum as opaque cream bars
// across the middle of the picture and, over them, a tunnel of 64 triangle
// outlines that are born tiny, turn, wander along a smooth noise path and grow
// exponentially until they far exceed the view, two new ones per row. Its
// clear colour is golden. Stateless: every frame is derived from the time, the
// spectrum and the "param" track.
#pragma once
#include <cstdint>

#include "app/parts.h"
#include "render/math3d.h"

constexpr int tunnel_slots = 64;

// The triangles' colour by "param" (truncated): the five tints, alpha 191/255
// for 0 … 2, 1 for 3, 100/255 for 4; any other value is invisible rose.
vec4 tunnel_tint(double param);

// The triangles alive at `time` (seconds) in slot order, each slot skipped
// until it is first used; returns how many were written (at most 64).
int build_triangle_tunnel(float time, vec4 tint, mat4 matrices[tunnel_slots], vec4 colours[tunnel_slots]);

// The camera of the effect for a window of that size: a 90° projection whose
// aspect is the window's own.
mat4 shape_effect_view_projection(float width, float height);

// The effect for the main variant of the frame (the shadow variant draws
// nothing). param: "param" at the current row; spectrum: the 512 smoothed
// values; scratch: vertex_scratch, where the instances are built.
void draw_shape_effect(const FrameInfo& info, double param, const float* spectrum, uint8_t* scratch);

// Drawing a scene graph through the real passes in tests: the shadow map's
// pass, then the off-screen pass, read back from the off-screen colour image.
#pragma once
#include <vector>

#include "render/math3d.h"
#include "render_window.h"
#include "scene/scene_graph.h"

// Opens the shared hidden window (width × height) and builds single-sample
// render targets of that size; false without a GL 4.5 context.
bool open_scene_window(int width, int height);

// A camera record looking from eye at center (up +y unless given), with a
// perspective of fov_degrees and the target's aspect.
uint32_t add_camera(Scene* scene, vec3 eye, vec3 center, float fov_degrees, float near_plane, float far_plane,
                    vec3 up = {0, 1, 0});

// A light node at `position` (its direction from the origin) under parent, or the root for 0.
uint32_t add_light(Scene* scene, vec3 position, vec3 color, float intensity, uint32_t parent = 0);

// Shadow pass then lit pass, cleared to `clear`; returns the off-screen image.
std::vector<Rgba8> draw_scene(Scene* scene, uint32_t camera, uint32_t shadow_camera, Rgba8 clear = {0, 0, 0, 0});

// Where a world point lands in the off-screen image (pixel column, row).
void project_to_pixel(const Camera& camera, vec3 world, int& column, int& row);
// The world point a pixel's centre sees on the plane through `point` with `normal`.
vec3 pixel_on_plane(const Camera& camera, int column, int row, vec3 point, vec3 normal);

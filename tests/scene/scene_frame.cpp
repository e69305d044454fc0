#include "scene_frame.h"

#include <cmath>

#include "gfx/gfx.h"
#include "render/render_targets.h"
#include "scene/scene_render.h"

bool open_scene_window(int width, int height) {
    if (!open_render_window(width, height)) return false;
    antialias_requested = false;
    resize_targets(width, height);
    return true;
}

uint32_t add_camera(Scene* scene, vec3 eye, vec3 center, float fov_degrees, float near_plane, float far_plane,
                    vec3 up) {
    uint32_t handle = camera_create(scene);
    Camera* c = scene_camera(scene, handle);
    c->eye = eye;
    c->center = center;
    c->up = up;
    c->view = look_at(eye, center, up);
    float aspect = static_cast<float>(render_targets.window_width) / static_cast<float>(render_targets.window_height);
    c->projection = perspective(fov_degrees, aspect, near_plane, far_plane);
    return handle;
}

uint32_t add_light(Scene* scene, vec3 position, vec3 color, float intensity, uint32_t parent) {
    uint32_t node = node_create(scene, parent ? parent : scene->root);
    Node* n = scene_node(scene, node);
    n->light = light_create(scene);
    n->transform = translate(position);
    Light* l = scene_light(scene, n->light);
    l->color = color;
    l->intensity = intensity;
    return node;
}

std::vector<Rgba8> draw_scene(Scene* scene, uint32_t camera, uint32_t shadow_camera, Rgba8 clear) {
    const Camera& cam = *scene_camera(scene, camera);
    const Camera& shadow = *scene_camera(scene, shadow_camera);
    gfx::begin_pass(shadow_map.pass, shadow_map.pass_action);
    render_shadow_pass(scene, shadow);
    gfx::end_pass();
    const float rgba[4] = {clear.r / 255.0f, clear.g / 255.0f, clear.b / 255.0f, clear.a / 255.0f};
    gfx::begin_pass(render_targets.offscreen_pass, offscreen_pass_action(rgba));
    render_lit_pass(scene, cam, shadow);
    gfx::end_pass();
    std::vector<Rgba8> pixels = read_image(render_targets.color_image);
    gfx::commit();
    return pixels;
}

void project_to_pixel(const Camera& camera, vec3 world, int& column, int& row) {
    vec4 clip = camera.projection * camera.view * vec4{world.x, world.y, world.z, 1};
    float x = clip.x / clip.w, y = clip.y / clip.w;
    column = static_cast<int>(std::floor((x + 1) * 0.5f * render_targets.window_width));
    row = static_cast<int>(std::floor((1 - y) * 0.5f * render_targets.window_height));
}

vec3 pixel_on_plane(const Camera& camera, int column, int row, vec3 point, vec3 normal) {
    // View-space ray through the pixel centre: x_ndc = P00 x / -z, y_ndc = P11 y / -z.
    float x = (column + 0.5f) / render_targets.window_width * 2 - 1;
    float y = 1 - (row + 0.5f) / render_targets.window_height * 2;
    const mat4& v = camera.view;
    vec3 s = {v.at(0, 0), v.at(1, 0), v.at(2, 0)};
    vec3 u = {v.at(0, 1), v.at(1, 1), v.at(2, 1)};
    vec3 f = {-v.at(0, 2), -v.at(1, 2), -v.at(2, 2)};
    vec3 dir = s * (x / camera.projection.at(0, 0)) + u * (y / camera.projection.at(1, 1)) + f;
    float t = dot(point - camera.eye, normal) / dot(dir, normal);
    return camera.eye + dir * t;
}

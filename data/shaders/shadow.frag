#version 450
// Every channel gets the interpolated clip z / clip w: the nearest surface's
// light-space depth (the pass clears to 1.0 where nothing is drawn).
layout(location = 0) in vec2 clip_zw;
layout(location = 0) out vec4 frag_color;

void main() {
    frag_color = vec4(clip_zw.x / clip_zw.y);
}

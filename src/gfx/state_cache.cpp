// The GL state that draws change most, cached so that repeated applies cost
// no GL calls. UNKNOWN in a field means "ask GL again": after set-up, after a
// destroy (GL reuses names) and after reset_state_cache().
#include <cstring>

#include "gfx/gfx_internal.h"

namespace gfx::detail {

void cache_forget() {
    GlCache& c = st.cache;
    std::memset(&c, 0xff, sizeof c);  // every field UNKNOWN
    for (auto& p : st.pipelines.slots) {
        for (int i = 0; i < MAX_VERTEX_BUFFERS; ++i) p.vao_buffer[i] = UNKNOWN;
        p.vao_index_buffer = UNKNOWN;
    }
}

void set_enabled(GLuint& cached, GLenum cap, bool on) {
    if (cached == GLuint(on)) return;
    cached = on;
    on ? glEnable(cap) : glDisable(cap);
}

void bind_draw_framebuffer(GLuint fbo) {
    if (st.cache.draw_fbo == fbo) return;
    st.cache.draw_fbo = fbo;
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, fbo);
}

void set_viewport(int w, int h) {
    GLint* v = st.cache.viewport;
    if (v[0] == 0 && v[1] == 0 && v[2] == w && v[3] == h) return;
    v[0] = 0, v[1] = 0, v[2] = w, v[3] = h;
    glViewport(0, 0, w, h);
}

void set_clip_origin(GLenum origin) {
    if (st.cache.clip_origin == origin) return;
    st.cache.clip_origin = origin;
    glClipControl(origin, GL_ZERO_TO_ONE);
}

void set_color_mask(uint8_t mask) {
    if (st.cache.color_mask == mask) return;
    st.cache.color_mask = mask;
    glColorMask(mask & 1, (mask >> 1) & 1, (mask >> 2) & 1, (mask >> 3) & 1);
}

void set_depth_write(bool on) {
    if (st.cache.depth_write == GLuint(on)) return;
    st.cache.depth_write = on;
    glDepthMask(on ? GL_TRUE : GL_FALSE);
}

void bind_texture(int unit, GLuint tex, GLuint sampler) {
    if (st.cache.texture[unit] != tex) {
        st.cache.texture[unit] = tex;
        glBindTextureUnit(GLuint(unit), tex);
    }
    if (st.cache.sampler[unit] != sampler) {
        st.cache.sampler[unit] = sampler;
        glBindSampler(GLuint(unit), sampler);
    }
}

}  // namespace gfx::detail

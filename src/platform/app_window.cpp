#include "platform/app_window.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <epoxy/gl.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace platform {
namespace {

struct WindowState {
    AppDesc desc{};
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    bool quit = false;
};
WindowState state;

}  // namespace

int32_t keycode_from_sdl(int32_t k) {
    if (k >= SDLK_a && k <= SDLK_z) return KEYCODE_A + (k - SDLK_a);
    if (k >= SDLK_0 && k <= SDLK_9) return KEYCODE_0 + (k - SDLK_0);
    switch (k) {
        case SDLK_SPACE: return KEYCODE_SPACE;
        case SDLK_ESCAPE: return KEYCODE_ESCAPE;
        case SDLK_RETURN: return KEYCODE_ENTER;
        case SDLK_KP_ENTER: return KEYCODE_ENTER;
        case SDLK_TAB: return KEYCODE_TAB;
        case SDLK_BACKSPACE: return KEYCODE_BACKSPACE;
        case SDLK_RIGHT: return KEYCODE_RIGHT;
        case SDLK_LEFT: return KEYCODE_LEFT;
        case SDLK_DOWN: return KEYCODE_DOWN;
        case SDLK_UP: return KEYCODE_UP;
        default: return KEYCODE_INVALID;
    }
}

bool init_video() {
    // X11 takes every window's WM_CLASS (name and class) from this variable.
    SDL_setenv("SDL_VIDEO_X11_WMCLASS", "VELMO", 1);
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "velmo: cannot start the video subsystem: %s\n", SDL_GetError());
        return false;
    }
    return true;
}

bool open_window(const AppDesc& desc) {
    state = WindowState{};
    state.desc = desc;
    if (!init_video()) return false;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 5);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, 0);  // the window itself is never multisampled

    Uint32 flags = SDL_WINDOW_OPENGL;  // no SDL_WINDOW_ALLOW_HIGHDPI: high-DPI stays off
    flags |= desc.hidden ? SDL_WINDOW_HIDDEN : SDL_WINDOW_SHOWN;
    int w = desc.width > 0 ? desc.width : 640;
    int h = desc.height > 0 ? desc.height : 360;
    if (desc.full_screen) {
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
    } else {
        flags |= SDL_WINDOW_RESIZABLE;
    }
    const char* title = desc.window_title ? desc.window_title : "velmo";
    state.window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h, flags);
    if (!state.window) {
        std::fprintf(stderr, "velmo: cannot open a %dx%d window: %s\n", w, h, SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    state.context = SDL_GL_CreateContext(state.window);
    if (!state.context) {
        std::fprintf(stderr, "velmo: cannot create an OpenGL 4.5 core context: %s\n", SDL_GetError());
        SDL_DestroyWindow(state.window);
        state.window = nullptr;
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    SDL_GL_MakeCurrent(state.window, state.context);
    SDL_GL_SetSwapInterval(1);
    return true;
}

void close_window() {
    if (state.context) SDL_GL_DeleteContext(state.context);
    if (state.window) SDL_DestroyWindow(state.window);
    state.context = nullptr;
    state.window = nullptr;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool pump_events() {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
            case SDL_QUIT: state.quit = true; break;
            case SDL_WINDOWEVENT:
                if (e.window.event == SDL_WINDOWEVENT_CLOSE) state.quit = true;
                break;
            case SDL_KEYDOWN:
            case SDL_KEYUP: {
                Event ev{};
                ev.type = e.type == SDL_KEYDOWN ? EventType::KeyDown : EventType::KeyUp;
                ev.key_code = keycode_from_sdl(e.key.keysym.sym);
                ev.key_repeat = e.key.repeat != 0;
                if (state.desc.event_cb) state.desc.event_cb(&ev);
                break;
            }
            default: break;
        }
    }
    return !state.quit;
}

void swap_window() {
    if (state.window) SDL_GL_SwapWindow(state.window);
}

int framebuffer_width() {
    int w = 1, h = 1;
    if (state.window) SDL_GL_GetDrawableSize(state.window, &w, &h);
    return w < 1 ? 1 : w;
}

int framebuffer_height() {
    int w = 1, h = 1;
    if (state.window) SDL_GL_GetDrawableSize(state.window, &w, &h);
    return h < 1 ? 1 : h;
}

void request_quit() { state.quit = true; }
bool quit_requested() { return state.quit; }

void read_window_pixels(int w, int h, uint8_t* rgba) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, framebuffer_height() - h, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    // GL's row 0 is the bottom; callers get the top row first.
    std::vector<uint8_t> row(static_cast<size_t>(w) * 4);
    for (int y = 0; y < h / 2; ++y) {
        uint8_t* a = rgba + static_cast<size_t>(y) * w * 4;
        uint8_t* b = rgba + static_cast<size_t>(h - 1 - y) * w * 4;
        std::memcpy(row.data(), a, row.size());
        std::memcpy(a, b, row.size());
        std::memcpy(b, row.data(), row.size());
    }
}

int run_app(const AppDesc& desc) {
    if (!open_window(desc)) return 1;
    if (desc.init_cb) desc.init_cb();
    while (pump_events()) {
        if (desc.frame_cb) desc.frame_cb();
        swap_window();
        // A quit asked for inside the frame (or by an event) ends the loop after this frame.
        if (state.quit) break;
    }
    if (desc.cleanup_cb) desc.cleanup_cb();
    close_window();
    return 0;
}

}  // namespace platform

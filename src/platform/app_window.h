// The window and its event loop: SDL2 with an OpenGL 4.5 core context.
//
// The show's four callbacks are driven either by run_app (the real loop: one
// frame per display refresh until a quit request or the close box), or by a
// caller that opens the window itself and calls its own frame function, as the
// test harness and the capture tool do with a hidden window and a manual clock.
#pragma once
#include <cstdint>

namespace platform {

enum class EventType : int32_t { Invalid = 0, KeyDown, KeyUp };

// Key codes as the show knows them; keys without a code here arrive as Invalid.
enum Keycode : int32_t {
    KEYCODE_INVALID = 0,
    KEYCODE_SPACE = 32,
    KEYCODE_0 = 48,  // '0'..'9' are 48..57
    KEYCODE_A = 65,  // 'A'..'Z' are 65..90
    KEYCODE_ESCAPE = 256,
    KEYCODE_ENTER = 257,
    KEYCODE_TAB = 258,
    KEYCODE_BACKSPACE = 259,
    KEYCODE_RIGHT = 262,
    KEYCODE_LEFT = 263,
    KEYCODE_DOWN = 264,
    KEYCODE_UP = 265,
};

struct Event {
    EventType type;
    int32_t key_code;  // a Keycode
    bool key_repeat;   // a key held down sends repeated KeyDown events
};

struct AppDesc {
    void (*init_cb)();
    void (*frame_cb)();
    void (*cleanup_cb)();
    void (*event_cb)(const Event*);
    int width, height;         // client area in windowed mode
    bool full_screen;          // borderless at the desktop's size; the display mode is never changed
    bool hidden;               // never shown: tests and the capture tool
    const char* window_title;  // nullptr: "velmo"
};

// Opens the window and the GL context, runs init, the frame loop and cleanup,
// closes the window. Returns the process exit status: 0 after a quit request or
// the close box, 1 when the window or context cannot be made (a message says why).
int run_app(const AppDesc& desc);

// The pieces of run_app, for callers that drive frames themselves.
bool open_window(const AppDesc& desc);  // false with a message on stderr
void close_window();
bool pump_events();   // delivers pending events to event_cb; false once a quit is requested
void swap_window();   // presents the frame (waits for the vertical blank with swap interval 1)

int framebuffer_width();   // at least 1
int framebuffer_height();  // at least 1
void request_quit();       // the loop ends after the current frame
bool quit_requested();

// Reads the window's back buffer (the frame just drawn, before swap_window):
// w × h pixels of RGBA8 starting at the top-left corner, rows top to bottom.
void read_window_pixels(int w, int h, uint8_t* rgba);

// Starts SDL's video subsystem (counted: each call needs one SDL_QuitSubSystem)
// with the show's X11 identity, WM_CLASS "VELMO", which SDL reads only when the
// subsystem first starts. False with a message on stderr.
bool init_video();

// Turns an SDL key symbol into a Keycode (KEYCODE_INVALID for keys the show has no code for).
int32_t keycode_from_sdl(int32_t sdl_keycode);

}  // namespace platform

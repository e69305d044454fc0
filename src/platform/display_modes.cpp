#include "platform/display_modes.h"

#include <SDL.h>

#include "platform/app_window.h"

namespace platform {

std::vector<RawDisplayMode> list_display_modes() {
    std::vector<RawDisplayMode> modes;
    if (!init_video()) return modes;
    int count = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode m;
        if (SDL_GetDisplayMode(0, i, &m) != 0) break;
        modes.push_back({static_cast<uint32_t>(m.w), static_cast<uint32_t>(m.h),
                         static_cast<uint32_t>(SDL_BYTESPERPIXEL(m.format))});
    }
    // The video subsystem stays up: closing the display connection here and
    // opening another for the dialog a moment later can meet an X server that
    // resets itself when its last client leaves.
    return modes;
}

}  // namespace platform

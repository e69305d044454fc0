#include "platform/display_modes.h"

#include <SDL.h>

namespace platform {

std::vector<RawDisplayMode> list_display_modes() {
    std::vector<RawDisplayMode> modes;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return modes;
    int count = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode m;
        if (SDL_GetDisplayMode(0, i, &m) != 0) break;
        modes.push_back({static_cast<uint32_t>(m.w), static_cast<uint32_t>(m.h),
                         static_cast<uint32_t>(SDL_BYTESPERPIXEL(m.format))});
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return modes;
}

}  // namespace platform

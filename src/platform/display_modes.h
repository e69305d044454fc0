// The primary display's modes as SDL lists them (display 0), in its order.
#pragma once
#include <cstdint>
#include <vector>

namespace platform {

struct RawDisplayMode {
    uint32_t width, height;
    uint32_t bytes_per_pixel;  // 4 for 32-bit modes (X11 reports its 24-bit-depth visual in 4 bytes)
};

// Every mode of display 0; empty when the video subsystem cannot start. Leaves
// SDL's video subsystem running (the show's window opens on it).
std::vector<RawDisplayMode> list_display_modes();

}  // namespace platform

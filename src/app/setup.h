// Start-up: the list of display sizes offered in the setup dialog, its default
// entry, and what the dialog records. The rules here are platform-free; the
// modes come from platform::list_display_modes and the dialog from setup_dialog.h.
#pragma once
#include <cstdint>

#include "platform/display_modes.h"

struct DisplaySize {
    uint32_t width, height;
    bool operator==(const DisplaySize&) const = default;
};

struct DisplayModeList {
    static constexpr int capacity = 4096;
    DisplaySize entries[capacity];
    int32_t count;
};

struct SetupChoice {
    DisplaySize size;  // {0, 0} until the start button is pressed
    bool full_screen;
    bool antialias;    // asks for multisampled off-screen targets where the GPU offers them
};

// Appends modes in enumeration order: only 32-bit modes (4 bytes per pixel),
// a size equal to the entry just before it is skipped, and enumeration stops
// once the list holds 4096 entries.
void build_display_mode_list(const platform::RawDisplayMode* modes, int mode_count, DisplayModeList* list);

// The last exact 1920 x 1080 entry, else entry 0.
int default_display_mode(const DisplayModeList& list);

// The combo box text of an entry: "1920x1080".
void format_display_mode(const DisplaySize& size, char* text, int text_size);

// What the start button records: the selected entry's size and the two check
// boxes. A selection outside the list (an empty list, or nothing selected)
// records nothing, so the start ends like a cancel.
void record_setup_choice(const DisplayModeList& list, int selected, bool full_screen_checked,
                         bool antialias_checked, SetupChoice* choice);

// True once a size was recorded: the show may start.
bool setup_choice_made(const SetupChoice& choice);

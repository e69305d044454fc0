#include "app/setup.h"

#include <cstdio>

void build_display_mode_list(const platform::RawDisplayMode* modes, int mode_count, DisplayModeList* list) {
    for (int i = 0; i < mode_count; ++i) {
        if (list->count >= DisplayModeList::capacity) return;
        const platform::RawDisplayMode& m = modes[i];
        if (m.bytes_per_pixel != 4) continue;
        if (list->count > 0) {
            const DisplaySize& last = list->entries[list->count - 1];
            if (last.width == m.width && last.height == m.height) continue;
        }
        list->entries[list->count++] = {m.width, m.height};
    }
}

int default_display_mode(const DisplayModeList& list) {
    int chosen = 0;
    for (int i = 0; i < list.count; ++i) {
        if (list.entries[i].width == 1920 && list.entries[i].height == 1080) chosen = i;
    }
    return chosen;
}

void format_display_mode(const DisplaySize& size, char* text, int text_size) {
    std::snprintf(text, static_cast<size_t>(text_size), "%ux%u", size.width, size.height);
}

void record_setup_choice(const DisplayModeList& list, int selected, bool full_screen_checked,
                         bool antialias_checked, SetupChoice* choice) {
    if (selected < 0 || selected >= list.count) return;
    choice->full_screen = full_screen_checked;
    choice->antialias = antialias_checked;
    choice->size = list.entries[selected];
}

bool setup_choice_made(const SetupChoice& choice) { return choice.size.width != 0 && choice.size.height != 0; }

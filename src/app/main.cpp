// velmo: lists the display modes, asks for a size in the setup dialog, then runs the show.
#include "app/frame_driver.h"
#include "app/setup.h"
#include "app/setup_dialog.h"
#include "platform/app_window.h"
#include "platform/display_modes.h"
#include "render/render_targets.h"

int main() {
    static DisplayModeList modes{};  // 32 KiB: not on the stack
    std::vector<platform::RawDisplayMode> raw = platform::list_display_modes();
    build_display_mode_list(raw.data(), static_cast<int>(raw.size()), &modes);

    SetupChoice choice{};
    run_setup_dialog(modes, &choice);
    // A cancel (or no dialog at all) ends here, before any window, context or audio device exists.
    if (!setup_choice_made(choice)) return 0;

    antialias_requested = choice.antialias;
    platform::AppDesc desc{};
    desc.init_cb = app_init;
    desc.frame_cb = app_frame;
    desc.cleanup_cb = app_cleanup;
    desc.event_cb = app_event;
    desc.width = static_cast<int>(choice.size.width);
    desc.height = static_cast<int>(choice.size.height);
    desc.full_screen = choice.full_screen;
    desc.window_title = "velmo velmo velmo";
    return platform::run_app(desc);
}

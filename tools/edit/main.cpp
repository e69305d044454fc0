// velmo-edit: the show in a window, linked live to the track editor.
// velmo-edit [--size WxH] [--host HOST] [--port PORT] [--save-dir DIR] [--help]
#include <cstdio>

#include "app/frame_driver.h"
#include "edit_options.h"
#include "edit_session.h"
#include "platform/app_window.h"
#include "platform/clock.h"

namespace {

EditSession session;

void edit_init() {
    app_init();
    edit_session_use_tracks(&session);
}

void edit_frame() {
    edit_session_poll(&session, platform::clock_now());
    app_frame();
    edit_session_follow(&session);
}

void edit_cleanup() {
    edit_session_close(&session);
    app_cleanup();
}

}  // namespace

int main(int argc, char** argv) {
    EditOptions options;
    std::string error;
    if (!parse_edit_options(argc, argv, &options, &error)) {
        std::fprintf(stderr, "velmo-edit: %s\n%s", error.c_str(), EDIT_USAGE);
        return 2;
    }
    if (options.help) {
        std::fputs(EDIT_USAGE, stdout);
        return 0;
    }
    if (!edit_session_open(&session, options.host, options.port, options.save_dir, &error)) {
        std::fprintf(stderr, "velmo-edit: %s\n", error.c_str());
        return 1;
    }

    platform::AppDesc desc{};
    desc.init_cb = edit_init;
    desc.frame_cb = edit_frame;
    desc.cleanup_cb = edit_cleanup;
    desc.event_cb = app_event;
    desc.width = options.width;
    desc.height = options.height;
    desc.window_title = "velmo-edit";
    return platform::run_app(desc);
}

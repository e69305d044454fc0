// velmo-edit's command line: --size WxH, --host, --port, --save-dir, --help.
#pragma once
#include <string>

#include "editor_protocol.h"

struct EditOptions {
    int width = 1280;
    int height = 720;
    std::string host = "127.0.0.1";
    int port = EDITOR_DEFAULT_PORT;
    std::string save_dir = ".";
    bool help = false;
};

inline constexpr const char EDIT_USAGE[] =
    "usage: velmo-edit [--size WxH] [--host HOST] [--port PORT] [--save-dir DIR] [--help]\n"
    "Plays the show in a window, linked to the track editor at HOST:PORT (default 127.0.0.1:1338):\n"
    "the editor's keys show at once, its cursor moves the music, and its save writes the\n"
    "32 track files into DIR (default the current folder). Escape quits.\n";

// False with one line in *error naming the argument that is wrong.
bool parse_edit_options(int argc, const char* const* argv, EditOptions* options, std::string* error);

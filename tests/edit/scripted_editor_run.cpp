// The scripted editor as a program, for trying velmo-edit by hand without the
// track editor: it serves the embedded timeline on 127.0.0.1 and then runs a
// script of steps, one per argument after the port:
//   synced | wait SECONDS | pause 0/1 | row ROW | key TRACK ROW VALUE TYPE
//   delete TRACK ROW | save | shell COMMAND
// TRACK is a track name ("bg.index"); "synced" waits (at most 60 s) until the
// program has asked for every track and received every key. PORT 0 takes a
// free port; the first line says which. It waits at most 60 s for velmo-edit
// to connect, runs the steps, and ends after the last one.
//   scripted_editor_run 1338 synced "pause 1" "row 300" "shell import -window root a.png" ...
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "app/sync_tracks.h"
#include "scripted_editor.h"

namespace {

using Clock = std::chrono::steady_clock;

void pump_for(ScriptedEditor& editor, double seconds) {
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < until) {
        editor.pump();
        usleep(2000);
    }
}

bool run_step(ScriptedEditor& editor, const std::string& step) {
    std::istringstream in(step);
    std::string verb;
    in >> verb;
    if (verb == "synced") {
        const auto give_up = Clock::now() + std::chrono::seconds(60);
        while (Clock::now() < give_up &&
               !(editor.decode_received().track_names.size() == TRACK_COUNT && editor.outgoing.empty()))
            pump_for(editor, 0.01);
        if (!editor.outgoing.empty() || editor.decode_received().track_names.size() != TRACK_COUNT) {
            std::fprintf(stderr, "scripted editor: the program never asked for every track\n");
            return false;
        }
    } else if (verb == "wait") {
        double seconds = 0;
        in >> seconds;
        pump_for(editor, seconds);
    } else if (verb == "pause") {
        int flag = 0;
        in >> flag;
        editor.send_pause(flag != 0);
    } else if (verb == "row") {
        uint32_t row = 0;
        in >> row;
        editor.send_set_row(row);
    } else if (verb == "key" || verb == "delete") {
        std::string name;
        uint32_t row = 0;
        float value = 0;
        int type = 0;
        in >> name >> row;
        if (verb == "key") in >> value >> type;
        const int slot = track_slot(name);
        if (slot < 0) {
            std::fprintf(stderr, "scripted editor: no track \"%s\"\n", name.c_str());
            return false;
        }
        if (verb == "key")
            editor.send_set_key(uint32_t(slot), row, value, uint8_t(type));
        else
            editor.send_delete_key(uint32_t(slot), row);
    } else if (verb == "save") {
        editor.send_save_tracks();
    } else if (verb == "shell") {
        pump_for(editor, 0.0);
        const std::string command = step.substr(step.find("shell") + 6);
        if (std::system(command.c_str()) != 0) std::fprintf(stderr, "scripted editor: \"%s\" failed\n", command.c_str());
    } else {
        std::fprintf(stderr, "scripted editor: unknown step \"%s\"\n", step.c_str());
        return false;
    }
    editor.pump();
    std::printf("scripted editor: %s\n", step.c_str());
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: scripted_editor_run PORT STEP...\n");
        return 2;
    }
    if (!open_sync_tracks()) return 1;
    ScriptedEditor editor;
    for (int slot = 0; slot < TRACK_COUNT; ++slot) editor.keys[track_name_table[slot]] = sync_tracks.tracks[slot]->keys;
    if (!editor.listen(static_cast<uint16_t>(std::atoi(argv[1])))) {
        std::fprintf(stderr, "scripted editor: cannot listen on 127.0.0.1:%s\n", argv[1]);
        return 1;
    }
    std::printf("scripted editor: listening on 127.0.0.1:%u\n", unsigned(editor.port));
    std::fflush(stdout);
    const auto give_up = Clock::now() + std::chrono::seconds(60);
    while (!editor.connected() && Clock::now() < give_up) pump_for(editor, 0.01);
    if (!editor.connected()) {
        std::fprintf(stderr, "scripted editor: nobody connected\n");
        return 1;
    }
    std::printf("scripted editor: connected\n");
    for (int i = 2; i < argc; ++i)
        if (!run_step(editor, argv[i])) return 1;
    pump_for(editor, 0.2);
    return 0;
}

// One loop for the scripted editor and velmo-edit's session under test.
#pragma once
#include <unistd.h>

#include <cstdint>

#include "edit_session.h"
#include "scripted_editor.h"

// Runs the editor and one session poll per round, up to 2 s, until done().
template <typename Done>
bool pump_until(ScriptedEditor& editor, EditSession& session, uint64_t now_ns, Done done) {
    for (int round = 0; round < 2000; ++round) {
        if (done()) return true;
        editor.pump();
        edit_session_poll(&session, now_ns);
        usleep(1000);
    }
    return done();
}

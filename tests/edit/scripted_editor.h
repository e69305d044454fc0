// A stand-in for the track editor, for tests: a TCP server on 127.0.0.1 at a
// free port that speaks the editor's side of the protocol. Nothing runs by
// itself: pump() does, without waiting, what the sockets allow, so a test
// drives the editor and the program under test from one loop.
//
// By default it answers the greeting, and answers each GET_TRACK by sending
// every key it holds for that name as SET_KEY commands, as the editor does.
// Everything the program sent is kept in `received` and decoded on request.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/sync_tracks.h"

struct ClientStream {
    std::string greeting;                 // the first bytes, up to the greeting's length
    std::vector<std::string> track_names; // GET_TRACK names in order
    std::vector<uint32_t> rows;           // SET_ROW rows in order
    bool well_formed = true;              // false: bytes that are none of these
};

struct ScriptedEditor {
    std::map<std::string, std::vector<TrackKey>> keys;  // what GET_TRACK answers with
    std::string reply_greeting = "hello, demo!";
    bool answer_tracks = true;

    int listen_fd = -1;
    int client_fd = -1;
    uint16_t port = 0;
    std::vector<uint8_t> received;
    std::vector<uint8_t> outgoing;
    int connections = 0;  // accepted so far

    ~ScriptedEditor();
    bool listen(uint16_t fixed_port = 0);  // binds 127.0.0.1 on fixed_port, or on a free port
    void pump();     // accept, read, answer, send: never waits
    bool connected() const { return client_fd >= 0; }
    void disconnect();  // closes the program's connection (the editor goes away) and forgets its bytes
    void stop();        // closes everything

    ClientStream decode_received() const;

    // Commands the editor sends.
    void send_raw(const std::vector<uint8_t>& bytes);
    void send_set_key(uint32_t track, uint32_t row, float value, uint8_t type);
    void send_delete_key(uint32_t track, uint32_t row);
    void send_set_row(uint32_t row);
    void send_pause(bool paused);
    void send_save_tracks();

  private:
    size_t answered_bytes = 0;  // bytes of `received` already acted on
    bool greeted = false;
    int tracks_answered = 0;
    void answer();
};

// Big-endian bytes of a u32, for hand-made messages.
void append_be32(std::vector<uint8_t>* out, uint32_t v);

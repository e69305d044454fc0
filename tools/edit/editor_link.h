// The connection to the track editor: a non-blocking TCP client that the
// program polls once per frame. No call ever waits on the network.
//
// Contract
// - editor_link_open() resolves the host once (numeric or a name) and makes no
//   connection yet; the first poll tries.
// - editor_link_poll() does what the socket allows without waiting: it starts a
//   connection when none is open and the retry time has come (one try a
//   second), finishes a connection in progress, sends the greeting, checks the
//   editor's reply, then asks for every track in the order given, receives and
//   parses whatever has arrived and sends what is queued. It reports what
//   happened in the poll in EditorLinkEvents.
// - A fault in what the editor sent (see editor_protocol.h), a connection that
//   ends inside a message, or a socket error drops the connection with one line
//   on stderr naming it; messages before the fault are still reported. The next
//   try comes a second later.
// - editor_link_send_row() queues a SET_ROW for the editor; only while greeted.
#pragma once
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

#include "editor_protocol.h"

enum class EditorLinkState {
    Waiting,     // no socket; the next try is due at next_try_ns
    Connecting,  // connect() in progress
    Greeting,    // greeting sent, the editor's reply not complete yet
    Connected,   // greeted, tracks asked for
};

struct EditorLink {
    sockaddr_storage address{};
    socklen_t address_size = 0;
    std::string where;                     // "host:port", for messages
    std::vector<std::string> track_names;  // asked for in this order on every connection
    uint64_t retry_interval_ns = 1000000000;

    EditorLinkState state = EditorLinkState::Waiting;
    int socket_fd = -1;
    uint64_t next_try_ns = 0;
    EditorParser parser;
    std::vector<uint8_t> outgoing;
    bool said_unreachable = false;  // "no editor" is said once until a connection succeeds
    std::string last_error;         // the line of the last drop, for callers that want it
};

struct EditorLinkEvents {
    bool greeted = false;   // the editor answered the greeting in this poll: the tracks start empty
    bool dropped = false;   // the connection ended in this poll
    std::vector<EditorMessage> messages;  // in arrival order; all come after `greeted`
};

// False with a line in *error when the host cannot be resolved.
bool editor_link_open(EditorLink* link, const std::string& host, int port, std::vector<std::string> track_names,
                      std::string* error);
void editor_link_poll(EditorLink* link, uint64_t now_ns, EditorLinkEvents* events);
void editor_link_send_row(EditorLink* link, uint32_t row);
bool editor_link_connected(const EditorLink& link);
// Closes the socket; the link may be polled again afterwards (it reconnects).
void editor_link_close(EditorLink* link);

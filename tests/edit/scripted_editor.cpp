#include "scripted_editor.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::string_view client_greeting = "hello, synctracker!";

uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// One message the program sends after its greeting, at `at`: its size, or 0
// when it is not complete yet, or -1 when it is no message the program sends.
long client_message_size(const std::vector<uint8_t>& bytes, size_t at) {
    const size_t left = bytes.size() - at;
    switch (bytes[at]) {
    case 2:  // GET_TRACK
        if (left < 5) return 0;
        return left < 5 + be32(&bytes[at + 1]) ? 0 : long(5 + be32(&bytes[at + 1]));
    case 3:  // SET_ROW
        return left < 5 ? 0 : 5;
    default: return -1;
    }
}

}  // namespace

void append_be32(std::vector<uint8_t>* out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

ScriptedEditor::~ScriptedEditor() { stop(); }

bool ScriptedEditor::listen(uint16_t fixed_port) {
    listen_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listen_fd < 0) return false;
    const int reuse = 1;
    ::setsockopt(listen_fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(fixed_port);  // 0: a free port
    socklen_t size = sizeof address;
    if (::bind(listen_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_fd, 4) != 0 || ::getsockname(listen_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        stop();
        return false;
    }
    port = ntohs(address.sin_port);
    return true;
}

void ScriptedEditor::pump() {
    if (client_fd < 0 && listen_fd >= 0) {
        int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            client_fd = fd;
            ++connections;
            received.clear();
            outgoing.clear();
            answered_bytes = 0;
            greeted = false;
            tracks_answered = 0;
        }
    }
    if (client_fd < 0) return;

    uint8_t chunk[4096];
    for (int reads = 0; reads < 64; ++reads) {
        ssize_t got = ::recv(client_fd, chunk, sizeof chunk, 0);
        if (got > 0) {
            received.insert(received.end(), chunk, chunk + got);
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            ::close(client_fd);  // the program went away
            client_fd = -1;
            return;
        }
        break;
    }
    answer();

    size_t sent_total = 0;
    while (sent_total < outgoing.size()) {
        ssize_t sent = ::send(client_fd, outgoing.data() + sent_total, outgoing.size() - sent_total, MSG_NOSIGNAL);
        if (sent <= 0) break;
        sent_total += static_cast<size_t>(sent);
    }
    outgoing.erase(outgoing.begin(), outgoing.begin() + static_cast<std::ptrdiff_t>(sent_total));
}

void ScriptedEditor::answer() {
    if (!greeted) {
        if (received.size() < client_greeting.size()) return;
        greeted = true;
        answered_bytes = client_greeting.size();
        outgoing.insert(outgoing.end(), reply_greeting.begin(), reply_greeting.end());
    }
    while (answered_bytes < received.size()) {
        long size = client_message_size(received, answered_bytes);
        if (size <= 0) return;
        if (received[answered_bytes] == 2) {
            std::string name(received.begin() + static_cast<long>(answered_bytes) + 5,
                             received.begin() + static_cast<long>(answered_bytes) + size);
            const uint32_t index = static_cast<uint32_t>(tracks_answered++);
            auto found = keys.find(name);
            if (answer_tracks && found != keys.end())
                for (const TrackKey& key : found->second)
                    send_set_key(index, static_cast<uint32_t>(key.row), key.value, static_cast<uint8_t>(key.type));
        }
        answered_bytes += static_cast<size_t>(size);
    }
}

void ScriptedEditor::disconnect() {
    if (client_fd >= 0) ::close(client_fd);
    client_fd = -1;
    received.clear();
    outgoing.clear();
}

void ScriptedEditor::stop() {
    disconnect();
    if (listen_fd >= 0) ::close(listen_fd);
    listen_fd = -1;
}

ClientStream ScriptedEditor::decode_received() const {
    ClientStream stream;
    const size_t greeting_size = std::min(received.size(), client_greeting.size());
    stream.greeting.assign(received.begin(), received.begin() + static_cast<long>(greeting_size));
    size_t at = greeting_size;
    while (at < received.size()) {
        long size = client_message_size(received, at);
        if (size <= 0) {
            stream.well_formed = false;
            break;
        }
        if (received[at] == 2)
            stream.track_names.emplace_back(received.begin() + static_cast<long>(at) + 5,
                                            received.begin() + static_cast<long>(at) + size);
        else
            stream.rows.push_back(be32(&received[at + 1]));
        at += static_cast<size_t>(size);
    }
    return stream;
}

void ScriptedEditor::send_raw(const std::vector<uint8_t>& bytes) {
    outgoing.insert(outgoing.end(), bytes.begin(), bytes.end());
}

void ScriptedEditor::send_set_key(uint32_t track, uint32_t row, float value, uint8_t type) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    outgoing.push_back(0);
    append_be32(&outgoing, track);
    append_be32(&outgoing, row);
    append_be32(&outgoing, bits);
    outgoing.push_back(type);
}

void ScriptedEditor::send_delete_key(uint32_t track, uint32_t row) {
    outgoing.push_back(1);
    append_be32(&outgoing, track);
    append_be32(&outgoing, row);
}

void ScriptedEditor::send_set_row(uint32_t row) {
    outgoing.push_back(3);
    append_be32(&outgoing, row);
}

void ScriptedEditor::send_pause(bool paused) {
    outgoing.push_back(4);
    outgoing.push_back(paused ? 1 : 0);
}

void ScriptedEditor::send_save_tracks() { outgoing.push_back(5); }

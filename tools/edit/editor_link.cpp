#include "editor_link.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Reads per poll are bounded so that an editor sending without pause cannot
// hold a frame; what is left waits in the socket for the next frame.
constexpr int max_reads_per_poll = 64;
constexpr size_t read_chunk_bytes = 16384;

void close_socket(EditorLink* link) {
    if (link->socket_fd >= 0) ::close(link->socket_fd);
    link->socket_fd = -1;
    link->outgoing.clear();
}

void wait_for_retry(EditorLink* link, uint64_t now_ns) {
    close_socket(link);
    link->state = EditorLinkState::Waiting;
    link->next_try_ns = now_ns + link->retry_interval_ns;
}

void drop(EditorLink* link, uint64_t now_ns, const std::string& why, EditorLinkEvents* events) {
    link->last_error = link->where + ": " + why;
    std::fprintf(stderr, "velmo-edit: %s; connection dropped\n", link->last_error.c_str());
    wait_for_retry(link, now_ns);
    events->dropped = true;
}

void unreachable(EditorLink* link, uint64_t now_ns) {
    if (!link->said_unreachable) {
        std::printf("velmo-edit: no editor at %s; trying again every second\n", link->where.c_str());
        std::fflush(stdout);
        link->said_unreachable = true;
    }
    wait_for_retry(link, now_ns);
}

void greet(EditorLink* link) {
    link->state = EditorLinkState::Greeting;
    editor_parser_reset(&link->parser, static_cast<uint32_t>(link->track_names.size()));
    link->outgoing.assign(CLIENT_GREETING.begin(), CLIENT_GREETING.end());
}

void start_connect(EditorLink* link, uint64_t now_ns) {
    link->socket_fd = ::socket(link->address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (link->socket_fd < 0) {
        unreachable(link, now_ns);
        return;
    }
    if (::connect(link->socket_fd, reinterpret_cast<const sockaddr*>(&link->address), link->address_size) == 0) {
        greet(link);
    } else if (errno == EINPROGRESS) {
        link->state = EditorLinkState::Connecting;
    } else {
        unreachable(link, now_ns);
    }
}

void finish_connect(EditorLink* link, uint64_t now_ns) {
    pollfd p{link->socket_fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) <= 0) return;  // still in progress
    int socket_error = 0;
    socklen_t size = sizeof socket_error;
    if (::getsockopt(link->socket_fd, SOL_SOCKET, SO_ERROR, &socket_error, &size) != 0 || socket_error != 0) {
        unreachable(link, now_ns);
        return;
    }
    greet(link);
}

// Sends as much of the queue as the socket takes now. False on a socket error.
bool flush(EditorLink* link, std::string* why) {
    size_t sent_total = 0;
    while (sent_total < link->outgoing.size()) {
        ssize_t sent = ::send(link->socket_fd, link->outgoing.data() + sent_total, link->outgoing.size() - sent_total,
                              MSG_NOSIGNAL);
        if (sent > 0) {
            sent_total += static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        *why = std::string("cannot send: ") + std::strerror(errno);
        return false;
    }
    link->outgoing.erase(link->outgoing.begin(), link->outgoing.begin() + static_cast<std::ptrdiff_t>(sent_total));
    return true;
}

void ask_for_tracks(EditorLink* link) {
    link->state = EditorLinkState::Connected;
    for (const std::string& name : link->track_names) encode_get_track(name, &link->outgoing);
    if (link->said_unreachable) std::printf("velmo-edit: connected to the editor at %s\n", link->where.c_str());
    link->said_unreachable = false;
    std::fflush(stdout);
}

void receive(EditorLink* link, uint64_t now_ns, EditorLinkEvents* events) {
    uint8_t chunk[read_chunk_bytes];
    for (int reads = 0; reads < max_reads_per_poll; ++reads) {
        ssize_t got = ::recv(link->socket_fd, chunk, sizeof chunk, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            drop(link, now_ns, std::string("cannot receive: ") + std::strerror(errno), events);
            return;
        }
        if (got == 0) {
            std::string why;
            if (!editor_finish(link->parser, &why)) {
                drop(link, now_ns, why, events);
            } else {
                std::printf("velmo-edit: the editor at %s closed the connection; keeping the tracks\n",
                            link->where.c_str());
                std::fflush(stdout);
                link->last_error.clear();
                wait_for_retry(link, now_ns);
                events->dropped = true;
            }
            return;
        }
        const bool was_greeted = editor_greeted(link->parser);
        std::string why;
        const bool ok = editor_feed(&link->parser, chunk, static_cast<size_t>(got), &events->messages, &why);
        if (!was_greeted && editor_greeted(link->parser)) {
            events->greeted = true;
            ask_for_tracks(link);
        }
        if (!ok) {
            drop(link, now_ns, why, events);
            return;
        }
    }
}

}  // namespace

bool editor_link_open(EditorLink* link, const std::string& host, int port, std::vector<std::string> track_names,
                      std::string* error) {
    editor_link_close(link);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    int result = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (result != 0 || found == nullptr) {
        *error = "editor host \"" + host + "\" cannot be resolved: " + ::gai_strerror(result);
        return false;
    }
    // The editor listens on IPv4 as a rule: prefer that where a name has both.
    const addrinfo* chosen = found;
    for (const addrinfo* a = found; a; a = a->ai_next)
        if (a->ai_family == AF_INET) {
            chosen = a;
            break;
        }
    std::memcpy(&link->address, chosen->ai_addr, chosen->ai_addrlen);
    link->address_size = chosen->ai_addrlen;
    ::freeaddrinfo(found);
    link->where = host + ":" + service;
    link->track_names = std::move(track_names);
    link->state = EditorLinkState::Waiting;
    link->next_try_ns = 0;
    return true;
}

void editor_link_poll(EditorLink* link, uint64_t now_ns, EditorLinkEvents* events) {
    *events = EditorLinkEvents{};
    if (link->address_size == 0) return;  // never opened
    if (link->state == EditorLinkState::Waiting) {
        if (now_ns < link->next_try_ns) return;
        start_connect(link, now_ns);
    }
    if (link->state == EditorLinkState::Connecting) finish_connect(link, now_ns);
    if (link->state == EditorLinkState::Waiting || link->state == EditorLinkState::Connecting) return;

    std::string why;
    if (!flush(link, &why)) {
        drop(link, now_ns, why, events);
        return;
    }
    receive(link, now_ns, events);
    if (link->state == EditorLinkState::Connected && !flush(link, &why)) drop(link, now_ns, why, events);
}

void editor_link_send_row(EditorLink* link, uint32_t row) {
    if (link->state != EditorLinkState::Connected) return;
    encode_set_row(row, &link->outgoing);
    std::string why;
    flush(link, &why);  // a socket error shows again, and is reported, at the next poll
}

bool editor_link_connected(const EditorLink& link) { return link.state == EditorLinkState::Connected; }

void editor_link_close(EditorLink* link) {
    close_socket(link);
    link->state = EditorLinkState::Waiting;
    link->next_try_ns = 0;
}

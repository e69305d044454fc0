#include "platform/fetch.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

struct Item {
    FetchResponse response{};
    std::string path;
    void (*callback)(const FetchResponse*) = nullptr;
};

struct FetchState {
    bool valid = false;
    FetchDesc desc{};
    uint32_t next_handle = 1;
    std::vector<Item*> in_flight;   // owned; main thread only
    std::deque<Item*> queued;       // sent, not yet dispatched; main thread only
    std::mutex mutex;               // guards to_io, from_io, stop
    std::condition_variable wake;
    std::deque<Item*> to_io;
    // Finished by the I/O thread, and the list fetch_dowork delivers from: both
    // hold max_requests from setup on, so swapping them allocates nothing.
    std::vector<Item*> from_io;
    std::vector<Item*> delivering;
    bool stop = false;
    std::thread io_thread;
    Item* binding = nullptr;        // the item whose dispatched callback runs now
};
FetchState state;

void read_file(Item* item) {
    FetchResponse& r = item->response;
    if (!r.buffer) {
        r.failed = true;
        r.error = FetchError::NoBuffer;
        return;
    }
    std::FILE* f = std::fopen(item->path.c_str(), "rb");
    if (!f) {
        r.failed = true;
        r.error = FetchError::FileNotFound;
        return;
    }
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    if (size < 0 || static_cast<size_t>(size) > r.buffer_size) {
        r.failed = true;
        r.error = FetchError::BufferTooSmall;
    } else {
        size_t got = std::fread(r.buffer, 1, static_cast<size_t>(size), f);
        r.fetched = true;
        r.data = r.buffer;
        r.data_size = got;
    }
    std::fclose(f);
}

void io_loop() {
    for (;;) {
        Item* item = nullptr;
        {
            std::unique_lock<std::mutex> lock(state.mutex);
            state.wake.wait(lock, [] { return state.stop || !state.to_io.empty(); });
            if (state.stop) return;
            item = state.to_io.front();
            state.to_io.pop_front();
        }
        read_file(item);
        std::lock_guard<std::mutex> lock(state.mutex);
        state.from_io.push_back(item);
    }
}

void finish(Item* item) {
    item->response.dispatched = false;
    item->response.finished = true;
    item->callback(&item->response);
    for (size_t i = 0; i < state.in_flight.size(); ++i) {
        if (state.in_flight[i] == item) {
            state.in_flight.erase(state.in_flight.begin() + static_cast<long>(i));
            break;
        }
    }
    delete item;
}

}  // namespace

void fetch_setup(const FetchDesc& desc) {
    if (state.valid) return;
    state.desc = desc;
    if (state.desc.max_requests <= 0) state.desc.max_requests = 64;
    if (state.desc.num_channels <= 0) state.desc.num_channels = 1;
    if (state.desc.num_lanes <= 0) state.desc.num_lanes = 4;
    state.in_flight.reserve(size_t(state.desc.max_requests));
    state.from_io.reserve(size_t(state.desc.max_requests));
    state.delivering.reserve(size_t(state.desc.max_requests));
    state.stop = false;
    state.io_thread = std::thread(io_loop);
    state.valid = true;
}

uint32_t fetch_send(const FetchRequest& request) {
    if (!state.valid || !request.path || !request.callback) return 0;
    if (request.channel < 0 || request.channel >= state.desc.num_channels) return 0;
    if (request.user_data_size > sizeof(FetchResponse::user_data)) return 0;
    if (static_cast<int>(state.in_flight.size()) >= state.desc.max_requests) return 0;
    Item* item = new Item;
    item->path = request.path;
    item->callback = request.callback;
    FetchResponse& r = item->response;
    r.handle = state.next_handle++;
    r.channel = request.channel;
    if (request.user_data && request.user_data_size) std::memcpy(r.user_data, request.user_data, request.user_data_size);
    r.buffer = request.buffer;
    r.buffer_size = request.buffer_size;
    state.in_flight.push_back(item);
    state.queued.push_back(item);
    return r.handle;
}

void fetch_bind_buffer(uint32_t handle, void* buffer, size_t size) {
    if (state.binding && state.binding->response.handle == handle) {
        state.binding->response.buffer = buffer;
        state.binding->response.buffer_size = size;
    }
}

void fetch_dowork() {
    if (!state.valid) return;
    // Deliver what the I/O thread finished.
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.delivering.swap(state.from_io);
    }
    for (Item* item : state.delivering) {
        item->response.path = item->path.c_str();
        finish(item);
    }
    state.delivering.clear();
    // Dispatch new requests, one lane's worth per channel and frame.
    int lanes = state.desc.num_lanes;
    while (!state.queued.empty() && lanes-- > 0) {
        Item* item = state.queued.front();
        state.queued.pop_front();
        item->response.path = item->path.c_str();
        item->response.dispatched = true;
        state.binding = item;
        item->callback(&item->response);
        state.binding = nullptr;
        item->response.dispatched = false;
        std::lock_guard<std::mutex> lock(state.mutex);
        state.to_io.push_back(item);
        state.wake.notify_one();
    }
}

void fetch_shutdown() {
    if (!state.valid) return;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.stop = true;
    }
    state.wake.notify_all();
    state.io_thread.join();
    for (Item* item : state.in_flight) delete item;
    state.in_flight.clear();
    state.queued.clear();
    state.to_io.clear();
    state.from_io.clear();
    state.delivering.clear();
    state.valid = false;
}

}  // namespace platform

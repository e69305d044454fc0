// A small asynchronous file loader for images that a model references by file
// name. One I/O thread reads; every callback runs on the main thread inside
// fetch_dowork, once per frame.
//
// A request's life: fetch_send queues it; the next fetch_dowork dispatches it
// (callback with dispatched = true, where the callback may bind a buffer with
// fetch_bind_buffer); the I/O thread reads the file into that buffer; a later
// fetch_dowork delivers the result (callback with fetched or failed, and
// finished = true). A request without a buffer fails with FetchError::NoBuffer.
#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

enum class FetchError : int32_t { None = 0, FileNotFound, NoBuffer, BufferTooSmall, TooManyRequests };

struct FetchResponse {
    uint32_t handle;
    bool dispatched;  // a buffer may be bound now
    bool fetched;     // data and data_size are valid
    bool failed;      // error says why
    bool finished;    // the last callback of this request
    FetchError error;
    const char* path;
    int channel;
    uint8_t user_data[16];
    const void* data;
    size_t data_size;
    void* buffer;
    size_t buffer_size;
};

struct FetchRequest {
    const char* path;
    int channel;                   // 0 .. channels - 1
    const void* user_data;         // copied, up to 16 bytes
    size_t user_data_size;
    void (*callback)(const FetchResponse*);
    void* buffer;                  // may also be bound when dispatched
    size_t buffer_size;
};

struct FetchDesc {
    int max_requests;  // 0: 64
    int num_channels;  // 0: 1
    int num_lanes;     // 0: 4
};

void fetch_setup(const FetchDesc& desc);
uint32_t fetch_send(const FetchRequest& request);  // 0 when the request cannot be queued
void fetch_bind_buffer(uint32_t handle, void* buffer, size_t size);  // only inside a dispatched callback
void fetch_dowork();
void fetch_shutdown();

}  // namespace platform

// The playback device: where the music's samples go.
//
// A device is opened with a format (32-bit float, interleaved) and a data
// callback, then started; from then on its backend asks for frames, and each
// request runs playback_device_render: the output is zeroed, the data callback
// fills it, and the master volume scales it. The callback therefore sees its
// own samples at full level; what leaves the device is at the master volume.
//
// Backends are tables of functions, so the caller picks where the requests come
// from: `sdl_playback_backend` (SDL2 audio; requests arrive on SDL's audio
// thread, in real time even under SDL_AUDIODRIVER=dummy) or
// `manual_playback_backend` (nothing runs by itself: the caller pulls frames
// with manual_playback_pull, as the test harness and the capture tool do to
// keep audio and video in lockstep). A test may pass a table of its own.
#pragma once
#include <atomic>
#include <cstdint>

struct PlaybackDevice;

// output: frame_count × channels floats, zeroed before the call; input: null.
using PlaybackCallback = void (*)(PlaybackDevice* device, float* output, const float* input,
                                  uint32_t frame_count);

struct PlaybackDeviceDesc {
    int sample_rate;         // 0: 44,100
    int channels;            // 0: 2
    uint32_t period_frames;  // frames per request the backend aims for; 0: 10 ms' worth
    PlaybackCallback callback;
    void* user_data;
};

struct PlaybackBackend {
    const char* name;
    bool (*open)(PlaybackDevice* device);   // device->desc is filled in; false: cannot open
    bool (*start)(PlaybackDevice* device);  // false: cannot start
    void (*close)(PlaybackDevice* device);  // stops requests before it returns
};

struct PlaybackDevice {
    const PlaybackBackend* backend;
    PlaybackDeviceDesc desc;  // defaults resolved
    std::atomic<float> master_volume;
    uint32_t backend_id;  // the backend's own handle (SDL's device id)
};

extern const PlaybackBackend sdl_playback_backend;
extern const PlaybackBackend manual_playback_backend;

// Opens device with backend; false when the backend cannot open it (the device
// is then closed again and may be reopened).
bool playback_device_open(PlaybackDevice* device, const PlaybackBackend* backend,
                          const PlaybackDeviceDesc& desc);
bool playback_device_start(PlaybackDevice* device);
void playback_device_close(PlaybackDevice* device);  // no-op on a closed device
void playback_device_set_master_volume(PlaybackDevice* device, float volume);

// One request: zero, data callback, master volume. Backends call it; so may a
// test that plays the backend's part.
void playback_device_render(PlaybackDevice* device, float* output, uint32_t frame_count);

// For the manual backend: renders frame_count frames from the started manual
// device into output (frame_count × its channels floats). Without a started
// manual device, frame_count stereo frames of silence and false.
bool manual_playback_pull(float* output, uint32_t frame_count);

#include "audio/playback_device.h"

#include <SDL.h>

#include <cstring>

namespace {

constexpr int kDefaultSampleRate = 44100;
constexpr int kDefaultChannels = 2;

// ---- SDL2 audio: requests on SDL's audio thread ----

void sdl_trampoline(void* user_data, Uint8* stream, int byte_count) {
    auto* device = static_cast<PlaybackDevice*>(user_data);
    const auto frame_bytes = static_cast<int>(sizeof(float)) * device->desc.channels;
    playback_device_render(device, reinterpret_cast<float*>(stream),
                           static_cast<uint32_t>(byte_count / frame_bytes));
}

bool sdl_open(PlaybackDevice* device) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    SDL_AudioSpec want{};
    want.freq = device->desc.sample_rate;
    want.format = AUDIO_F32SYS;
    want.channels = static_cast<Uint8>(device->desc.channels);
    want.samples = static_cast<Uint16>(device->desc.period_frames);
    want.callback = sdl_trampoline;
    want.userdata = device;
    SDL_AudioSpec have{};
    // No allowed changes: SDL converts to whatever the hardware takes, so the
    // callback always sees the format it asked for.
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    device->backend_id = id;
    return true;
}

bool sdl_start(PlaybackDevice* device) {
    SDL_PauseAudioDevice(device->backend_id, 0);
    return SDL_GetAudioDeviceStatus(device->backend_id) == SDL_AUDIO_PLAYING;
}

void sdl_close(PlaybackDevice* device) {
    SDL_CloseAudioDevice(device->backend_id);  // joins SDL's audio thread
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

// ---- manual: the caller pulls ----

// One manual device at a time, as there is one music player.
std::atomic<PlaybackDevice*> manual_started{nullptr};

bool manual_open(PlaybackDevice*) { return true; }

bool manual_start(PlaybackDevice* device) {
    manual_started.store(device, std::memory_order_release);
    return true;
}

void manual_close(PlaybackDevice* device) {
    PlaybackDevice* expected = device;
    manual_started.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
}

}  // namespace

const PlaybackBackend sdl_playback_backend{"sdl", sdl_open, sdl_start, sdl_close};
const PlaybackBackend manual_playback_backend{"manual", manual_open, manual_start, manual_close};

bool playback_device_open(PlaybackDevice* device, const PlaybackBackend* backend,
                          const PlaybackDeviceDesc& desc) {
    device->backend = backend;
    device->desc = desc;
    if (device->desc.sample_rate == 0) device->desc.sample_rate = kDefaultSampleRate;
    if (device->desc.channels == 0) device->desc.channels = kDefaultChannels;
    // 10 ms: a whole number of milliseconds, which SDL's dummy and disk drivers
    // wait per request, so they keep real time without drifting.
    if (device->desc.period_frames == 0) device->desc.period_frames = static_cast<uint32_t>(device->desc.sample_rate / 100);
    device->master_volume.store(1.0f, std::memory_order_relaxed);
    device->backend_id = 0;
    if (!backend->open(device)) {
        device->backend = nullptr;
        return false;
    }
    return true;
}

bool playback_device_start(PlaybackDevice* device) { return device->backend->start(device); }

void playback_device_close(PlaybackDevice* device) {
    if (device->backend == nullptr) return;
    device->backend->close(device);
    device->backend = nullptr;
}

void playback_device_set_master_volume(PlaybackDevice* device, float volume) {
    device->master_volume.store(volume, std::memory_order_relaxed);
}

void playback_device_render(PlaybackDevice* device, float* output, uint32_t frame_count) {
    const size_t samples = size_t{frame_count} * static_cast<size_t>(device->desc.channels);
    std::memset(output, 0, samples * sizeof(float));
    device->desc.callback(device, output, nullptr, frame_count);
    const float volume = device->master_volume.load(std::memory_order_relaxed);
    if (volume != 1.0f) {
        for (size_t i = 0; i < samples; ++i) output[i] *= volume;
    }
}

bool manual_playback_pull(float* output, uint32_t frame_count) {
    PlaybackDevice* device = manual_started.load(std::memory_order_acquire);
    if (device == nullptr) {
        std::memset(output, 0, size_t{frame_count} * 2 * sizeof(float));
        return false;
    }
    playback_device_render(device, output, frame_count);
    return true;
}

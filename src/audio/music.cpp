#include "audio/music.h"

#include <mpg123.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Frames decoded per publication of the decoded count: small enough that the
// first ones are ready within a fraction of a millisecond.
constexpr size_t kDecodeChunkBytes = 4096 * 8;

// The clock is read once per frame while the audio thread writes it: one
// machine-level load and store each, never a lock.
static_assert(std::atomic<double>::is_always_lock_free);

constexpr uint32_t kFreshBit = 4;  // set in history_middle when it holds a copy the reader has not taken

// calloc: the zero pages come from the kernel, not from a 67 MB memset.
void* zeroed_buffer(size_t bytes) { return std::calloc(bytes, 1); }

struct MusicState {
    const PlaybackBackend* backend = &sdl_playback_backend;
    MusicBufferAllocator allocate_buffer = zeroed_buffer;
    MusicSource source{};
    mpg123_handle* decoder = nullptr;
    PlaybackDevice device{};
    bool started = false;

    std::atomic<float*> pcm{nullptr};
    std::atomic<int64_t> decoded_frames{0};
    std::atomic<double> position{0.0};
    std::atomic<bool> paused{false};
    std::atomic<int64_t> undecoded_frames_played{0};

    // Mono history: the callback's working copy, and three published copies of
    // which the callback owns one (history_back), the reader one (history_front)
    // and the third waits in history_middle.
    float history[kMonoHistoryLength]{};
    float history_slots[3][kMonoHistoryLength]{};
    uint32_t history_back = 0;
    std::atomic<uint32_t> history_middle{1};
    uint32_t history_front = 2;
};

MusicState music;

off_t decoder_lseek(void* decoder, off_t offset, int origin) {
    decoder_seek(decoder, offset, origin);
    return static_cast<MusicSource*>(decoder)->read_position;
}

void reset_history() {
    std::memset(music.history, 0, sizeof music.history);
    std::memset(music.history_slots, 0, sizeof music.history_slots);
    music.history_back = 0;
    music.history_middle.store(1, std::memory_order_relaxed);
    music.history_front = 2;
}

// Asks for 32-bit float stereo at every rate, so the stream keeps its own rate
// and a mono stream comes out with both channels equal.
mpg123_handle* open_decoder(MusicSource* source) {
    mpg123_handle* decoder = mpg123_new(nullptr, nullptr);
    if (decoder == nullptr) return nullptr;
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_FORCE_FLOAT | MPG123_QUIET, 0.0);
    mpg123_format_none(decoder);
    const long* rates = nullptr;
    size_t rate_count = 0;
    mpg123_rates(&rates, &rate_count);
    for (size_t i = 0; i < rate_count; ++i) mpg123_format(decoder, rates[i], MPG123_STEREO, MPG123_ENC_FLOAT_32);
    mpg123_replace_reader_handle(decoder, decoder_read, decoder_lseek, nullptr);
    mpg123_open_handle(decoder, source);
    return decoder;
}

void close_decoder() {
    if (music.decoder == nullptr) return;
    mpg123_delete(music.decoder);
    music.decoder = nullptr;
}

// Decodes from the start of the stream into the published buffer, publishing
// the count of whole frames written after every chunk.
void decode_into(float* pcm) {
    if (music.decoder == nullptr) return;
    auto* bytes = reinterpret_cast<unsigned char*>(pcm);
    size_t total = 0;
    while (total < static_cast<size_t>(kPcmBytes)) {
        const size_t want = std::min(kDecodeChunkBytes, static_cast<size_t>(kPcmBytes) - total);
        size_t done = 0;
        const int result = mpg123_read(music.decoder, bytes + total, want, &done);
        total += done;
        music.decoded_frames.store(static_cast<int64_t>(total / 8), std::memory_order_release);
        if (result == MPG123_NEW_FORMAT) continue;
        if (result != MPG123_OK || done == 0) break;  // end of stream or a broken one
    }
}

void say(const char* line) {
    std::fputs(line, stdout);
    std::fflush(stdout);
}

}  // namespace

void select_playback_backend(const PlaybackBackend* backend) { music.backend = backend; }

void set_music_buffer_allocator(MusicBufferAllocator allocate) {
    music.allocate_buffer = allocate ? allocate : zeroed_buffer;
}

bool start_music(const void* bytes, int64_t size) {
    music.source = MusicSource{static_cast<const unsigned char*>(bytes), size, 0};
    music.decoder = open_decoder(&music.source);

    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (music.decoder != nullptr) mpg123_getformat(music.decoder, &rate, &channels, &encoding);
    PlaybackDeviceDesc desc{};
    desc.sample_rate = static_cast<int>(rate);  // 0 (no stream): the device's default
    desc.channels = 2;
    desc.callback = audio_callback;
    desc.user_data = music.decoder;

    if (!playback_device_open(&music.device, music.backend, desc)) {
        say("Failed to open playback device.\n");
        close_decoder();
        return false;
    }
    if (!playback_device_start(&music.device)) {
        say("Failed to start playback device.\n");
        playback_device_close(&music.device);
        close_decoder();
        return false;
    }
    say("decoding full mp3...\n");

    // Without the buffer there is nothing to play: the show goes on silent with
    // the clock at 0, as with a device that failed.
    auto* pcm = static_cast<float*>(music.allocate_buffer(static_cast<size_t>(kPcmBytes)));
    if (pcm == nullptr) {
        say("Failed to allocate the music buffer.\n");
        playback_device_close(&music.device);
        close_decoder();
        return false;
    }
    music.pcm.store(pcm, std::memory_order_release);  // the music clock starts here
    decode_into(pcm);

    playback_device_set_master_volume(&music.device, 0.5f);
    music.started = true;
    return true;
}

void audio_callback(PlaybackDevice* device, float* output, const float*, uint32_t frame_count) {
    const float* pcm = music.pcm.load(std::memory_order_acquire);
    if (pcm != nullptr && !music.paused.load(std::memory_order_relaxed)) {
        const double position = music.position.load(std::memory_order_relaxed);
        const auto offset = static_cast<uint64_t>(position * 0.125) * 8;
        const uint64_t count = std::min<uint64_t>(static_cast<uint64_t>(kPcmBytes) - offset, uint64_t{frame_count} * 8);
        const auto decoded = static_cast<uint64_t>(music.decoded_frames.load(std::memory_order_acquire)) * 8;
        const uint64_t ready = decoded > offset ? std::min(count, decoded - offset) : 0;
        std::memcpy(output, reinterpret_cast<const unsigned char*>(pcm) + offset, ready);
        if (ready < count) {
            music.undecoded_frames_played.fetch_add(static_cast<int64_t>((count - ready) / 8),
                                                    std::memory_order_relaxed);
        }
        // A seek stored while this callback copied wins: the position it set stays.
        double expected = position;
        music.position.compare_exchange_strong(expected, position + static_cast<double>(count),
                                               std::memory_order_relaxed);
    }

    // Before the master volume: the device scales the output after this returns.
    const uint32_t m = std::min<uint32_t>(frame_count, kMonoHistoryLength);
    float* history = music.history;
    std::memmove(history, history + m, (kMonoHistoryLength - m) * sizeof(float));
    for (uint32_t i = 0; i < m; ++i) {
        history[kMonoHistoryLength - m + i] = (output[2 * i] + output[2 * i + 1]) * 0.5f;
    }
    std::memcpy(music.history_slots[music.history_back], history, sizeof music.history);
    music.history_back =
        music.history_middle.exchange(music.history_back | kFreshBit, std::memory_order_acq_rel) & 3;

    playback_device_set_master_volume(device, 0.5f);
}

ssize_t decoder_read(void* decoder, void* destination, size_t byte_count) {
    auto* source = static_cast<MusicSource*>(decoder);
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(byte_count), source->size - source->read_position);
    std::memcpy(destination, source->bytes + source->read_position, static_cast<size_t>(n));
    source->read_position += n;
    return static_cast<ssize_t>(n);
}

bool decoder_seek(void* decoder, int64_t offset, int origin) {
    auto* source = static_cast<MusicSource*>(decoder);
    int64_t target = source->read_position;
    if (origin == SEEK_SET) target = offset;
    if (origin == SEEK_CUR) target = source->read_position + offset;
    if (origin == SEEK_END) target = source->size + offset;  // the decoder asks where the stream ends
    source->read_position = std::clamp<int64_t>(target, 0, source->size);
    return true;
}

double read_playback_position() { return music.position.load(std::memory_order_relaxed); }

void seek_playback_position(double position_bytes) {
    const double clamped = std::clamp(position_bytes, 0.0, static_cast<double>(kPcmBytes));
    const double whole_frames = clamped >= 0.0 ? std::floor(clamped / 8.0) * 8.0 : 0.0;  // NaN: 0
    music.position.store(whole_frames, std::memory_order_relaxed);
}

void set_music_paused(bool paused) { music.paused.store(paused, std::memory_order_relaxed); }

bool music_paused() { return music.paused.load(std::memory_order_relaxed); }

bool music_started() { return music.started; }

const float* acquire_mono_history() {
    if (music.history_middle.load(std::memory_order_relaxed) & kFreshBit) {
        music.history_front = music.history_middle.exchange(music.history_front, std::memory_order_acq_rel) & 3;
    }
    return music.history_slots[music.history_front];
}

const float* music_pcm() { return music.pcm.load(std::memory_order_acquire); }

int64_t music_undecoded_frames_played() {
    return music.undecoded_frames_played.load(std::memory_order_relaxed);
}

void music_shutdown() {
    playback_device_close(&music.device);  // no callback runs after this
    close_decoder();
    std::free(music.pcm.exchange(nullptr, std::memory_order_acq_rel));
    music.decoded_frames.store(0, std::memory_order_relaxed);
    music.position.store(0.0, std::memory_order_relaxed);
    music.undecoded_frames_played.store(0, std::memory_order_relaxed);
    music.paused.store(false, std::memory_order_relaxed);
    music.source = MusicSource{};
    music.started = false;
    reset_history();
}

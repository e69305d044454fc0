// The music: one MP3 stream decoded whole into memory while it already plays.
//
// start_music opens and starts the playback device, publishes a zero-filled
// buffer of 190.0 s of 32-bit float stereo (the music clock starts then), and
// decodes the stream into it; it returns once the decode is done. The device's
// data callback, audio_callback, copies from that buffer and counts the bytes
// handed over in the playback position, the show's master clock (352,800 bytes
// are one second). It also keeps the newest 1024 samples mixed to mono, before
// the master volume (0.5) scales the output, for the spectrum.
//
// Threads: audio_callback runs on the device's thread (SDL's audio thread, or
// the caller of manual_playback_pull); everything else on the main thread. The
// two share, without locks:
//  - the buffer, published once; the decoder then publishes how many frames it
//    has written, and the callback plays silence beyond that count, so it never
//    reads a frame the decoder is still writing;
//  - the playback position, one atomic double (relaxed);
//  - the mono history, through a triple buffer: the callback fills a spare copy
//    and swaps it in with one atomic exchange; the reader swaps the newest copy
//    out the same way, so neither side ever waits or sees a half-written copy.
#pragma once
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "audio/pcm_format.h"
#include "audio/playback_device.h"

constexpr int64_t kPcmFrames = 190 * kPcmSampleRate;  // 190.0 s
constexpr int64_t kPcmBytes = kPcmFrames * kPcmBytesPerFrame;
static_assert(kPcmBytes == 67032000);

// The backend start_music opens its device with (default: SDL). The test
// harness and the capture tool select the manual backend before loading.
void select_playback_backend(const PlaybackBackend* backend);

// Plays the MP3 in bytes[0, size). Prints "Failed to open playback device.\n" or
// "Failed to start playback device.\n" and returns false when the device cannot
// be opened or started (no sound; the position stays 0); otherwise prints
// "decoding full mp3...\n", decodes, and returns true with the music playing.
// When the buffer cannot be allocated it then prints "Failed to allocate the
// music buffer.\n", closes the device again and returns false, as above.
// bytes must outlive the decode. Called once by the load step.
bool start_music(const void* bytes, int64_t size);

// How start_music gets its kPcmBytes zero-filled bytes (std::free releases
// them): calloc unless a test sets another, which may fail. Null restores calloc.
using MusicBufferAllocator = void* (*)(size_t bytes);
void set_music_buffer_allocator(MusicBufferAllocator allocate);

// The device's data callback (see the contract above). output holds
// frame_count stereo frames, zeroed by the device.
void audio_callback(PlaybackDevice* device, float* output, const float* input,
                    uint32_t frame_count);

// The decoder's byte source over the bytes given to start_music; the decoder
// reads through these two with a MusicSource as its handle. read copies up to
// byte_count bytes and returns how many; seek moves the read position within
// [0, size] (SEEK_SET, SEEK_CUR, SEEK_END; other origins keep it) and returns
// true.
struct MusicSource {
    const unsigned char* bytes;
    int64_t size;
    int64_t read_position;
};
ssize_t decoder_read(void* decoder, void* destination, size_t byte_count);
bool decoder_seek(void* decoder, int64_t offset, int origin);

// Bytes handed to the device so far: 0 … kPcmBytes, a multiple of 8.
double read_playback_position();

// Moves the playback position (a program that jumps in the music; the show
// itself never does): clamped to 0 … kPcmBytes and rounded down to a whole
// frame. Safe against a callback running at the same time: the jump is never
// lost to the callback's own advance.
void seek_playback_position(double position_bytes);

// While paused the callback plays silence and the position stands still; the
// show itself never pauses. music_shutdown plays again.
void set_music_paused(bool paused);
bool music_paused();

// True once the device runs and the decode has finished.
bool music_started();

// The newest kMonoHistoryLength mono samples, oldest first, as the callback left
// them at its last run. Main thread only; the pointer stays valid and unchanged
// until the next call.
const float* acquire_mono_history();

// The decoded music (kPcmFrames stereo frames), null before start_music. Read
// it only after start_music has returned.
const float* music_pcm();

// Frames the callback played as silence because the decoder had not reached
// them yet. The decoder is far faster than real time, so this stays 0 or covers
// only the first moments.
int64_t music_undecoded_frames_played();

// Closes the device and frees the decoder and the buffer, back to the state
// before start_music. The show never calls it (the music lives until the
// process ends); tests and tools do between runs.
void music_shutdown();

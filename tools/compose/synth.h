// The synthesiser: renders a parsed score to 44,100 Hz stereo. Each note is its
// own voice (no voice stealing); instruments are mixed with pan, reverb and delay
// sends, then the master bus filters, compresses, limits and fades. The result
// depends only on the score: the same score gives the same samples.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "score.h"

namespace compose {

// The voice kinds an instrument may name, and the settings they read.
bool voice_kind_known(std::string_view kind);
bool voice_param_known(std::string_view key);
// The MIDI note an 'x' in a pattern plays: the instrument's "note" or its kind's own.
double voice_base_note(const Instrument& inst);

struct Render {
    std::vector<float> left, right;  // length_s × 44,100 frames each
};

Render render_score(const Score& score);

// A canonical 44-byte-header WAV: 16-bit PCM stereo at 44,100 Hz, with triangular
// dither from a fixed seed so the bytes repeat.
std::vector<uint8_t> wav_bytes(const Render& r, uint64_t seed);

}  // namespace compose

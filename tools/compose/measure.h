// Figures of a rendered or decoded piece as a listener's meter reads them:
// K-weighted loudness (momentary, short-term, integrated, range after EBU R128),
// true peak on a four-times oversampled signal, energy shares of three bands,
// side against mid, and how far a moment stands above the beats before it.
// Everything is plain computation on the samples given; nothing is kept.
#pragma once
#include <cstdint>
#include <vector>

namespace compose {

// Two channels at 44,100 Hz; `stride` floats between frames (2 for interleaved).
struct Signal {
    const float* left = nullptr;
    const float* right = nullptr;
    int64_t frames = 0;
    int64_t stride = 1;
    float l(int64_t i) const { return left[i * stride]; }
    float r(int64_t i) const { return right[i * stride]; }
};

// K-weighted loudness of any stretch of a signal, from a running sum of the
// weighted power of both channels.
class LoudnessMeter {
public:
    explicit LoudnessMeter(const Signal& s);
    // LUFS of [from_s, to_s); -inf-like (-200) for silence.
    double lufs(double from_s, double to_s) const;
    // Short-term (3 s) loudness of the windows ending every `step_s`, the first at 3 s.
    std::vector<double> short_term(double step_s = 0.1) const;
    double integrated() const;     // gated: absolute -70 LUFS, relative -10 LU
    double range() const;          // LU: 10th to 95th percentile of gated short-term values
    double seconds() const { return double(prefix_.size() - 1) / 44100.0; }

private:
    double power(int64_t from, int64_t to) const;
    std::vector<double> prefix_;  // prefix_[i]: weighted power of frames [0, i)
};

double true_peak_dbtp(const Signal& s);

// The middle value (the upper of the two middle ones for an even count); -200 for none.
double median(std::vector<double> values);

// Mean square (per sample and channel) of the bands split at `edges` (Hz,
// increasing) in [from_s, to_s): below the first edge, between each pair, above
// the last.
std::vector<double> band_levels(const Signal& s, double from_s, double to_s, const std::vector<double>& edges);

// Shares of energy (both channels) below 250 Hz, 250 Hz to 4 kHz and above 4 kHz
// in [from_s, to_s); they sum to 1. `mean_square` is the bands' energy per sample
// and channel, so share × mean_square is a band's own level.
struct BandShares {
    double low = 0.0, mid = 0.0, high = 0.0;
    double mean_square = 0.0;
};
BandShares band_shares(const Signal& s, double from_s, double to_s);

// Energy of (L - R) / 2 against (L + R) / 2 in dB over [from_s, to_s).
double side_mid_db(const Signal& s, double from_s, double to_s);

// A moment's onset level (loudness of the 100 ms from its row) against the median
// onset level of the beats (every fourth row) in the sixteen rows before it,
// leaving out beats that are moments themselves.
struct MomentLevel {
    double onset_lufs = 0.0, beats_lufs = 0.0;
    double margin_db() const { return onset_lufs - beats_lufs; }
};
constexpr double kOnsetSeconds = 0.1;
MomentLevel moment_level(const LoudnessMeter& m, double row_s, int row, const std::vector<int>& moments);

// The row (fractional) where the 400 ms loudness ending in (from_row, to_row] peaks,
// searched every 10 ms: where a swell crests.
double crest_row(const LoudnessMeter& m, double row_s, int from_row, int to_row);

}  // namespace compose

// Small audio building blocks for the composer: deterministic noise, band-limited
// oscillators, a state-variable filter, a plate-ish reverb, a tempo delay and the
// master bus (compressor and look-ahead limiter). Everything is plain state that
// the caller owns; nothing reads the clock or addresses, so a render is repeatable.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace compose {

constexpr double kSampleRate = 44100.0;
constexpr double kPi = 3.14159265358979323846;

// splitmix64 step: used to derive seeds from (score seed, instrument, event).
inline uint64_t mix_seed(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// xorshift32 noise; never seeded with 0 (it would stay 0).
struct Noise {
    uint32_t state;
    explicit Noise(uint64_t seed) : state(uint32_t(mix_seed(seed)) | 1u) {}
    uint32_t next_u32() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    // uniform in [-1, 1)
    float next() { return float(int32_t(next_u32())) * (1.0f / 2147483648.0f); }
    // uniform in [0, 1)
    double unit() { return double(next_u32()) * (1.0 / 4294967296.0); }
};

// PolyBLEP residual for a phase t in [0, 1) advancing dt per sample: smooths the
// step of a naive waveform over one sample either side, which removes most aliasing.
inline double poly_blep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

// Band-limited oscillator: shape 0 = saw, 1 = square, in between a blend.
struct Osc {
    double phase = 0.0;
    double next(double freq, double shape) {
        const double dt = freq / kSampleRate;
        double saw = 2.0 * phase - 1.0 - poly_blep(phase, dt);
        double sq = 0.0;
        if (shape > 0.0) {
            sq = phase < 0.5 ? 1.0 : -1.0;
            sq += poly_blep(phase, dt);
            double t2 = phase + 0.5;
            if (t2 >= 1.0) t2 -= 1.0;
            sq -= poly_blep(t2, dt);
        }
        phase += dt;
        if (phase >= 1.0) phase -= 1.0;
        return saw + (sq - saw) * shape;
    }
};

// Topology-preserving state-variable filter (trapezoidal integration): stable under
// fast cutoff changes, which the envelopes make every few samples.
struct Svf {
    double ic1 = 0.0, ic2 = 0.0;
    double g = 0.0, k = 1.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
    double lp = 0.0, bp = 0.0, hp = 0.0;
    void set(double cutoff, double q) {
        cutoff = std::fmin(std::fmax(cutoff, 10.0), kSampleRate * 0.49);
        g = std::tan(kPi * cutoff / kSampleRate);
        k = 1.0 / std::fmax(q, 0.05);
        a1 = 1.0 / (1.0 + g * (g + k));
        a2 = g * a1;
        a3 = g * a2;
    }
    void tick(double v0) {
        const double v3 = v0 - ic2;
        const double v1 = a1 * ic1 + a2 * v3;
        const double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0 * v1 - ic1;
        ic2 = 2.0 * v2 - ic2;
        lp = v2;
        bp = v1;
        hp = v0 - k * v1 - v2;
    }
};

// The Qs of the two state-variable stages that make a fourth-order Butterworth
// lowpass or highpass.
constexpr double kButterworth4Q[2] = {0.5411961, 1.3065630};

// Stereo reverb: eight damped combs and four allpasses per side (the right side's
// delays are offset so the two sides decorrelate), fed from one mono send.
class Reverb {
public:
    Reverb(double room, double damp, double predelay_s);
    // in: mono send; adds the wet signal to left and right
    void process(const float* in, float* left, float* right, int64_t n);

private:
    struct Comb {
        std::vector<float> buf;
        size_t pos = 0;
        float store = 0.0f;
    };
    struct Allpass {
        std::vector<float> buf;
        size_t pos = 0;
    };
    Comb combs_[2][8];
    Allpass allpasses_[2][4];
    std::vector<float> pre_;
    size_t pre_pos_ = 0;
    float feedback_, damp_;
};

// Ping-pong delay synced to the score: taps alternate left and right, the feedback
// path is lowpassed so repeats darken.
class PingPongDelay {
public:
    PingPongDelay(double delay_s, double feedback, double tone_hz);
    void process(const float* in, float* left, float* right, int64_t n);

private:
    std::vector<float> bl_, br_;
    size_t pos_ = 0;
    float feedback_;
    Svf tone_l_, tone_r_;
};

struct MasterSettings {
    double threshold_db = -16.0;  // compressor threshold
    double ratio = 2.0;
    double attack_s = 0.012, release_s = 0.18;
    double ceiling_db = -1.5;     // limiter output ceiling (sample peak)
    double limiter_release_s = 0.08;
};

// Stereo-linked soft-knee compressor on the RMS-ish level; in place.
void compress(float* left, float* right, int64_t n, const MasterSettings& m);
// Look-ahead brickwall limiter: no output sample exceeds the ceiling; in place.
void limit(float* left, float* right, int64_t n, const MasterSettings& m);

// Sine of a phase given in cycles, from a table with linear interpolation
// (error below -120 dB); much cheaper than std::sin per sample.
constexpr int kSineTableSize = 4096;
extern const std::vector<double> kSineTable;  // kSineTableSize + 1 entries, one whole cycle
inline double sine(double cycles) {
    const double whole = double(int64_t(cycles));
    double frac = cycles - whole;
    if (frac < 0.0) frac += 1.0;
    const double x = frac * kSineTableSize;
    const int i = std::min(int(x), kSineTableSize - 1);
    const double f = x - double(i);
    const double a = kSineTable[size_t(i)];
    return a + (kSineTable[size_t(i) + 1] - a) * f;
}

// exp(-t / tau) stepped once per sample by one multiply.
struct Decay {
    double value = 1.0, factor = 1.0;
    explicit Decay(double tau_s) : factor(std::exp(-1.0 / (tau_s * kSampleRate))) {}
    double next() {
        const double v = value;
        value *= factor;
        return v;
    }
};

inline double db_to_gain(double db) { return std::pow(10.0, db / 20.0); }
inline double midi_to_hz(double midi) { return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0); }

}  // namespace compose

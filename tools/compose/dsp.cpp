#include "dsp.h"

#include <algorithm>
#include <deque>

namespace compose {

namespace {
// Comb and allpass lengths in samples at 44.1 kHz; mutually prime-ish so the
// echoes do not pile up on one period.
constexpr int kCombLengths[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr int kAllpassLengths[4] = {556, 441, 341, 225};
constexpr int kStereoSpread = 23;
}  // namespace

const std::vector<double> kSineTable = [] {
    std::vector<double> t(kSineTableSize + 1);
    for (int i = 0; i <= kSineTableSize; ++i) t[size_t(i)] = std::sin(2.0 * kPi * double(i) / kSineTableSize);
    return t;
}();

Reverb::Reverb(double room, double damp, double predelay_s)
    : feedback_(float(0.7 + 0.28 * std::clamp(room, 0.0, 1.0))), damp_(float(std::clamp(damp, 0.0, 1.0))) {
    for (int side = 0; side < 2; ++side) {
        for (int i = 0; i < 8; ++i) combs_[side][i].buf.assign(size_t(kCombLengths[i] + side * kStereoSpread), 0.0f);
        for (int i = 0; i < 4; ++i) allpasses_[side][i].buf.assign(size_t(kAllpassLengths[i] + side * kStereoSpread), 0.0f);
    }
    pre_.assign(size_t(std::max(1.0, predelay_s * kSampleRate)), 0.0f);
}

void Reverb::process(const float* in, float* left, float* right, int64_t n) {
    float* outs[2] = {left, right};
    for (int64_t s = 0; s < n; ++s) {
        const float x = pre_[pre_pos_] * 0.015f;  // fixed input scale keeps 8 summed combs in range
        pre_[pre_pos_] = in[s];
        pre_pos_ = (pre_pos_ + 1) % pre_.size();
        for (int side = 0; side < 2; ++side) {
            float acc = 0.0f;
            for (Comb& c : combs_[side]) {
                const float y = c.buf[c.pos];
                c.store = y * (1.0f - damp_) + c.store * damp_;
                c.buf[c.pos] = x + c.store * feedback_;
                if (++c.pos == c.buf.size()) c.pos = 0;
                acc += y;
            }
            for (Allpass& a : allpasses_[side]) {
                const float b = a.buf[a.pos];
                a.buf[a.pos] = acc + b * 0.5f;
                acc = b - acc;
                if (++a.pos == a.buf.size()) a.pos = 0;
            }
            outs[side][s] += acc;
        }
    }
}

PingPongDelay::PingPongDelay(double delay_s, double feedback, double tone_hz)
    : feedback_(float(std::clamp(feedback, 0.0, 0.95))) {
    const size_t len = size_t(std::max(1.0, std::round(delay_s * kSampleRate)));
    bl_.assign(len, 0.0f);
    br_.assign(len, 0.0f);
    tone_l_.set(tone_hz, 0.707);
    tone_r_.set(tone_hz, 0.707);
}

void PingPongDelay::process(const float* in, float* left, float* right, int64_t n) {
    for (int64_t s = 0; s < n; ++s) {
        const float yl = bl_[pos_], yr = br_[pos_];
        tone_l_.tick(yl);
        tone_r_.tick(yr);
        // The input enters on the left; each side feeds the other, so repeats bounce.
        bl_[pos_] = in[s] + float(tone_r_.lp) * feedback_;
        br_[pos_] = float(tone_l_.lp) * feedback_;
        if (++pos_ == bl_.size()) pos_ = 0;
        left[s] += yl;
        right[s] += yr;
    }
}

void compress(float* left, float* right, int64_t n, const MasterSettings& m) {
    const double att = std::exp(-1.0 / (m.attack_s * kSampleRate));
    const double rel = std::exp(-1.0 / (m.release_s * kSampleRate));
    const double knee = 6.0;
    double env = 0.0;  // mean square, smoothed
    for (int64_t s = 0; s < n; ++s) {
        const double p = 0.5 * (double(left[s]) * left[s] + double(right[s]) * right[s]);
        env = p > env ? att * env + (1.0 - att) * p : rel * env + (1.0 - rel) * p;
        const double level_db = 10.0 * std::log10(env + 1e-12);
        const double over = level_db - m.threshold_db;
        double reduce_db = 0.0;
        if (over > knee * 0.5) {
            reduce_db = over * (1.0 - 1.0 / m.ratio);
        } else if (over > -knee * 0.5) {
            const double x = over + knee * 0.5;
            reduce_db = (1.0 - 1.0 / m.ratio) * x * x / (2.0 * knee);
        }
        const float g = float(db_to_gain(-reduce_db));
        left[s] *= g;
        right[s] *= g;
    }
}

void limit(float* left, float* right, int64_t n, const MasterSettings& m) {
    const int64_t w = int64_t(0.005 * kSampleRate);  // look-ahead window
    const float ceiling = float(db_to_gain(m.ceiling_db));
    const double recover = 1.0 - std::exp(-1.0 / (m.limiter_release_s * kSampleRate));
    // needed[k]: the gain that keeps sample k at the ceiling.
    auto needed = [&](int64_t k) -> double {
        if (k < 0 || k >= n) return 1.0;
        const float peak = std::max(std::fabs(left[k]), std::fabs(right[k]));
        return peak > ceiling ? double(ceiling) / peak : 1.0;
    };
    // Output sample k = input k delayed by w; held[j] is the minimum of needed over
    // [j - w, j] that recovers slowly, and the gain is its mean over [j - w + 1, j]:
    // every term covers sample j - w, so the mean never exceeds what it needs.
    std::vector<float> out_l(size_t(n), 0.0f), out_r(size_t(n), 0.0f);
    std::deque<std::pair<int64_t, double>> window;  // increasing needed values
    std::vector<double> ring(size_t(w), 1.0);
    double ring_sum = double(w);
    double held = 1.0;
    for (int64_t j = 0; j < n + w; ++j) {
        const double r = needed(j);
        while (!window.empty() && window.back().second >= r) window.pop_back();
        window.emplace_back(j, r);
        while (window.front().first < j - w) window.pop_front();
        const double lowest = window.front().second;
        held = std::min(lowest, held + (1.0 - held) * recover);
        const size_t slot = size_t(j % w);
        ring_sum += held - ring[slot];
        ring[slot] = held;
        const int64_t k = j - w;
        if (k >= 0) {
            const float g = float(std::min(ring_sum / double(w), needed(k)));
            out_l[size_t(k)] = std::clamp(left[k] * g, -ceiling, ceiling);
            out_r[size_t(k)] = std::clamp(right[k] * g, -ceiling, ceiling);
        }
    }
    std::copy(out_l.begin(), out_l.end(), left);
    std::copy(out_r.begin(), out_r.end(), right);
}

}  // namespace compose

#include "measure.h"

#include <algorithm>
#include <cmath>

#include "dsp.h"

namespace compose {

namespace {

constexpr double kFloorLufs = -200.0;

double power_to_lufs(double p) { return p > 1e-30 ? -0.691 + 10.0 * std::log10(p) : kFloorLufs; }
double lufs_to_power(double l) { return std::pow(10.0, (l + 0.691) / 10.0); }

// Direct-form biquad in doubles.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double tick(double x) {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1; x1 = x; y2 = y1; y1 = y;
        return y;
    }
};

// The two stages of the K-weighting (a high shelf near 1.7 kHz, then a highpass
// near 38 Hz), derived for 44.1 kHz from their analogue prototypes.
void k_weighting(Biquad* shelf, Biquad* highpass) {
    {
        const double f0 = 1681.974450955533, gain_db = 3.999843853973347, q = 0.7071752369554196;
        const double k = std::tan(kPi * f0 / kSampleRate);
        const double vh = std::pow(10.0, gain_db / 20.0), vb = std::pow(vh, 0.4996667741545416);
        const double a0 = 1.0 + k / q + k * k;
        shelf->b0 = (vh + vb * k / q + k * k) / a0;
        shelf->b1 = 2.0 * (k * k - vh) / a0;
        shelf->b2 = (vh - vb * k / q + k * k) / a0;
        shelf->a1 = 2.0 * (k * k - 1.0) / a0;
        shelf->a2 = (1.0 - k / q + k * k) / a0;
    }
    {
        const double f0 = 38.13547087602444, q = 0.5003270373238773;
        const double k = std::tan(kPi * f0 / kSampleRate);
        const double a0 = 1.0 + k / q + k * k;
        highpass->b0 = 1.0; highpass->b1 = -2.0; highpass->b2 = 1.0;
        highpass->a1 = 2.0 * (k * k - 1.0) / a0;
        highpass->a2 = (1.0 - k / q + k * k) / a0;
    }
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return kFloorLufs;
    std::sort(v.begin(), v.end());
    const size_t i = size_t(std::clamp(std::lround(p * double(v.size() - 1)), 0L, long(v.size() - 1)));
    return v[i];
}

// Values above an absolute gate and then above `relative_lu` under their own power mean.
std::vector<double> gated(const std::vector<double>& lufs, double relative_lu) {
    std::vector<double> above;
    for (double l : lufs)
        if (l > -70.0) above.push_back(l);
    if (above.empty()) return above;
    double sum = 0.0;
    for (double l : above) sum += lufs_to_power(l);
    const double gate = power_to_lufs(sum / double(above.size())) + relative_lu;
    std::vector<double> out;
    for (double l : above)
        if (l > gate) out.push_back(l);
    return out;
}

int64_t frame_of(double seconds, int64_t frames) { return std::clamp<int64_t>(std::llround(seconds * kSampleRate), 0, frames); }

}  // namespace

double median(std::vector<double> values) { return percentile(std::move(values), 0.5); }

LoudnessMeter::LoudnessMeter(const Signal& s) {
    prefix_.assign(size_t(s.frames) + 1, 0.0);
    Biquad shelf[2], hp[2];
    for (int c = 0; c < 2; ++c) k_weighting(&shelf[c], &hp[c]);
    double sum = 0.0;
    for (int64_t i = 0; i < s.frames; ++i) {
        const double l = hp[0].tick(shelf[0].tick(s.l(i)));
        const double r = hp[1].tick(shelf[1].tick(s.r(i)));
        sum += l * l + r * r;
        prefix_[size_t(i) + 1] = sum;
    }
}

double LoudnessMeter::power(int64_t from, int64_t to) const {
    const int64_t n = int64_t(prefix_.size()) - 1;
    from = std::clamp<int64_t>(from, 0, n);
    to = std::clamp<int64_t>(to, 0, n);
    if (to <= from) return 0.0;
    return (prefix_[size_t(to)] - prefix_[size_t(from)]) / double(to - from);
}

double LoudnessMeter::lufs(double from_s, double to_s) const {
    return power_to_lufs(power(std::llround(from_s * kSampleRate), std::llround(to_s * kSampleRate)));
}

std::vector<double> LoudnessMeter::short_term(double step_s) const {
    std::vector<double> out;
    for (double end = 3.0; end <= seconds() + 1e-9; end += step_s) out.push_back(lufs(end - 3.0, end));
    return out;
}

double LoudnessMeter::integrated() const {
    std::vector<double> blocks;  // 400 ms, overlapping by 75 %
    for (double start = 0.0; start + 0.4 <= seconds() + 1e-9; start += 0.1) blocks.push_back(lufs(start, start + 0.4));
    const std::vector<double> kept = gated(blocks, -10.0);
    if (kept.empty()) return kFloorLufs;
    double sum = 0.0;
    for (double l : kept) sum += lufs_to_power(l);
    return power_to_lufs(sum / double(kept.size()));
}

double LoudnessMeter::range() const {
    const std::vector<double> kept = gated(short_term(0.1), -20.0);
    return kept.empty() ? 0.0 : percentile(kept, 0.95) - percentile(kept, 0.10);
}

double true_peak_dbtp(const Signal& s) {
    // Four-times oversampling: phase p interpolates at i + p/4 from the twelve
    // samples around i with a Hann-windowed sinc, each phase normalised to unit gain.
    constexpr int kPhases = 4, kTaps = 12, kBefore = kTaps / 2 - 1;
    double coef[kPhases][kTaps];
    for (int p = 1; p < kPhases; ++p) {
        double sum = 0.0;
        for (int j = 0; j < kTaps; ++j) {
            const double t = double(p) / kPhases + kBefore - j;  // distance from the tap
            const double sinc = std::sin(kPi * t) / (kPi * t);
            coef[p][j] = sinc * (0.5 + 0.5 * std::cos(kPi * t / (kTaps / 2)));
            sum += coef[p][j];
        }
        for (double& c : coef[p]) c /= sum;
    }
    double peak = 0.0;
    for (int c = 0; c < 2; ++c) {
        const float* x = c == 0 ? s.left : s.right;
        for (int64_t i = 0; i < s.frames; ++i) {
            peak = std::max(peak, std::fabs(double(x[i * s.stride])));
            if (i < kBefore || i + kTaps - kBefore > s.frames) continue;
            for (int p = 1; p < kPhases; ++p) {
                double acc = 0.0;
                for (int j = 0; j < kTaps; ++j) acc += coef[p][j] * x[(i - kBefore + j) * s.stride];
                peak = std::max(peak, std::fabs(acc));
            }
        }
    }
    return 20.0 * std::log10(peak + 1e-30);
}

std::vector<double> band_levels(const Signal& s, double from_s, double to_s, const std::vector<double>& edges) {
    // Each band is a fourth-order Butterworth highpass at its lower edge and lowpass
    // at its upper one (two state-variable stages each); the first has no
    // highpass, the last no lowpass.
    const int64_t a = frame_of(from_s, s.frames), b = frame_of(to_s, s.frames);
    const int64_t warm = std::max<int64_t>(0, a - int64_t(0.2 * kSampleRate));
    std::vector<double> out(edges.size() + 1, 0.0);
    if (b <= a) return out;
    for (size_t band = 0; band < out.size(); ++band) {
        const bool has_hp = band > 0, has_lp = band < edges.size();
        double energy = 0.0;
        for (int c = 0; c < 2; ++c) {
            Svf hp[2], lp[2];
            for (int k = 0; k < 2; ++k) {
                if (has_hp) hp[k].set(edges[band - 1], kButterworth4Q[k]);
                if (has_lp) lp[k].set(edges[band], kButterworth4Q[k]);
            }
            for (int64_t i = warm; i < b; ++i) {
                double x = c == 0 ? s.l(i) : s.r(i);
                if (has_hp) { hp[0].tick(x); hp[1].tick(hp[0].hp); x = hp[1].hp; }
                if (has_lp) { lp[0].tick(x); lp[1].tick(lp[0].lp); x = lp[1].lp; }
                if (i >= a) energy += x * x;
            }
        }
        out[band] = energy / (2.0 * double(b - a));
    }
    return out;
}

BandShares band_shares(const Signal& s, double from_s, double to_s) {
    const std::vector<double> e = band_levels(s, from_s, to_s, {250.0, 4000.0});
    const double total = e[0] + e[1] + e[2];
    if (total <= 0.0) return {};
    return {e[0] / total, e[1] / total, e[2] / total, total};
}

double side_mid_db(const Signal& s, double from_s, double to_s) {
    const int64_t a = frame_of(from_s, s.frames), b = frame_of(to_s, s.frames);
    double mid = 0.0, side = 0.0;
    for (int64_t i = a; i < b; ++i) {
        const double m = 0.5 * (double(s.l(i)) + s.r(i)), d = 0.5 * (double(s.l(i)) - s.r(i));
        mid += m * m;
        side += d * d;
    }
    return 10.0 * std::log10((side + 1e-30) / (mid + 1e-30));
}

MomentLevel moment_level(const LoudnessMeter& m, double row_s, int row, const std::vector<int>& moments) {
    auto onset = [&](int r) { return m.lufs(r * row_s, r * row_s + kOnsetSeconds); };
    std::vector<double> beats;
    for (int r = row - 16; r < row; ++r) {
        if (r < 0 || r % 4 != 0 || std::find(moments.begin(), moments.end(), r) != moments.end()) continue;
        beats.push_back(onset(r));
    }
    MomentLevel out;
    out.onset_lufs = onset(row);
    out.beats_lufs = beats.empty() ? kFloorLufs : median(beats);
    return out;
}

double crest_row(const LoudnessMeter& m, double row_s, int from_row, int to_row) {
    double best = kFloorLufs, best_end = from_row * row_s;
    for (double end = from_row * row_s + 0.01; end <= to_row * row_s + 1e-9; end += 0.01) {
        const double l = m.lufs(end - 0.4, end);
        if (l > best) { best = l; best_end = end; }
    }
    return best_end / row_s;
}

}  // namespace compose

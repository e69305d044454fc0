#include "audio/spectrum.h"

#include <kiss_fftr.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "audio/music.h"

namespace {

// 1 - 0.9 evaluated in single precision, and 0.9: the pair sums to exactly 1,
// so a bin held at byte 255 never rises above 1 (it settles one step below).
const float kNewWeight = std::bit_cast<float>(0x3DCCCCD0u);  // 0.100000024
const float kOldWeight = std::bit_cast<float>(0x3F666666u);  // 0.9

struct SpectrumState {
    int bins = 0;
    std::vector<uint8_t> bytes;
    std::vector<float> smoothed;
    kiss_fftr_cfg plan = nullptr;
    kiss_fft_cpx transform[kFftSize / 2 + 1]{};
};

SpectrumState spectrum;

}  // namespace

void spectrum_setup() {
    spectrum.bins = kSpectrumBins;
    spectrum.bytes.assign(kSpectrumBins, 0);
    spectrum.smoothed.assign(kSpectrumBins, 0.0f);
}

void create_fft_plan() {
    if (spectrum.plan == nullptr) spectrum.plan = kiss_fftr_alloc(kFftSize, 0, nullptr, nullptr);
}

void spectrum_step() { spectrum_step_with(acquire_mono_history()); }

void spectrum_step_with(const float* history) {
    if (spectrum.plan == nullptr || spectrum.bins == 0) return;
    kiss_fftr(spectrum.plan, history, spectrum.transform);
    for (int i = 0; i < kSpectrumBins; ++i) {
        const float re = spectrum.transform[i].r;
        const float im = spectrum.transform[i].i;
        const float magnitude = std::sqrt(re * re + im * im);
        float v = static_cast<float>(static_cast<double>(magnitude) * 64.0 * 0.001953125);
        if (v > 1.0f) v = 1.0f;
        spectrum.bytes[i] = static_cast<uint8_t>(v * 255);
    }
    for (int i = 0; i < spectrum.bins; ++i) {
        const float s = static_cast<float>(spectrum.bytes[i]) / 255.0f;
        spectrum.smoothed[i] = kNewWeight * s + kOldWeight * spectrum.smoothed[i];
    }
}

int spectrum_bins() { return spectrum.bins; }
const uint8_t* spectrum_bytes() { return spectrum.bytes.empty() ? nullptr : spectrum.bytes.data(); }
const float* smoothed_spectrum() { return spectrum.smoothed.empty() ? nullptr : spectrum.smoothed.data(); }

void spectrum_shutdown() {
    spectrum.bins = 0;
    spectrum.bytes.clear();
    spectrum.bytes.shrink_to_fit();
    spectrum.smoothed.clear();
    spectrum.smoothed.shrink_to_fit();
    kiss_fftr_free(spectrum.plan);
    spectrum.plan = nullptr;
}

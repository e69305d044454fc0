// The synthesiser: every voice kind sounds and repeats itself exactly, the
// oscillators are band-limited, the master limiter holds its ceiling, the WAV
// is what lame expects, and the build's own render is reproduced byte for byte.
#include <gtest/gtest.h>
#include <kiss_fftr.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dsp.h"
#include "score.h"
#include "synth.h"

namespace {

compose::Score parse_or_fail(const std::string& text) {
    compose::ParseResult r = compose::parse_score(text, "test.txt");
    EXPECT_TRUE(r.ok) << r.error;
    return r.score;
}

float peak_of(const compose::Render& r) {
    float p = 0.0f;
    for (const std::vector<float>* ch : {&r.left, &r.right})
        for (float s : *ch) p = std::max(p, std::fabs(s));
    return p;
}

class EveryKind : public ::testing::TestWithParam<const char*> {};

TEST_P(EveryKind, SoundsFiniteAndRepeatsExactly) {
    const std::string text = std::string("length 1.5\nseed 7\nhumanize time=0.002 velocity=0.1\n") +
                             "instrument i " + GetParam() + " reverb=0.3 delay=0.3 voices=2 detune=10 width=0.5\n"
                             "chord c C4 E4 G4\n"
                             "pattern p i\n    c -*3 x - . .\n"
                             "play 0 8 p\n";
    const compose::Score score = parse_or_fail(text);
    const compose::Render a = compose::render_score(score);
    const compose::Render b = compose::render_score(score);
    ASSERT_EQ(a.left.size(), size_t(1.5 * 44100));
    ASSERT_EQ(a.right.size(), a.left.size());
    for (size_t i = 0; i < a.left.size(); ++i)
        ASSERT_TRUE(std::isfinite(a.left[i]) && std::isfinite(a.right[i])) << "frame " << i;
    EXPECT_GT(peak_of(a), 0.003f) << "no sound";
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
}

INSTANTIATE_TEST_SUITE_P(Kinds, EveryKind,
                         ::testing::Values("kick", "snare", "hat", "shaker", "clave", "conga", "cowbell", "guiro", "crash",
                                           "riser", "bass", "pluck", "marimba", "pad", "lead"));

TEST(MasterBus, LimiterHoldsTheCeilingWhateverTheDrive) {
    const compose::Score score = parse_or_fail(
        "length 2\nmaster gain=30 ceiling=-3\n"
        "instrument k kick gain=12\ninstrument b bass gain=12\n"
        "pattern pk k\n    x . x .\npattern pb b\n    C2 - - -\n"
        "play 0 12 pk pb\n");
    const compose::Render r = compose::render_score(score);
    const float ceiling = float(compose::db_to_gain(-3.0));
    EXPECT_LE(peak_of(r), ceiling + 1e-6f);
    EXPECT_GT(peak_of(r), ceiling * 0.9f) << "driven this hard, the limiter should sit at its ceiling";
}

TEST(MasterBus, FadeAutomationEndsInDigitalSilence) {
    const compose::Score score = parse_or_fail(
        "length 3\ninstrument p pad\npattern pp p\n    C4 -*15\nplay 0 16 pp\n"
        "automate master gain 4:0 8:-30 10:-90\n");
    const compose::Render r = compose::render_score(score);
    const size_t silent_from = size_t(10 * 0.15 * 44100) + 64;  // one gain block after row 10
    for (size_t i = silent_from; i < r.left.size(); ++i) ASSERT_EQ(r.left[i], 0.0f) << "frame " << i;
    EXPECT_GT(peak_of(r), 0.01f);
}

// The master's highpass: a tone an octave under it loses most of its energy, one
// well above it passes as it was.
TEST(MasterBus, HighpassTakesTheLowestOctaveOff) {
    auto energy_db = [](int note, const char* master) {
        const compose::Score score = parse_or_fail(std::string("length 1\nmaster ") + master +
                                                   "\ninstrument t clave decay=2\npattern p t\n    x\nplay 0 1 p:" +
                                                   std::to_string(note - 89) + "\n");
        const compose::Render r = compose::render_score(score);
        double e = 0.0;
        for (size_t i = 4410; i < r.left.size(); ++i) e += double(r.left[i]) * r.left[i];
        return 10.0 * std::log10(e);
    };
    struct Case { int note; double most_db, least_db; };
    // MIDI 17 is 21.8 Hz (its fundamental falls 16 dB; the clave's weak partial at
    // 60 Hz stays), 45 is 110 Hz
    for (const Case& c : {Case{17, -12.0, -60.0}, Case{45, 0.5, -0.5}}) {
        // a threshold above the tone keeps the compressor out of the comparison
        const double lost = energy_db(c.note, "threshold=0 highpass=35") - energy_db(c.note, "threshold=0");
        EXPECT_LT(lost, c.most_db) << "note " << c.note;
        EXPECT_GT(lost, c.least_db) << "note " << c.note;
    }
}

// Power outside the harmonics of a sawtooth (aliases), relative to the total; the
// fundamental sits on bin k of a 4096-point transform, so every harmonic is exact.
double alias_share_db(bool band_limited, int k) {
    constexpr int n = 4096;
    const double freq = k * compose::kSampleRate / n;
    compose::Osc osc;
    double naive_phase = 0.0;
    std::vector<float> x(n);
    for (int i = 0; i < n; ++i) {
        if (band_limited) {
            x[size_t(i)] = float(osc.next(freq, 0.0));
        } else {
            x[size_t(i)] = float(2.0 * naive_phase - 1.0);
            naive_phase += freq / compose::kSampleRate;
            naive_phase -= std::floor(naive_phase);
        }
    }
    kiss_fftr_cfg plan = kiss_fftr_alloc(n, 0, nullptr, nullptr);
    std::vector<kiss_fft_cpx> bins(n / 2 + 1);
    kiss_fftr(plan, x.data(), bins.data());
    kiss_fftr_free(plan);
    double harmonic = 0.0, other = 0.0;
    for (int b = 1; b <= n / 2; ++b) {
        const double p = double(bins[size_t(b)].r) * bins[size_t(b)].r + double(bins[size_t(b)].i) * bins[size_t(b)].i;
        (b % k == 0 ? harmonic : other) += p;
    }
    return 10.0 * std::log10(other / (harmonic + other));
}

TEST(Oscillator, SawtoothIsBandLimited) {
    // 1 kHz: the top of the lead's range; 250 Hz: the middle of the pads.
    for (int k : {93, 23}) {
        const double naive = alias_share_db(false, k), blep = alias_share_db(true, k);
        std::printf("alias share of a %.0f Hz saw: naive %.1f dB, band-limited %.1f dB\n", k * 44100.0 / 4096, naive, blep);
        EXPECT_LT(blep, naive - 12.0) << "bin " << k;
    }
}

TEST(Wav, HeaderAndSamplesAreCanonical16BitStereo) {
    compose::Render r;
    r.left = {0.0f, 0.5f, -1.5f};
    r.right = {0.0f, -0.5f, 1.5f};
    const std::vector<uint8_t> w = compose::wav_bytes(r, 1);
    ASSERT_EQ(w.size(), 44u + 3 * 4);
    auto u32 = [&](size_t at) { return uint32_t(w[at]) | uint32_t(w[at + 1]) << 8 | uint32_t(w[at + 2]) << 16 | uint32_t(w[at + 3]) << 24; };
    auto s16 = [&](size_t at) { return int16_t(uint16_t(w[at]) | uint16_t(w[at + 1]) << 8); };
    EXPECT_EQ(std::string(w.begin(), w.begin() + 4), "RIFF");
    EXPECT_EQ(u32(4), 36u + 12u);
    EXPECT_EQ(std::string(w.begin() + 8, w.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(s16(20), 1);       // PCM
    EXPECT_EQ(s16(22), 2);       // channels
    EXPECT_EQ(u32(24), 44100u);  // rate
    EXPECT_EQ(s16(34), 16);      // bits
    EXPECT_EQ(std::string(w.begin() + 36, w.begin() + 40), "data");
    EXPECT_EQ(u32(40), 12u);
    EXPECT_EQ(s16(44), 0) << "silence stays exactly silent";
    EXPECT_NEAR(s16(48), 16384, 1) << "half scale, give or take the dither";
    EXPECT_NEAR(s16(50), -16384, 1);
    EXPECT_EQ(s16(52), -32767) << "clipped, not wrapped";
    EXPECT_EQ(s16(54), 32767);
}

TEST(ShowMusic, TheScoreReproducesTheBuildsWavByteForByte) {
    const compose::ParseResult parsed = compose::load_score(VELMO_MUSIC_SCORE);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    const std::vector<uint8_t> wav = compose::wav_bytes(compose::render_score(parsed.score), parsed.score.seed);

    std::ifstream built(VELMO_MUSIC_WAV, std::ios::binary);
    ASSERT_TRUE(built) << VELMO_MUSIC_WAV;
    const std::vector<uint8_t> expected((std::istreambuf_iterator<char>(built)), std::istreambuf_iterator<char>());
    ASSERT_EQ(wav.size(), expected.size());
    EXPECT_TRUE(wav == expected) << "a second render of the same score differs from the build's";
    EXPECT_GE(wav.size(), 44u + size_t(190.9 * 44100) * 4);
}

}  // namespace

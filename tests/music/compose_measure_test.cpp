// The listening meter on signals whose figures are known: a tone's loudness,
// the gates and the range, the true peak between samples, band shares, side
// against mid, and a moment's margin over the beats before it.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp.h"
#include "measure.h"

namespace {

constexpr double kRate = 44100.0;

struct Stereo {
    std::vector<float> left, right;
    compose::Signal signal() const { return {left.data(), right.data(), int64_t(left.size()), 1}; }
    // Adds a sine of `hz` at `db` dBFS peak over [from_s, to_s); `right_sign` -1 puts it out of phase.
    void tone(double hz, double db, double from_s, double to_s, double right_sign = 1.0, double phase = 0.0) {
        const size_t end = size_t(to_s * kRate);
        if (left.size() < end) { left.resize(end, 0.0f); right.resize(end, 0.0f); }
        const double a = std::pow(10.0, db / 20.0);
        for (size_t i = size_t(from_s * kRate); i < end; ++i) {
            const double x = a * std::sin(2.0 * compose::kPi * hz * double(i) / kRate + phase);
            left[i] += float(x);
            right[i] += float(right_sign * x);
        }
    }
};

TEST(LoudnessMeter, AToneInBothChannelsReadsItsLevel) {
    // A 997 Hz sine at -20 dBFS in both channels reads -20 LUFS: the weighting is
    // flat there and the two channels add 3 dB that the sine's RMS takes back.
    // The weighting's highpass and shelf move 40 Hz and 8 kHz as ffmpeg's
    // ebur128 filter reads the same tones.
    struct Case { double hz, db, expected; };
    for (const Case& c : {Case{997, -20, -20.0}, Case{997, -6, -6.0}, Case{40, -20, -26.3}, Case{8000, -20, -16.6}}) {
        Stereo s;
        s.tone(c.hz, c.db, 0.0, 5.0);
        const compose::LoudnessMeter m(s.signal());
        EXPECT_NEAR(m.integrated(), c.expected, 0.25) << c.hz << " Hz at " << c.db << " dBFS";
        EXPECT_NEAR(m.lufs(1.0, 2.0), c.expected, 0.25) << c.hz << " Hz";
    }
}

TEST(LoudnessMeter, GatesLeaveSilenceAndQuietTailsOut) {
    Stereo s;
    s.tone(997, -20, 0.0, 6.0);
    s.tone(997, -70, 6.0, 9.0);   // far under the relative gate
    s.left.resize(size_t(15 * kRate), 0.0f);  // silence under the absolute gate
    s.right.resize(s.left.size(), 0.0f);
    const compose::LoudnessMeter m(s.signal());
    EXPECT_NEAR(m.integrated(), -20.0, 0.3);
}

TEST(LoudnessMeter, RangeSpansTheLoudAndTheQuietSections) {
    Stereo s;
    s.tone(997, -20, 0.0, 20.0);
    s.tone(997, -30, 20.0, 40.0);
    const compose::LoudnessMeter m(s.signal());
    EXPECT_NEAR(m.range(), 10.0, 0.5);
    Stereo flat;
    flat.tone(997, -20, 0.0, 40.0);
    EXPECT_LT(compose::LoudnessMeter(flat.signal()).range(), 0.2);
    const std::vector<double> st = m.short_term(1.0);
    ASSERT_EQ(st.size(), 38u);  // windows ending at 3 s, 4 s, ... 40 s
    EXPECT_NEAR(st.front(), -20.0, 0.2);
    EXPECT_NEAR(st.back(), -30.0, 0.2);
}

TEST(TruePeak, FindsThePeakBetweenSamples) {
    // A quarter of the sample rate, 45 degrees off: every sample lands at ±0.707 of
    // the crest, so the sample peak reads 3 dB low and the true peak does not.
    Stereo s;
    s.tone(kRate / 4.0, -6.0, 0.0, 0.5, 1.0, compose::kPi / 4.0);
    float sample_peak = 0.0f;
    for (float x : s.left) sample_peak = std::max(sample_peak, std::fabs(x));
    EXPECT_NEAR(20.0 * std::log10(sample_peak), -9.0, 0.1);
    EXPECT_NEAR(compose::true_peak_dbtp(s.signal()), -6.0, 0.3);
}

TEST(BandShares, PutEachToneInItsBand) {
    struct Case { double hz, low, mid, high; };
    for (const Case& c : {Case{80, 1, 0, 0}, Case{1000, 0, 1, 0}, Case{9000, 0, 0, 1}}) {
        Stereo s;
        s.tone(c.hz, -12, 0.0, 2.0);
        const compose::BandShares b = compose::band_shares(s.signal(), 0.5, 2.0);
        EXPECT_NEAR(b.low, c.low, 0.02) << c.hz << " Hz";
        EXPECT_NEAR(b.mid, c.mid, 0.02) << c.hz << " Hz";
        EXPECT_NEAR(b.high, c.high, 0.02) << c.hz << " Hz";
        EXPECT_NEAR(10.0 * std::log10(b.mean_square), -15.0, 0.3) << c.hz << " Hz: a -12 dBFS sine's mean square";
    }
}

TEST(SideMid, ReadsThePanOfASource) {
    struct Case { double right_sign, expected_db; };
    // In phase: no side at all; one channel only: side equals mid; out of phase: no mid.
    for (const Case& c : {Case{1.0, -200.0}, Case{0.0, 0.0}, Case{-1.0, 200.0}}) {
        Stereo s;
        s.tone(500, -12, 0.0, 1.0, c.right_sign);
        const double db = compose::side_mid_db(s.signal(), 0.0, 1.0);
        if (std::fabs(c.expected_db) > 100.0) EXPECT_GT(db * c.expected_db, 100.0 * 100.0) << c.right_sign;
        else EXPECT_NEAR(db, c.expected_db, 0.01) << c.right_sign;
    }
}

TEST(MomentLevel, ComparesWithTheBeatsBeforeLeavingOtherMomentsOut) {
    // Beats (every fourth row) of -30 dBFS bursts, with one loud burst on row 24
    // and the moment on row 32; row 24 is itself a moment, so it is left out.
    constexpr double row_s = 0.15;
    Stereo s;
    for (int row = 0; row < 40; row += 4) s.tone(997, row == 24 ? -10 : row == 32 ? -20 : -30, row * row_s, row * row_s + 0.1);
    const compose::LoudnessMeter m(s.signal());
    const compose::MomentLevel with = compose::moment_level(m, row_s, 32, {24, 32});
    EXPECT_NEAR(with.onset_lufs, -20.0, 0.3);
    EXPECT_NEAR(with.beats_lufs, -30.0, 0.3);
    EXPECT_NEAR(with.margin_db(), 10.0, 0.3);
    EXPECT_NEAR(compose::moment_level(m, row_s, 32, {32}).beats_lufs, -30.0, 0.3)
        << "one loud beat of four does not move the median";
}

TEST(CrestRow, FindsWhereARisingToneIsLoudest) {
    constexpr double row_s = 0.15;
    Stereo s;
    for (int row = 0; row < 8; ++row) s.tone(997, -30 + 3 * row, row * row_s, (row + 1) * row_s);  // rises each row
    const compose::LoudnessMeter m(s.signal());
    EXPECT_NEAR(compose::crest_row(m, row_s, 0, 8), 8.0, 0.1);
}

}  // namespace

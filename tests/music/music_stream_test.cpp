// The embedded music decoded with libmpg123 from memory, as the player does:
// its format and length, the tag the encoder writes first, its levels, its
// loudness as a listener's meter reads it, the band hits' margin over the beats
// before them, and the energy near 1.4 kHz that the pattern background reads
// from spectrum bin 32.
#include <gtest/gtest.h>
#include <kiss_fftr.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "measure.h"
#include "platform/embedded.h"

extern "C" const EmbeddedFile music_files[];
extern "C" const int music_files_count;

namespace {

constexpr long kRate = 44100;
constexpr size_t kShownFrames = 8379000;  // 190.0 s: what the show plays
constexpr double kRowSeconds = 0.15;

struct Decoded {
    long rate = 0;
    int channels = 0;
    std::vector<float> samples;  // interleaved
    size_t frames() const { return channels ? samples.size() / size_t(channels) : 0; }
};

const EmbeddedFile* music_file() {
    for (int i = 0; i < music_files_count; ++i)
        if (std::strcmp(music_files[i].name, "music.mp3") == 0) return &music_files[i];
    return nullptr;
}

// Decodes the whole stream once; the tests share it.
const Decoded& decoded() {
    static const Decoded d = [] {
        Decoded out;
        const EmbeddedFile* f = music_file();
        if (!f) return out;
        mpg123_init();
        int err = 0;
        mpg123_handle* h = mpg123_new(nullptr, &err);
        mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
        mpg123_format_none(h);
        mpg123_format(h, kRate, MPG123_STEREO | MPG123_MONO, MPG123_ENC_FLOAT_32);
        mpg123_open_feed(h);
        std::vector<unsigned char> chunk(1 << 16);
        size_t done = 0;
        int rc = mpg123_decode(h, f->bytes, size_t(f->size), chunk.data(), chunk.size(), &done);
        for (;;) {
            if (rc == MPG123_NEW_FORMAT) {
                int enc = 0;
                mpg123_getformat(h, &out.rate, &out.channels, &enc);
            }
            const float* s = reinterpret_cast<const float*>(chunk.data());
            out.samples.insert(out.samples.end(), s, s + done / sizeof(float));
            if (rc == MPG123_ERR || rc == MPG123_NEED_MORE || rc == MPG123_DONE) break;
            rc = mpg123_decode(h, nullptr, 0, chunk.data(), chunk.size(), &done);
        }
        mpg123_delete(h);
        return out;
    }();
    return d;
}

double rms_db(const Decoded& d, double from_s, double to_s) {
    const size_t a = size_t(from_s * kRate), b = std::min(d.frames(), size_t(to_s * kRate));
    double sum = 0.0;
    for (size_t i = a * 2; i < b * 2; ++i) sum += double(d.samples[i]) * d.samples[i];
    return 10.0 * std::log10(sum / double(std::max<size_t>(1, (b - a) * 2)) + 1e-20);
}

// Spectrum byte of bin 32 for the 1024 mono samples ending at `end_frame`, the
// way the show computes it: unwindowed real FFT, magnitude / 8, clamped, × 255.
int bin32_byte(const Decoded& d, size_t end_frame, kiss_fftr_cfg plan) {
    std::vector<float> mono(1024);
    for (size_t i = 0; i < 1024; ++i) {
        const size_t f = end_frame - 1024 + i;
        mono[i] = (d.samples[2 * f] + d.samples[2 * f + 1]) * 0.5f;
    }
    std::vector<kiss_fft_cpx> bins(513);
    kiss_fftr(plan, mono.data(), bins.data());
    const float m = std::sqrt(bins[32].r * bins[32].r + bins[32].i * bins[32].i);
    return int(std::min(1.0f, m / 8.0f) * 255.0f);
}

// The title (TIT2) of an ID3v2.3/2.4 tag at the start of `b`, ASCII text only;
// "" when there is none.
std::string id3v2_title(const unsigned char* b, size_t size) {
    if (size < 10) return "";
    auto syncsafe = [&](size_t at) { return size_t(b[at]) << 21 | size_t(b[at + 1]) << 14 | size_t(b[at + 2]) << 7 | b[at + 3]; };
    const size_t end = std::min(size, 10 + syncsafe(6));
    for (size_t at = 10; at + 10 <= end;) {
        const std::string id(reinterpret_cast<const char*>(b + at), 4);
        const size_t len = b[3] == 4 ? syncsafe(at + 4)
                                     : size_t(b[at + 4]) << 24 | size_t(b[at + 5]) << 16 | size_t(b[at + 6]) << 8 | b[at + 7];
        if (id[0] == '\0' || at + 10 + len > end) break;
        if (id == "TIT2" && len > 0) {
            const unsigned char* t = b + at + 10;
            std::string text;
            if (t[0] == 0 || t[0] == 3) {  // Latin-1 or UTF-8
                text.assign(reinterpret_cast<const char*>(t + 1), len - 1);
            } else {  // UTF-16, with a byte-order mark (1) or big-endian (2)
                size_t i = 1;
                bool little = false;
                if (t[0] == 1 && len >= 3) { little = t[1] == 0xFF; i = 3; }
                for (; i + 1 < len; i += 2) text.push_back(char(little ? t[i] : t[i + 1]));
            }
            while (!text.empty() && text.back() == '\0') text.pop_back();
            return text;
        }
        at += 10 + len;
    }
    return "";
}

TEST(MusicStream, IsEmbeddedWithAnId3v2TagFirst) {
    const EmbeddedFile* f = music_file();
    ASSERT_NE(f, nullptr) << "no \"music.mp3\" in music_files";
    ASSERT_GT(f->size, 10);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(f->bytes), 3), "ID3");
    EXPECT_TRUE(f->bytes[3] == 3 || f->bytes[3] == 4) << "ID3v2 major version " << int(f->bytes[3]);
    EXPECT_EQ(id3v2_title(f->bytes, size_t(f->size)), "velmo");
}

TEST(MusicStream, DecodesTo44100HzStereoLongerThanTheShow) {
    const Decoded& d = decoded();
    EXPECT_EQ(d.rate, kRate);
    EXPECT_EQ(d.channels, 2);
    EXPECT_GE(d.frames(), kShownFrames);
    EXPECT_GE(double(d.frames()) / kRate, 190.9);
}

TEST(MusicStream, LevelsStayBelowFullScaleAndTheEndIsSilent) {
    const Decoded& d = decoded();
    ASSERT_GT(d.frames(), kShownFrames);
    float peak = 0.0f;
    for (float s : d.samples) peak = std::max(peak, std::fabs(s));
    EXPECT_LT(peak, 0.891f) << "sample peak above -1 dBFS";
    EXPECT_GT(rms_db(d, 0.0, 2.4), -45.0) << "the first bar must already sound";
    EXPECT_LT(rms_db(d, 0.0, 2.4), rms_db(d, 26.4, 28.8)) << "the intro builds from sparse to full";
    EXPECT_LT(rms_db(d, 190.5, 190.9), -60.0) << "the file ends in silence after the show's 190 s";
}

// Rows where the picture changes on the music: the break's stabs (which carry
// the flicker of the "part" track), the mill's doors, the cheese bursts, the
// sunrise and the last chorus. Each must start a hit: louder just after than
// just before.
TEST(MusicStream, TheShowsMomentsLandOnHits) {
    const Decoded& d = decoded();
    ASSERT_GT(d.frames(), kShownFrames);
    for (int row : {192, 195, 198, 202, 204, 208, 211, 536, 552, 812, 816, 820, 824, 888, 896}) {
        const double t = row * kRowSeconds;
        const double before = rms_db(d, t - 0.06, t), after = rms_db(d, t, t + 0.06);
        EXPECT_GT(after - before, 2.0) << "row " << row << ": " << before << " dB before, " << after << " dB after";
    }
}

const compose::LoudnessMeter& meter() {
    static const compose::LoudnessMeter m(
        compose::Signal{decoded().samples.data(), decoded().samples.data() + 1, int64_t(decoded().frames()), 2});
    return m;
}

// Loud enough to sit with other music, with room for the sections to differ,
// and peaks that survive a decoder's overshoot.
TEST(MusicStream, LoudnessRangeAndTruePeakMeetTheMastersTargets) {
    const Decoded& d = decoded();
    ASSERT_GT(d.frames(), kShownFrames);
    const double integrated = meter().integrated(), range = meter().range();
    const double peak = compose::true_peak_dbtp(compose::Signal{d.samples.data(), d.samples.data() + 1, int64_t(d.frames()), 2});
    std::printf("integrated %.1f LUFS, loudness range %.1f LU, true peak %.1f dBTP\n", integrated, range, peak);
    EXPECT_NEAR(integrated, -14.0, 1.0);
    EXPECT_GE(range, 6.0);
    EXPECT_LE(range, 8.0);
    EXPECT_LE(peak, -1.0);
}

// The band's hits where the doors open and the cheese bursts stand 3 dB above
// the beats of the bar before them.
TEST(MusicStream, TheBandHitsStandAboveTheBeatsBeforeThem) {
    ASSERT_GT(decoded().frames(), kShownFrames);
    const std::vector<int> hits = {536, 552, 812, 816, 820, 824};
    for (int row : hits) {
        const compose::MomentLevel l = compose::moment_level(meter(), kRowSeconds, row, hits);
        EXPECT_GE(l.margin_db(), 3.0) << "row " << row << ": " << l.onset_lufs << " LUFS against beats at " << l.beats_lufs;
    }
}

TEST(MusicStream, MainBodyCarriesEnergyInSpectrumBin32) {
    const Decoded& d = decoded();
    ASSERT_GT(d.frames(), kShownFrames);
    kiss_fftr_cfg plan = kiss_fftr_alloc(1024, 0, nullptr, nullptr);
    // One analysis per sixtieth of a second over the main body (rows 256 to 1152).
    std::vector<int> bytes;
    for (double t = 256 * kRowSeconds; t < 1152 * kRowSeconds; t += 1.0 / 60.0)
        bytes.push_back(bin32_byte(d, size_t(t * kRate), plan));
    kiss_fftr_free(plan);
    const double mean = double(std::accumulate(bytes.begin(), bytes.end(), 0LL)) / double(bytes.size());
    const size_t lit = size_t(std::count_if(bytes.begin(), bytes.end(), [](int b) { return b >= 32; }));
    const auto [lo, hi] = std::minmax_element(bytes.begin(), bytes.end());
    RecordProperty("bin32_mean", std::to_string(mean));
    std::printf("bin 32 over the main body: mean %.1f, min %d, max %d, %zu of %zu at 32 or more\n", mean, *lo, *hi, lit,
                bytes.size());
    EXPECT_GT(lit * 2, bytes.size()) << "bin 32 must carry energy most of the time";
    EXPECT_GE(*hi - *lo, 128) << "and it must pulse, not sit at one level";
}

}  // namespace

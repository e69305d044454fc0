// velmo_music_report <score.txt> <audio.f32> [plot prefix]: the listening figures
// of a piece by the score's sections and moments. The audio is raw 32-bit float
// stereo at 44,100 Hz, interleaved (what "ffmpeg -f f32le -ac 2 -ar 44100" writes).
// With a plot prefix it also writes <prefix>-loudness.dat (seconds, short-term and
// momentary LUFS every 0.1 s) and <prefix>-sections.dat (first and last second,
// median short-term LUFS, name) for a plotting program.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "measure.h"
#include "score.h"

namespace {

bool read_floats(const char* path, std::vector<float>* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0);
    out->resize(size_t(size) / sizeof(float));
    in.read(reinterpret_cast<char*>(out->data()), std::streamsize(out->size() * sizeof(float)));
    return bool(in);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: velmo_music_report <score.txt> <audio.f32> [plot prefix]\n");
        return 2;
    }
    const compose::ParseResult parsed = compose::load_score(argv[1]);
    if (!parsed.ok) {
        std::fprintf(stderr, "%s\n", parsed.error.c_str());
        return 1;
    }
    std::vector<float> samples;
    if (!read_floats(argv[2], &samples) || samples.size() < 2) {
        std::fprintf(stderr, "velmo_music_report: cannot read raw stereo floats from %s\n", argv[2]);
        return 1;
    }
    const compose::Score& score = parsed.score;
    const double row_s = score.row_seconds();
    const compose::Signal sig{samples.data(), samples.data() + 1, int64_t(samples.size() / 2), 2};
    const compose::LoudnessMeter meter(sig);
    const std::vector<double> short_term = meter.short_term(0.1);  // value k ends at 3 s + k × 0.1 s

    std::FILE* sections_dat = nullptr;
    if (argc == 4) {
        const std::string prefix = argv[3];
        if (std::FILE* f = std::fopen((prefix + "-loudness.dat").c_str(), "w")) {
            for (size_t k = 0; k < short_term.size(); ++k) {
                const double end = 3.0 + 0.1 * double(k);
                std::fprintf(f, "%.1f %.2f %.2f\n", end, std::max(-60.0, short_term[k]), std::max(-60.0, meter.lufs(end - 0.4, end)));
            }
            std::fclose(f);
        }
        sections_dat = std::fopen((prefix + "-sections.dat").c_str(), "w");
    }

    std::printf("%-14s %-10s %10s %8s %8s %8s %10s %9s\n", "section", "rows", "short-term", "<250Hz", "250-4k", ">4kHz", ">4kHz rms", "side/mid");
    for (size_t i = 0; i < score.sections.size(); ++i) {
        const compose::Mark& s = score.sections[i];
        const double from = s.row * row_s;
        double to = i + 1 < score.sections.size() ? score.sections[i + 1].row * row_s : meter.seconds();
        if (i + 1 == score.sections.size()) {  // the last runs to where the sound stops, not to the silent tail
            while (to > from + 3.0 && meter.lufs(to - 0.4, to) < -70.0) to -= 0.1;
        }
        std::vector<double> inside;  // short-term windows wholly inside the section
        for (size_t k = 0; k < short_term.size(); ++k) {
            const double end = 3.0 + 0.1 * double(k);
            if (end - 3.0 >= from - 1e-9 && end <= to + 1e-9) inside.push_back(short_term[k]);
        }
        const double median = compose::median(inside);
        const compose::BandShares b = compose::band_shares(sig, from, to);
        const int last_row = i + 1 < score.sections.size() ? score.sections[i + 1].row - 1 : int(to / row_s);
        std::printf("%-14s %4d-%-5d %5.1f LUFS %7.1f%% %7.1f%% %7.1f%% %7.1f dB %6.1f dB\n", s.name.c_str(), s.row, last_row, median,
                    100.0 * b.low, 100.0 * b.mid, 100.0 * b.high, 10.0 * std::log10(b.high * b.mean_square + 1e-30),
                    compose::side_mid_db(sig, from, to));
        if (sections_dat) std::fprintf(sections_dat, "%.2f %.2f %.2f \"%s\"\n", from, to, median, s.name.c_str());
    }
    if (sections_dat) std::fclose(sections_dat);

    std::vector<int> moment_rows;
    for (const compose::Mark& m : score.moments) moment_rows.push_back(m.row);
    // Crest: where the 400 ms loudness peaks from the moment up to the next one
    // (a bar at most): a swell should crest late, a hit at once.
    std::printf("\n%-5s %-20s %11s %11s %8s %7s\n", "row", "moment", "onset", "beats", "margin", "crest");
    for (size_t i = 0; i < score.moments.size(); ++i) {
        const compose::Mark& m = score.moments[i];
        const compose::MomentLevel l = compose::moment_level(meter, row_s, m.row, moment_rows);
        const int until = std::min(m.row + 16, i + 1 < score.moments.size() ? score.moments[i + 1].row : m.row + 16);
        std::printf("%-5d %-20s %6.1f LUFS %6.1f LUFS %5.1f dB %7.1f\n", m.row, m.name.c_str(), l.onset_lufs, l.beats_lufs,
                    l.margin_db(), compose::crest_row(meter, row_s, m.row, until));
    }
    // Octaves from 22 Hz up, against the loudest: where the low end sits.
    const std::vector<double> edges = {22, 44, 88, 177, 355, 710, 1420, 2840, 5680, 11360};
    const std::vector<double> octaves = compose::band_levels(sig, 0.0, meter.seconds(), edges);
    const double loudest = *std::max_element(octaves.begin(), octaves.end());
    std::printf("\noctaves against the loudest:");
    for (size_t i = 0; i < octaves.size(); ++i) {
        char name[32];
        if (i == 0) std::snprintf(name, sizeof name, "<%d", int(edges.front()));
        else if (i == edges.size()) std::snprintf(name, sizeof name, ">%d", int(edges.back()));
        else std::snprintf(name, sizeof name, "%d-%d", int(edges[i - 1]), int(edges[i]));
        std::printf("%s %s %.1f dB", i ? "," : "", name, 10.0 * std::log10((octaves[i] + 1e-30) / loudest));
    }
    std::printf("\n");
    std::printf("\nwhole piece: integrated %.1f LUFS, loudness range %.1f LU, true peak %.1f dBTP\n", meter.integrated(),
                meter.range(), compose::true_peak_dbtp(sig));
    return 0;
}

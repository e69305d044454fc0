// velmo_compose <score.txt> <out.wav>: renders the score to a 16-bit stereo WAV.
#include <cstdio>
#include <fstream>
#include <string>

#include "score.h"
#include "synth.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: velmo_compose <score.txt> <out.wav>\n");
        return 2;
    }
    const compose::ParseResult parsed = compose::load_score(argv[1]);
    if (!parsed.ok) {
        std::fprintf(stderr, "%s\n", parsed.error.c_str());
        return 1;
    }
    const compose::Render r = compose::render_score(parsed.score);
    const std::vector<uint8_t> wav = compose::wav_bytes(r, parsed.score.seed);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(wav.data()), std::streamsize(wav.size()));
    if (!out) {
        std::fprintf(stderr, "velmo_compose: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}

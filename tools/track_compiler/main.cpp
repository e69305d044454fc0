// track_compiler <project.rocket> <output directory>
// Exit status 1 with one line on standard error when the project is refused.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "track_compiler.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: track_compiler <project.rocket> <output directory>\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot be read\n", argv[1]);
        return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();

    CompiledTimeline timeline;
    std::string error;
    if (!compile_timeline(text.str().c_str(), argv[1], timeline, error) ||
        !write_track_files(timeline, argv[2], error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}

// track_compiler <project.rocket> <output directory>
// Exit status 1 with one line on standard error when the project is refused.
#include <cstdio>
#include <string>

#include "common/read_text_file.h"

#include "track_compiler.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: track_compiler <project.rocket> <output directory>\n");
        return 2;
    }
    std::string text, error;
    if (!read_text_file(argv[1], &text, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    CompiledTimeline timeline;
    if (!compile_timeline(text.c_str(), argv[1], timeline, error) ||
        !write_track_files(timeline, argv[2], error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}

// velmo-bench's command line.
#pragma once
#include <string>

#include "common/command_line.h"

struct BenchOptions {
    int width = 1920, height = 1080;
    double from_row = 0.0, to_row = kLastRow;
    bool antialias = true;
    SeekMode seek = SeekMode::Run;
    bool json = false;
};

// Reads argv into *options. Help: *message holds the help text. Refused: one
// line in *message saying what was wrong.
CommandLineResult parse_bench_options(int argc, const char* const* argv, BenchOptions* options,
                                      std::string* message);

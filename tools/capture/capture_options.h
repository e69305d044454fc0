// velmo-capture's command line.
#pragma once
#include <string>

#include "common/command_line.h"

enum class CaptureFormat { Video, Lossless, Frames, Sheet };

struct CaptureOptions {
    CaptureFormat format = CaptureFormat::Video;
    std::string out;          // empty: the format's default name
    int width = 0, height = 0;  // 0: the format's default size
    int fps = 60;
    double from_row = 0.0, to_row = kLastRow;
    double every_rows = 0.0;  // frames: 0 keeps every frame; sheet: 0 means 32
    int columns = 8;          // sheet
    bool antialias = true;
    SeekMode seek = SeekMode::Run;
    std::string ffmpeg = "ffmpeg";
};

// Reads argv into *options and fills in the defaults. Help: *message holds the
// help text. Refused: one line in *message saying what was wrong.
CommandLineResult parse_capture_options(int argc, const char* const* argv, CaptureOptions* options,
                                        std::string* message);

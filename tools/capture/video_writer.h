// A video through ffmpeg, run as a child process: RGBA frames go down a pipe
// to its standard input, the music (32-bit float stereo at 44,100 Hz) is
// handed over whole in a file beside the output. ffmpeg writes to
// "<out>.partial"; only a run that ends well renames it to <out>, so a failed
// run (ffmpeg missing or stopping, the disk full) leaves nothing under the
// requested name.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

struct VideoDesc {
    std::string ffmpeg;  // the program, looked up in PATH
    std::string out;
    bool lossless;       // FFV1 and PCM in Matroska; else H.264 and AAC in MP4
    int width, height, fps;
    const float* music;  // interleaved stereo
    size_t music_frames;
};

struct VideoWriter {
    std::string out, partial, music_file;
    pid_t child = -1;
    int pipe_fd = -1;
    size_t frame_bytes = 0;
};

// Writes the music file and starts ffmpeg. False with a message in *error.
bool video_open(const VideoDesc& desc, VideoWriter* writer, std::string* error);
// One frame of width x height RGBA pixels, top row first.
bool video_write_frame(VideoWriter* writer, const uint8_t* rgba, std::string* error);
// Ends the stream, waits for ffmpeg and renames the file into place.
bool video_finish(VideoWriter* writer, std::string* error);
// Stops ffmpeg and removes every file the writer made. Safe after a failure.
void video_abort(VideoWriter* writer);

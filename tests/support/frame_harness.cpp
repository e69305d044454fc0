#include "support/frame_harness.h"

#include <cstdio>

#include "app/offline_show.h"

bool harness_open(int width, int height) {
    return offline_show_open({.width = width, .height = height, .antialias = true, .window_title = "velmo test"});
}

void harness_frame(uint64_t now_ns, uint32_t audio_frames) { offline_show_frame(now_ns, audio_frames); }

std::vector<uint8_t> harness_read_pixels() {
    std::vector<uint8_t> rgba;
    offline_show_read_pixels(&rgba);
    return rgba;
}

int harness_width() { return offline_show_width(); }
int harness_height() { return offline_show_height(); }

bool write_png(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba) {
    std::string error;
    if (write_png_file(path, width, height, rgba.data(), &error)) return true;
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
}

void harness_close() { offline_show_close(); }

// Windows, their 16:9 targets and the four blur level sizes each gives.
#pragma once
#include "render/bloom.h"

struct BlurCase {
    int32_t window_width, window_height;
    int32_t target_width, target_height;
    ImageSize levels[blur_level_count];
};

inline const BlurCase blur_cases[] = {
    {1920, 1080, 1920, 1080, {{960, 540}, {480, 270}, {240, 135}, {120, 67}}},
    {1280, 1024, 1280, 720, {{640, 360}, {320, 180}, {160, 90}, {80, 45}}},
    {320, 240, 320, 180, {{160, 90}, {80, 45}, {40, 22}, {20, 11}}},
    {1, 1, 1, 64, {{1, 32}, {1, 16}, {1, 8}, {1, 4}}},  // a 1 × 1 window
    {1000, 10, 64, 10, {{32, 5}, {16, 2}, {8, 1}, {4, 1}}},  // under 16 pixels high: 1 at least
};

// Test support for the render module: one hidden window with a GL context and
// the graphics layer set up, shared by every test of an executable, plus
// read-backs and PNG output into the build tree.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "gfx/gfx.h"

struct Rgba8 {
    uint8_t r, g, b, a;
};

// Opens the window (width × height, hidden) and sets up the graphics layer on
// first call; false when no GL context can be made. Later calls return the
// first call's result and ignore the size.
bool open_render_window(int width, int height);
int render_window_width();
int render_window_height();

// The window's back buffer, top row first.
std::vector<Rgba8> read_window();
// A single-sample (or resolved) image's level 0, row 0 first.
std::vector<Rgba8> read_image(gfx::Image image);

// Writes into the test build folder; returns the path written, "" on failure.
std::string save_png(const std::string& name, int width, int height, const std::vector<Rgba8>& pixels);

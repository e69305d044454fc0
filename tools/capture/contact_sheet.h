// A contact sheet: pictures of the show in a grid, each with a label strip
// beneath it ("row 256  part 2  param 1.25").
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ContactSheet {
    int tile_width = 0, tile_height = 0, columns = 0, rows = 0;
    int gap = 0, label_height = 0, label_scale = 1, label_lines = 1;
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
};

// A sheet for `count` pictures of tile_width x tile_height, `columns` a line.
void contact_sheet_make(ContactSheet* sheet, int tile_width, int tile_height, int columns, int count);
// Places picture `index` (RGBA, top row first) with its label.
void contact_sheet_place(ContactSheet* sheet, int index, const uint8_t* rgba, const std::string& label);
// The label of a picture: its row (one decimal), the part and the "param" value.
std::string contact_sheet_label(double row, int part, double param);

// The seven models of the show, each made from code alone (the greetings also
// from a font file), the same bytes on every run.
#pragma once
#include <string>

#include "glb_writer.h"

ModelFile make_ingredients();
ModelFile make_donkey();
ModelFile make_mill();
ModelFile make_face();
ModelFile make_plate();
ModelFile make_pyramid();
// font_path: a TrueType font for the lettering; false with *error when it cannot be read.
bool make_greetings(const std::string& font_path, ModelFile* model, std::string* error);

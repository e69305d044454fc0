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
// The greetings' lettering comes from a TrueType font file's bytes, which
// check_font tests first (false, with "<path>: ..." in *error, when unusable).
bool check_font(const std::string& font_bytes, const std::string& font_path, std::string* error);
ModelFile make_greetings(const std::string& font_bytes);

// The seven embedded models (binary glTF 2.0, made at build time by the model
// tool, see data/models) in the order the load step loads them.
#pragma once
#include "platform/embedded.h"

// {file name, bytes, size}, indexed by ModelSlot.
extern "C" const EmbeddedFile model_files[];
extern "C" const int model_files_count;

enum ModelSlot {
    MODEL_INGREDIENTS = 0,  // "ingredients.glb"
    MODEL_DONKEY,           // "donkey.glb"
    MODEL_MILL,             // "mill.glb"
    MODEL_FACE,             // "face.glb"
    MODEL_PLATE,            // "plate.glb"
    MODEL_PYRAMID,          // "pyramid.glb"
    MODEL_GREETINGS,        // "greetings.glb"
    MODEL_COUNT
};

// The greeting model's twelve text pieces: the name of each mesh node, in
// ascending byte order (the order the greeting scenes count them in), and the
// word lettered on it.
struct GreetingPiece {
    const char* node;
    const char* word;
};
inline constexpr int GREETING_COUNT = 12;
inline constexpr GreetingPiece greeting_pieces[GREETING_COUNT] = {
    {"hi_bullet", "Bullet"}, {"hi_cmake", "CMake"},     {"hi_debian", "Debian"}, {"hi_glslang", "glslang"},
    {"hi_googletest", "GoogleTest"}, {"hi_gtk", "GTK"}, {"hi_kissfft", "kissfft"}, {"hi_lame", "LAME"},
    {"hi_mesa", "Mesa"},     {"hi_mpg123", "mpg123"},   {"hi_sdl", "SDL"},       {"hi_stb", "stb"},
};

// One file carried inside the executable, made at build time (see cmake/embed.cmake).
// Tables of these are constant data: no file is read at run time.
#pragma once
#include <cstdint>

extern "C" {
struct EmbeddedFile {
    const char* name;            // the name the table was built with
    const unsigned char* bytes;  // followed by one zero byte, not counted in size
    int32_t size;
};
}
static_assert(sizeof(EmbeddedFile) == 24, "the assembler writes 8 + 8 + 4 + 4 bytes per entry");

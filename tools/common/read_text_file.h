// Reading a build tool's input: the whole file as text, or a message naming it.
#pragma once
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// The whole of path into *text. False, with "<path>: cannot be read" in
// *error, when the file cannot be opened or is a directory (which opens, and
// would read as empty).
inline bool read_text_file(const char* path, std::string* text, std::string* error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        *error = std::string(path) + ": cannot be read: it is a directory";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = std::string(path) + ": cannot be read";
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    *text = buffer.str();
    return true;
}

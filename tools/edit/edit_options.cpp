#include "edit_options.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace {

bool parse_int(std::string_view text, int low, int high, int* out) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) return false;
    *out = value;
    return true;
}

bool parse_size(std::string_view text, int* width, int* height) {
    const size_t x = text.find('x');
    return x != std::string_view::npos && parse_int(text.substr(0, x), 1, 16384, width) &&
           parse_int(text.substr(x + 1), 1, 16384, height);
}

}  // namespace

bool parse_edit_options(int argc, const char* const* argv, EditOptions* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--help" || option == "-h") {
            options->help = true;
            continue;
        }
        const bool takes_value = option == "--size" || option == "--host" || option == "--port" ||
                                 option == "--save-dir";
        if (!takes_value) {
            *error = "unknown option \"" + std::string(option) + "\"";
            return false;
        }
        if (i + 1 >= argc) {
            *error = std::string(option) + " needs a value";
            return false;
        }
        const std::string_view value = argv[++i];
        bool ok = true;
        if (option == "--size") ok = parse_size(value, &options->width, &options->height);
        if (option == "--port") ok = parse_int(value, 1, 65535, &options->port);
        if (option == "--host" || option == "--save-dir") {
            ok = !value.empty();
            (option == "--host" ? options->host : options->save_dir) = value;
        }
        if (!ok) {
            const char* expected = option == "--size"   ? "WIDTHxHEIGHT, each 1 to 16384"
                                   : option == "--port" ? "a port number from 1 to 65535"
                                                        : "a value that is not empty";
            *error = std::string(option) + " \"" + std::string(value) + "\": expected " + expected;
            return false;
        }
    }
    return true;
}

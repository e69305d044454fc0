#include "common/command_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

CommandLineResult parse_command_line(int argc, const char* const* argv, const std::vector<OptionSpec>& options,
                                     std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view word = argv[i];
        if (word == "--help" || word == "-h") return CommandLineResult::Help;
        if (word.size() < 3 || word.substr(0, 2) != "--") {
            *error = "unexpected argument '" + std::string(word) + "' (options start with --; see --help)";
            return CommandLineResult::Refused;
        }
        std::string_view name = word.substr(2);
        std::string_view value;
        bool has_inline_value = false;
        if (size_t eq = name.find('='); eq != std::string_view::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            has_inline_value = true;
        }
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& o : options)
            if (name == o.name) spec = &o;
        if (!spec) {
            *error = "unknown option '--" + std::string(name) + "' (see --help)";
            return CommandLineResult::Refused;
        }
        if (!spec->takes_value && has_inline_value) {
            *error = "--" + std::string(name) + " takes no value";
            return CommandLineResult::Refused;
        }
        if (spec->takes_value && !has_inline_value) {
            if (i + 1 >= argc) {
                *error = "--" + std::string(name) + " needs a value";
                return CommandLineResult::Refused;
            }
            value = argv[++i];
        }
        std::string why;
        if (!spec->apply(value, &why)) {
            *error = "--" + std::string(name);
            if (spec->takes_value) *error += " '" + std::string(value) + "'";
            *error += ": " + why;
            return CommandLineResult::Refused;
        }
    }
    return CommandLineResult::Run;
}

int command_line_exit_status(CommandLineResult result, const std::string& message, const char* program) {
    switch (result) {
        case CommandLineResult::Help: std::fputs(message.c_str(), stdout); return 0;
        case CommandLineResult::Refused: std::fprintf(stderr, "%s: %s\n", program, message.c_str()); return 2;
        case CommandLineResult::Run: break;
    }
    return -1;
}

namespace {

// The whole text as an integer, no sign, no spaces.
bool whole_int(std::string_view text, long long* value) {
    if (text.empty() || text[0] == '+' || text[0] == '-') return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return ec == std::errc() && end == text.data() + text.size();
}

// The whole text as a finite decimal number (digits with at most one point).
bool whole_decimal(std::string_view text, double* value) {
    if (text.empty()) return false;
    int points = 0, digits = 0;
    for (char c : text) {
        if (c == '.') ++points;
        else if (c >= '0' && c <= '9') ++digits;
        else return false;
    }
    if (points > 1 || digits == 0) return false;
    *value = std::strtod(std::string(text).c_str(), nullptr);  // the digits alone: locale-free
    return std::isfinite(*value);
}

}  // namespace

bool parse_int_in(std::string_view text, int low, int high, int* value, std::string* why) {
    long long v = 0;
    if (!whole_int(text, &v)) {
        *why = "expected a whole number";
        return false;
    }
    if (v < low || v > high) {
        *why = "must be " + std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    *value = static_cast<int>(v);
    return true;
}

bool parse_size(std::string_view text, int* width, int* height, std::string* why) {
    size_t x = text.find('x');
    long long w = 0, h = 0;
    if (x == std::string_view::npos || !whole_int(text.substr(0, x), &w) || !whole_int(text.substr(x + 1), &h)) {
        *why = "expected WIDTHxHEIGHT, for example 1920x1080";
        return false;
    }
    if (w < 16 || h < 16 || w > 8192 || h > 8192) {
        *why = "width and height must each be 16 to 8192 pixels";
        return false;
    }
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

bool parse_row(std::string_view text, double* row, std::string* why) {
    double r = 0.0;
    if (!whole_decimal(text, &r)) {
        *why = "expected a row number, for example 256 or 322.67";
        return false;
    }
    if (r > kLastRow + 0.005) {  // "1266.67" names the end
        *why = "past the end of the music (row 1266.67)";
        return false;
    }
    *row = std::min(r, kLastRow);
    return true;
}

bool parse_row_range(std::string_view text, double* from, double* to, std::string* why) {
    size_t dash = text.find('-');
    if (dash == std::string_view::npos) {
        *why = "expected FIRST-LAST rows, for example 256-322";
        return false;
    }
    double a = 0.0, b = 0.0;
    if (!parse_row(text.substr(0, dash), &a, why) || !parse_row(text.substr(dash + 1), &b, why)) return false;
    if (!(a < b)) {
        *why = "the first row must come before the last";
        return false;
    }
    *from = a;
    *to = b;
    return true;
}

bool parse_on_off(std::string_view text, bool* value, std::string* why) {
    int index = 0;
    if (!parse_choice(text, {"on", "off"}, &index, why)) return false;
    *value = index == 0;
    return true;
}

bool parse_choice(std::string_view text, const std::vector<const char*>& choices, int* index, std::string* why) {
    for (size_t i = 0; i < choices.size(); ++i) {
        if (text == choices[i]) {
            *index = static_cast<int>(i);
            return true;
        }
    }
    *why = "expected one of";
    for (size_t i = 0; i < choices.size(); ++i) *why += std::string(i ? ", " : " ") + choices[i];
    return false;
}

bool parse_seek(std::string_view text, SeekMode* mode, std::string* why) {
    int index = 0;
    if (!parse_choice(text, {"run", "jump"}, &index, why)) return false;
    *mode = index == 0 ? SeekMode::Run : SeekMode::Jump;
    return true;
}

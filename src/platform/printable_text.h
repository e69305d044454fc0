// Text from an input file, made safe to put inside a one-line message: control
// characters become escapes (\n, \t, \r, \xNN); every other byte, UTF-8
// included, stays as it is. Header only, so the build-time tools share it.
#pragma once
#include <string>
#include <string_view>

inline std::string printable_text(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char ch : text) {
        if (ch == '\n') out += "\\n";
        else if (ch == '\t') out += "\\t";
        else if (ch == '\r') out += "\\r";
        else if (ch < 0x20 || ch == 0x7F) out += {'\\', 'x', hex[ch >> 4], hex[ch & 15]};
        else out += static_cast<char>(ch);
    }
    return out;
}

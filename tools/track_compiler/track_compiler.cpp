#include "track_compiler.h"

#include <tinyxml2.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/printable_text.h"

namespace {

struct Context {
    const std::string& file;
    std::string& error;

    bool fail(int line, const std::string& what) {
        error = file + ":" + std::to_string(line) + ": " + what;
        return false;
    }
};

// Input text in a message, cut to about 80 characters (never inside a UTF-8
// sequence), its control characters escaped so that the message stays one line.
std::string shown(std::string_view s) {
    size_t cut = s.size();
    if (cut > 80) {
        cut = 77;
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    }
    std::string out = printable_text(s.substr(0, cut));
    if (cut < s.size()) out += "...";
    return out;
}

std::string quoted(std::string_view s) {
    std::string out(1, '"');
    out += shown(s);
    out += '"';
    return out;
}

void append_utf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// An attribute's text as written, with the named and numeric character
// references resolved. The document is parsed without resolving them, because
// a resolved "&#0;" would end the text where it stands and hide what follows;
// here it becomes a 0 byte inside the text, which no number parse accepts.
std::string resolve_references(std::string_view raw) {
    static constexpr std::pair<std::string_view, char> named[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    std::string out;
    for (size_t i = 0; i < raw.size();) {
        size_t end = raw[i] == '&' ? raw.find(';', i) : std::string_view::npos;
        if (end != std::string_view::npos) {
            std::string_view ref = raw.substr(i + 1, end - i - 1);
            bool resolved = false;
            for (auto [name, ch] : named)
                if (ref == name) out += ch, resolved = true;
            if (!resolved && ref.size() > 1 && ref[0] == '#') {
                const bool hex = ref[1] == 'x';
                std::string_view digits = ref.substr(hex ? 2 : 1);
                uint32_t code = 0;
                auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
                if (ec == std::errc() && ptr == digits.data() + digits.size() && !digits.empty() && code <= 0x10FFFF) {
                    append_utf8(out, code);
                    resolved = true;
                }
            }
            if (resolved) {
                i = end + 1;
                continue;
            }
        }
        out += raw[i++];
    }
    return out;
}

// The editor saves <tracks> as the root or inside a wrapper (<sync>,
// <rootElement>); look two levels down.
const tinyxml2::XMLElement* find_tracks(const tinyxml2::XMLElement* root) {
    if (std::string_view(root->Name()) == "tracks") return root;
    for (auto* child = root->FirstChildElement(); child; child = child->NextSiblingElement()) {
        if (std::string_view(child->Name()) == "tracks") return child;
        if (auto* inner = child->FirstChildElement("tracks")) return inner;
    }
    return nullptr;
}

// Whole-string parses: no sign tricks, spaces or trailing text are accepted.
template <typename T>
bool parse_whole(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && ptr != text.data();
}

bool read_key(Context& ctx, const tinyxml2::XMLElement* key, const std::string& track_label, TrackKey& out) {
    const char* text[3];
    static constexpr const char* attrs[3] = {"row", "value", "interpolation"};
    for (int i = 0; i < 3; ++i) {
        text[i] = key->Attribute(attrs[i]);
        if (!text[i]) return ctx.fail(key->GetLineNum(), track_label + ": <key> has no " + quoted(attrs[i]) + " attribute");
    }
    int32_t row;
    if (!parse_whole(resolve_references(text[0]), row))
        return ctx.fail(key->GetLineNum(), track_label + ": row " + quoted(text[0]) + " is not a whole number");
    float value;
    if (!parse_whole(resolve_references(text[1]), value) || !std::isfinite(value))
        return ctx.fail(key->GetLineNum(), track_label + ": value " + quoted(text[1]) + " at row " + std::to_string(row) +
                                               " is not a finite number");
    int interpolation;
    if (!parse_whole(resolve_references(text[2]), interpolation) || interpolation < KEY_STEP || interpolation > KEY_RAMP)
        return ctx.fail(key->GetLineNum(), track_label + ": interpolation " + quoted(text[2]) + " at row " +
                                               std::to_string(row) + " is not 0, 1, 2 or 3");
    out = TrackKey{row, value, static_cast<int8_t>(interpolation)};
    return true;
}

bool read_track(Context& ctx, const tinyxml2::XMLElement* track, std::vector<TrackKey>& keys, const std::string& label) {
    for (auto* key = track->FirstChildElement("key"); key; key = key->NextSiblingElement("key")) {
        TrackKey k;
        if (!read_key(ctx, key, label, k)) return false;
        if (!keys.empty() && k.row <= keys.back().row)
            return ctx.fail(key->GetLineNum(), label + ": key at row " + std::to_string(k.row) + " follows row " +
                                                   std::to_string(keys.back().row) +
                                                   "; rows must be strictly ascending");
        keys.push_back(k);
    }
    return true;
}

}  // namespace

bool compile_timeline(const char* xml, const std::string& file_label, CompiledTimeline& out, std::string& error) {
    Context ctx{file_label, error};
    out = CompiledTimeline{};

    tinyxml2::XMLDocument doc(/*processEntities=*/false);
    if (doc.Parse(xml) != tinyxml2::XML_SUCCESS) {
        std::string what = std::string("malformed XML: ") + doc.ErrorName();
        // The parser's long form ends with the element it was in.
        const std::string detail = doc.ErrorStr();
        const std::string element_tag = "XMLElement name=";
        if (size_t at = detail.find(element_tag); at != std::string::npos) {
            // A name holds no white space; what follows it is not the name.
            std::string_view name = std::string_view(detail).substr(at + element_tag.size());
            what += " in <" + shown(name.substr(0, name.find_first_of(" \t\r\n"))) + ">";
        }
        return ctx.fail(std::max(1, doc.ErrorLineNum()), what);
    }
    const tinyxml2::XMLElement* root = doc.RootElement();
    if (!root) return ctx.fail(1, "malformed XML: no root element");
    const tinyxml2::XMLElement* tracks = find_tracks(root);
    if (!tracks) return ctx.fail(root->GetLineNum(), "no <tracks> element");

    int seen_at_line[TRACK_COUNT] = {};
    for (auto* track = tracks->FirstChildElement("track"); track; track = track->NextSiblingElement("track")) {
        const char* raw_name = track->Attribute("name");
        if (!raw_name) return ctx.fail(track->GetLineNum(), "<track> has no \"name\" attribute");
        std::string label = "track " + quoted(raw_name);
        int slot = track_slot(resolve_references(raw_name));
        if (slot < 0) return ctx.fail(track->GetLineNum(), label + " is not one of the 32 timeline tracks");
        if (seen_at_line[slot])
            return ctx.fail(track->GetLineNum(), label + " appears twice (first at line " +
                                                     std::to_string(seen_at_line[slot]) + ")");
        seen_at_line[slot] = track->GetLineNum();
        if (!read_track(ctx, track, out.tracks[slot], label)) return false;
    }
    for (int slot = 0; slot < TRACK_COUNT; ++slot)
        if (!seen_at_line[slot])
            return ctx.fail(tracks->GetLineNum(), "track " + quoted(track_name_table[slot]) + " is missing");
    return true;
}

bool write_track_files(const CompiledTimeline& timeline, const std::string& directory, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(directory, ec);
    if (ec) {
        error = directory + ": cannot be created: " + ec.message();
        return false;
    }
    for (int slot = 0; slot < TRACK_COUNT; ++slot) {
        const std::vector<TrackKey>& keys = timeline.tracks[slot];
        std::vector<unsigned char> bytes = write_track_file(keys.data(), keys.size());
        std::string path = (fs::path(directory) / track_file_name(track_name_table[slot])).string();
        {
            std::ofstream file(path, std::ios::binary | std::ios::trunc);
            file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            if (!file.flush()) {
                error = path + ": cannot be written";
                return false;
            }
        }
        std::ifstream back(path, std::ios::binary);
        std::vector<unsigned char> written{std::istreambuf_iterator<char>(back), std::istreambuf_iterator<char>()};
        if (written != bytes) {
            error = path + ": holds " + std::to_string(written.size()) + " bytes where its " +
                    std::to_string(keys.size()) + " keys need " + std::to_string(bytes.size());
            return false;
        }
    }
    return true;
}

// The timeline compiler: what it refuses and how it says so, the editor's
// variants it accepts, and that every key of the shipped project comes back
// exactly through the track files and the track player.
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/sync_track_fixture.h"
#include "app/sync_tracks.h"
#include "track_compiler.h"

namespace fs = std::filesystem;

namespace {

// A project in which every track but `skip` has one key, with `first` right
// after the <tracks> line: the text of `first` starts on line 3.
std::string project(const std::string& first, const char* skip = nullptr) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<tracks>\n" + first;
    for (const char* name : track_name_table)
        if (!skip || std::string(name) != skip)
            xml += std::string("<track name=\"") + name + "\"><key row=\"0\" value=\"1\" interpolation=\"0\"/></track>\n";
    return xml + "</tracks>\n";
}

std::string part_keys(const std::string& keys) { return "<track name=\"part\">\n" + keys + "</track>\n"; }

std::string key(const char* row, const char* value, const char* interpolation) {
    return std::string("<key row=\"") + row + "\" value=\"" + value + "\" interpolation=\"" + interpolation + "\"/>\n";
}

struct Refusal {
    const char* what;
    std::string xml;
    std::string message;
};

TEST(TrackCompiler, RefusesWithFileLineAndTrack) {
    const Refusal cases[] = {
        {"unknown track", project("<track name=\"cam:q\"/>\n"),
         "bad.rocket:3: track \"cam:q\" is not one of the 32 timeline tracks"},
        {"missing track", project("", "light"), "bad.rocket:2: track \"light\" is missing"},
        {"track twice", project(part_keys("") + part_keys(""), "part"),
         "bad.rocket:5: track \"part\" appears twice (first at line 3)"},
        {"track without a name", project("<track/>\n"), "bad.rocket:3: <track> has no \"name\" attribute"},
        {"equal rows", project(part_keys(key("4", "0", "0") + key("4", "1", "0")), "part"),
         "bad.rocket:5: track \"part\": key at row 4 follows row 4; rows must be strictly ascending"},
        {"descending rows", project(part_keys(key("10", "0", "0") + key("12", "0", "0") + key("5", "1", "0")), "part"),
         "bad.rocket:6: track \"part\": key at row 5 follows row 12; rows must be strictly ascending"},
        {"interpolation 4", project(part_keys(key("0", "0", "4")), "part"),
         "bad.rocket:4: track \"part\": interpolation \"4\" at row 0 is not 0, 1, 2 or 3"},
        {"interpolation -1", project(part_keys(key("7", "0", "-1")), "part"),
         "bad.rocket:4: track \"part\": interpolation \"-1\" at row 7 is not 0, 1, 2 or 3"},
        {"interpolation 1.5", project(part_keys(key("0", "0", "1.5")), "part"),
         "bad.rocket:4: track \"part\": interpolation \"1.5\" at row 0 is not 0, 1, 2 or 3"},
        {"value text", project(part_keys(key("3", "abc", "0")), "part"),
         "bad.rocket:4: track \"part\": value \"abc\" at row 3 is not a finite number"},
        {"value nan", project(part_keys(key("3", "nan", "0")), "part"),
         "bad.rocket:4: track \"part\": value \"nan\" at row 3 is not a finite number"},
        {"value inf", project(part_keys(key("3", "-inf", "0")), "part"),
         "bad.rocket:4: track \"part\": value \"-inf\" at row 3 is not a finite number"},
        {"value beyond single precision", project(part_keys(key("3", "1e39", "0")), "part"),
         "bad.rocket:4: track \"part\": value \"1e39\" at row 3 is not a finite number"},
        {"value with trailing text", project(part_keys(key("3", "2.5x", "0")), "part"),
         "bad.rocket:4: track \"part\": value \"2.5x\" at row 3 is not a finite number"},
        {"a reference to character 0 does not end the value", project(part_keys(key("3", "0.6&#0;junk", "0")), "part"),
         "bad.rocket:4: track \"part\": value \"0.6&#0;junk\" at row 3 is not a finite number"},
        {"long input is cut in the message", project(part_keys(key("3", (std::string(100, '7') + "x").c_str(), "0")), "part"),
         "bad.rocket:4: track \"part\": value \"" + std::string(77, '7') + "...\" at row 3 is not a finite number"},
        {"a value over several lines stays one line in the message", project(part_keys(key("3", "1.5\n\t2\x01", "0")), "part"),
         "bad.rocket:4: track \"part\": value \"1.5\\n\\t2\\x01\" at row 3 is not a finite number"},
        {"empty value", project(part_keys(key("3", "", "0")), "part"),
         "bad.rocket:4: track \"part\": value \"\" at row 3 is not a finite number"},
        {"fractional row", project(part_keys(key("1.5", "0", "0")), "part"),
         "bad.rocket:4: track \"part\": row \"1.5\" is not a whole number"},
        {"missing value", project(part_keys("<key row=\"0\" interpolation=\"0\"/>\n"), "part"),
         "bad.rocket:4: track \"part\": <key> has no \"value\" attribute"},
        {"unclosed element", project("<track name=\"part\">\n<key row=\"0\" value=\"0\" interpolation=\"0\">\n</track>\n", "part"),
         "bad.rocket:4: malformed XML: XML_ERROR_MISMATCHED_ELEMENT in <key>"},
        {"broken attribute", "<tracks>\n<track name=part>\n</track>\n</tracks>\n",
         "bad.rocket:2: malformed XML: XML_ERROR_PARSING_ATTRIBUTE in <track>"},
        {"empty file", "", "bad.rocket:1: malformed XML: XML_ERROR_EMPTY_DOCUMENT"},
        {"no tracks element", "<?xml version=\"1.0\"?>\n<sync rows=\"128\">\n<bookmarks/>\n</sync>\n",
         "bad.rocket:2: no <tracks> element"},
    };
    for (const Refusal& c : cases) {
        CompiledTimeline out;
        std::string error;
        EXPECT_FALSE(compile_timeline(c.xml.c_str(), "bad.rocket", out, error)) << c.what;
        EXPECT_EQ(error, c.message) << c.what;
    }
}

// What the editor writes around the tracks varies between its versions.
TEST(TrackCompiler, AcceptsTheEditorsWrappersAndAttributes) {
    const std::string tracks_body = project(part_keys("<key row=\"2\" value=\"0.500000\" interpolation=\"1\"/>\n"
                                                      "<key row=\"9\" value=\"&#x2D;&#51;\" interpolation=\"3\" extra=\"x\"/>\n"),
                                            "part");
    const std::string inner = tracks_body.substr(tracks_body.find("<tracks>"));
    const std::string inner_attrs =
        "<tracks rows=\"10000\" startRow=\"0\" endRow=\"10000\" highlightRowStep=\"8\">" + inner.substr(8);
    const std::string variants[] = {
        tracks_body,
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<sync rows=\"1280\">\n" + inner + "<bookmarks/>\n</sync>\n",
        "<rootElement>\n" + inner_attrs + "</rootElement>\n",
        "<rootElement><sync rows=\"64\">" + inner + "</sync></rootElement>\n",
    };
    for (const std::string& xml : variants) {
        CompiledTimeline out;
        std::string error;
        ASSERT_TRUE(compile_timeline(xml.c_str(), "ok.rocket", out, error)) << error << "\n" << xml;
        const std::vector<TrackKey>& part = out.tracks[TRACK_PART];
        ASSERT_EQ(part.size(), 2u);
        EXPECT_EQ(part[0].row, 2);
        EXPECT_EQ(part[0].value, 0.5f);
        EXPECT_EQ(part[0].type, KEY_LINEAR);
        EXPECT_EQ(part[1].row, 9);
        EXPECT_EQ(part[1].value, -3.0f);
        EXPECT_EQ(part[1].type, KEY_RAMP);
        EXPECT_EQ(out.tracks[TRACK_LIGHT].size(), 1u);
    }
}

std::vector<unsigned char> read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

fs::path fresh_dir(const char* name) {
    fs::path dir = fs::path(::testing::TempDir()) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// XML -> track files -> track player: every key of the shipped project, by an
// independent reading of the XML, comes back at its row with its exact value.
TEST(TrackCompiler, ShippedProjectRoundTripsEveryKeyExactly) {
    const std::string xml = read_text(TIMELINE_SOURCE);
    CompiledTimeline timeline;
    std::string error;
    ASSERT_TRUE(compile_timeline(xml.c_str(), TIMELINE_SOURCE, timeline, error)) << error;
    const fs::path dir = fresh_dir("timeline_round_trip");
    ASSERT_TRUE(write_track_files(timeline, dir.string(), error)) << error;

    TrackTableFixture table;
    for (int slot = 0; slot < TRACK_COUNT; ++slot) {
        const std::string name = track_file_name(track_name_table[slot]);
        std::vector<unsigned char> bytes = read_bytes(dir / name);
        ASSERT_EQ(bytes.size(), 4 + 9 * timeline.tracks[slot].size()) << name;
        // The build embedded what the compiler makes from the same source.
        ASSERT_EQ(std::vector<unsigned char>(track_files[slot].bytes, track_files[slot].bytes + track_files[slot].size),
                  bytes)
            << name << " differs from the embedded file";
        table.add_file(name, std::move(bytes));
    }
    ASSERT_TRUE(table.open());

    tinyxml2::XMLDocument doc;
    ASSERT_EQ(doc.Parse(xml.c_str()), tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement* tracks = doc.RootElement()->FirstChildElement("tracks");
    ASSERT_NE(tracks, nullptr);
    int keys_seen = 0;
    for (auto* t = tracks->FirstChildElement("track"); t; t = t->NextSiblingElement("track")) {
        const int slot = track_slot(t->Attribute("name"));
        ASSERT_GE(slot, 0) << t->Attribute("name");
        for (auto* k = t->FirstChildElement("key"); k; k = k->NextSiblingElement("key")) {
            const int row = std::atoi(k->Attribute("row"));
            const float value = std::strtof(k->Attribute("value"), nullptr);
            EXPECT_EQ(track_value(static_cast<TrackSlot>(slot), float(row)), double(value))
                << t->Attribute("name") << " row " << row;
            ++keys_seen;
        }
    }
    size_t keys_compiled = 0;
    for (const auto& keys : timeline.tracks) keys_compiled += keys.size();
    EXPECT_EQ(size_t(keys_seen), keys_compiled);
    destroy_sync_tracks();
}

// The command line the build runs: a refused project fails with its message.
TEST(TrackCompiler, CommandFailsTheBuildOnARefusedProject) {
    const fs::path dir = fresh_dir("timeline_command");
    const fs::path bad = dir / "bad.rocket";
    std::ofstream(bad) << project(part_keys(key("0", "0", "9")), "part");
    const fs::path log = dir / "stderr.txt";
    const std::string run_bad =
        std::string(TRACK_COMPILER) + " " + bad.string() + " " + (dir / "out_bad").string() + " 2>" + log.string();
    const int status = std::system(run_bad.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    EXPECT_EQ(read_text(log), bad.string() + ":4: track \"part\": interpolation \"9\" at row 0 is not 0, 1, 2 or 3\n");
    EXPECT_FALSE(fs::exists(dir / "out_bad" / "sync_part.track")) << "nothing is written for a refused project";

    // A directory opens like a file and reads as empty; it is not an empty project.
    const std::string run_dir =
        std::string(TRACK_COMPILER) + " " + dir.string() + " " + (dir / "out_dir").string() + " 2>" + log.string();
    const int dir_status = std::system(run_dir.c_str());
    EXPECT_TRUE(WIFEXITED(dir_status) && WEXITSTATUS(dir_status) == 1);
    EXPECT_EQ(read_text(log), dir.string() + ": cannot be read: it is a directory\n");

    const fs::path good = dir / "good.rocket";
    std::ofstream(good) << project("");
    const std::string run_good = std::string(TRACK_COMPILER) + " " + good.string() + " " + (dir / "out").string();
    EXPECT_EQ(std::system(run_good.c_str()), 0);
    for (const char* name : track_name_table)
        EXPECT_EQ(fs::file_size(dir / "out" / track_file_name(name)), 4u + 9u) << name;
}

TEST(TrackCompiler, ReportsAnOutputDirectoryItCannotMake) {
    const fs::path dir = fresh_dir("timeline_blocked");
    std::ofstream(dir / "file") << "x";
    CompiledTimeline timeline;
    std::string error;
    EXPECT_FALSE(write_track_files(timeline, (dir / "file" / "tracks").string(), error));
    EXPECT_NE(error.find((dir / "file" / "tracks").string()), std::string::npos) << error;
}

}  // namespace

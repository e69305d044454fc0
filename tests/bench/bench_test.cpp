// velmo-bench: its command line as a table, and the program on a few rows
// around the first scene, read back from its JSON.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bench_options.h"
#include "support/tool_command_line.h"

namespace {

const std::vector<OptionCase<BenchOptions>> option_cases = {
    {{}, nullptr,
     [](const BenchOptions& o) {
         EXPECT_EQ(o.width * 10000 + o.height, 19201080);
         EXPECT_EQ(o.from_row, 0.0);
         EXPECT_NEAR(o.to_row, 1266.6667, 1e-3);
         EXPECT_FALSE(o.json);
         EXPECT_EQ(o.seek, SeekMode::Run);
     }},
    {{"--rows", "256-322.5", "--json"}, nullptr,
     [](const BenchOptions& o) {
         EXPECT_EQ(o.from_row, 256.0);
         EXPECT_EQ(o.to_row, 322.5);
         EXPECT_TRUE(o.json);
     }},
    {{"--rows=0-1266.67", "--size=1280x720", "--antialias", "off", "--seek", "jump"}, nullptr,
     [](const BenchOptions& o) {
         EXPECT_EQ(o.width, 1280);
         EXPECT_FALSE(o.antialias);
         EXPECT_EQ(o.seek, SeekMode::Jump);
     }},
    {{"--rows", "300-200"}, "--rows '300-200': the first row must come before the last", nullptr},
    {{"--rows", "256"}, "expected FIRST-LAST rows", nullptr},
    {{"--rows", "a-b"}, "expected a row number", nullptr},
    {{"--rows", "0-2000"}, "past the end of the music", nullptr},
    {{"--size", "1920x"}, "expected WIDTHxHEIGHT", nullptr},
    {{"--json=yes"}, "--json takes no value", nullptr},
    {{"--fps", "30"}, "unknown option '--fps'", nullptr},
    {{"--rows"}, "--rows needs a value", nullptr},
};

TEST(BenchOptions, EachGoodValueIsTakenAndEachBadOneRefusedInOneLine) {
    expect_option_table("velmo-bench", option_cases, parse_bench_options, CommandLineResult::Run,
                        CommandLineResult::Refused);
}

void expect_summary(const nlohmann::json& s, const std::string& where) {
    SCOPED_TRACE(where);
    ASSERT_TRUE(s.is_object());
    const double mean = s["mean"], median = s["median"], p99 = s["p99"], max = s["max"];
    EXPECT_GE(median, 0.0);
    EXPECT_LE(median, p99);
    EXPECT_LE(p99, max);
    EXPECT_LE(mean, max);
    EXPECT_GT(max, 0.0);
}

// Rows 250 to 262: the end of the intro's flicker between parts 0 and 1 and
// the first rows of the scene part: 1.8 s, 108 frames at 60 fps.
TEST(BenchRun, JsonHasEveryStagePerSectionAndForTheWholeRun) {
    int status = -1;
    const std::string text = command_output(
        std::string("'") + VELMO_BENCH + "' --rows 250-262 --size 64x36 --seek jump --json 2>/dev/null", &status);
    ASSERT_EQ(status, 0);
    nlohmann::json out = nlohmann::json::parse(text, nullptr, false);
    ASSERT_FALSE(out.is_discarded()) << text;

    EXPECT_EQ(out["whole"]["frames"], 108);
    const char* stages[] = {"update", "draw", "post", "frame"};
    for (const char* stage : stages) expect_summary(out["whole"]["cpu_ms"][stage], std::string("whole ") + stage);
    if (out["gpu_timer"] == true)
        for (const char* stage : stages) expect_summary(out["whole"]["gpu_ms"][stage], std::string("gpu ") + stage);

    // Sections: part 0 and part 1 with "param" 1, then the scene part's first scene type.
    int frames = 0;
    std::vector<std::pair<int, int>> keys;
    for (const auto& s : out["sections"]) {
        keys.push_back({s["part"], s["param"]});
        frames += s["frames"].get<int>();
        expect_summary(s["cpu_ms"]["frame"], "section frame");
        EXPECT_LE(s["rows"][0].get<double>(), s["rows"][1].get<double>());
    }
    EXPECT_EQ(frames, 108) << "every frame in one section";
    const std::vector<std::pair<int, int>> expected = {{1, 1}, {0, 1}, {2, 1}};
    EXPECT_EQ(keys, expected);
    EXPECT_NEAR(out["sections"][2]["rows"][0].get<double>(), 256.0, 1e-3) << "the scene starts on row 256";

    for (const char* stage : {"part_init", "models", "spectrum", "music", "fft_plan", "total"})
        EXPECT_GE(out["load_step_ms"][stage].get<double>(), 0.0) << stage;
    EXPECT_GT(out["load_step_ms"]["music"].get<double>(), 0.0) << "the decode takes time";
    EXPECT_GT(out["peak_rss_mib"].get<double>(), 64.0) << "the decoded music alone is 64 MiB";
}

}  // namespace

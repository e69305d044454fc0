// velmo-capture: its command line as a table, and the program itself on a few
// rows of the show: a lossless video that holds exactly the PNG frames and the
// decoded music, an H.264 and AAC video a player reads, a contact sheet, and
// failed runs that leave nothing under the requested name.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "audio/music.h"
#include "capture_options.h"
#include "contact_sheet.h"
#include "platform/embedded.h"
#include "support/tool_command_line.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

extern "C" const EmbeddedFile music_files[];

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// The command line

void expect_defaults(const CaptureOptions& o) {
    EXPECT_EQ(o.format, CaptureFormat::Video);
    EXPECT_EQ(o.out, "velmo.mp4");
    EXPECT_EQ(o.width, 1920);
    EXPECT_EQ(o.height, 1080);
    EXPECT_EQ(o.fps, 60);
    EXPECT_EQ(o.from_row, 0.0);
    EXPECT_NEAR(o.to_row, 1266.6667, 1e-3);
    EXPECT_TRUE(o.antialias);
    EXPECT_EQ(o.seek, SeekMode::Run);
}

const std::vector<OptionCase<CaptureOptions>> option_cases = {
    {{}, nullptr, expect_defaults},
    {{"--size", "640x360"}, nullptr, [](const CaptureOptions& o) { EXPECT_EQ(o.width * 10000 + o.height, 6400360); }},
    {{"--size=320x180", "--fps=30"}, nullptr,
     [](const CaptureOptions& o) { EXPECT_EQ(o.width + o.height + o.fps, 530); }},
    {{"--from-row", "256", "--to-row", "322.67"}, nullptr,
     [](const CaptureOptions& o) { EXPECT_EQ(o.from_row, 256.0); EXPECT_EQ(o.to_row, 322.67); }},
    {{"--to-row", "1266.67"}, nullptr, [](const CaptureOptions& o) { EXPECT_NEAR(o.to_row, 1266.6667, 1e-3); }},
    {{"--format", "sheet"}, nullptr,
     [](const CaptureOptions& o) {
         EXPECT_EQ(o.out, "sheet.png");
         EXPECT_EQ(o.width * 10000 + o.height, 3200180) << "a picture of the sheet";
         EXPECT_EQ(o.every_rows, 32.0);
     }},
    {{"--format", "frames", "--every", "4", "--out", "shots"}, nullptr,
     [](const CaptureOptions& o) { EXPECT_EQ(o.every_rows, 4.0); EXPECT_EQ(o.out, "shots"); }},
    {{"--format", "lossless", "--size", "63x35"}, nullptr,
     [](const CaptureOptions& o) { EXPECT_EQ(o.out, "velmo.mkv"); EXPECT_EQ(o.width, 63); }},
    {{"--antialias", "off", "--seek", "jump", "--ffmpeg", "/opt/ffmpeg"}, nullptr,
     [](const CaptureOptions& o) {
         EXPECT_FALSE(o.antialias);
         EXPECT_EQ(o.seek, SeekMode::Jump);
         EXPECT_EQ(o.ffmpeg, "/opt/ffmpeg");
     }},
    {{"--size", "19x"}, "--size '19x': expected WIDTHxHEIGHT", nullptr},
    {{"--size", "640X360"}, "expected WIDTHxHEIGHT", nullptr},
    {{"--size", "-640x360"}, "expected WIDTHxHEIGHT", nullptr},
    {{"--size", "8x8"}, "16 to 8192", nullptr},
    {{"--size", "9000x100"}, "16 to 8192", nullptr},
    {{"--size", "641x360"}, "even width and height", nullptr},
    {{"--fps", "0"}, "--fps '0': must be 1 to 240", nullptr},
    {{"--fps", "241"}, "must be 1 to 240", nullptr},
    {{"--fps", "29.97"}, "expected a whole number", nullptr},
    {{"--from-row", "-1"}, "expected a row number", nullptr},
    {{"--from-row", "1e3"}, "expected a row number", nullptr},
    {{"--to-row", "1300"}, "past the end of the music", nullptr},
    {{"--from-row", "300", "--to-row", "200"}, "--from-row must come before --to-row", nullptr},
    {{"--from-row", "200", "--to-row", "200"}, "must come before", nullptr},
    {{"--format", "sheet", "--every", "0"}, "--every '0': must be more than 0 rows", nullptr},
    {{"--every", "4"}, "a video keeps every frame", nullptr},
    {{"--format", "gif"}, "expected one of video, lossless, frames, sheet", nullptr},
    {{"--antialias", "yes"}, "expected one of on, off", nullptr},
    {{"--seek", "fast"}, "expected one of run, jump", nullptr},
    {{"--columns", "0"}, "must be 1 to 64", nullptr},
    {{"--out", ""}, "needs a path", nullptr},
    {{"--size"}, "--size needs a value", nullptr},
    {{"--bogus"}, "unknown option '--bogus'", nullptr},
    {{"sheet.png"}, "unexpected argument 'sheet.png'", nullptr},
};

TEST(CaptureOptions, EachGoodValueIsTakenAndEachBadOneRefusedInOneLine) {
    expect_option_table("velmo-capture", option_cases, parse_capture_options, CommandLineResult::Run,
                        CommandLineResult::Refused);
    const char* help[] = {"velmo-capture", "--fps", "30", "--help"};
    CaptureOptions o;
    std::string message;
    EXPECT_EQ(parse_capture_options(4, help, &o, &message), CommandLineResult::Help);
    EXPECT_NE(message.find("--from-row"), std::string::npos);
}

// ---------------------------------------------------------------------------
// The program

struct Ran {
    int status;
    std::string out, err;
};

// Runs a shell command line with the tool's output and errors kept apart.
Ran run_shell(const std::string& command, const fs::path& dir) {
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    const std::string line = "( " + command + " ) >'" + out.string() + "' 2>'" + err.string() + "'";
    int raw = std::system(line.c_str());
    auto slurp = [](const fs::path& p) {
        std::ifstream in(p);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    };
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
}

std::string capture(const std::string& args) { return std::string("'") + VELMO_CAPTURE + "' " + args; }

// Bytes of everything ffmpeg decodes from one stream of a file.
std::string decode(const fs::path& file, const std::string& stream_and_format) {
    return command_output("ffmpeg -v error -i '" + file.string() + "' " + stream_and_format + " - 2>/dev/null");
}

std::string probe(const fs::path& file) {
    return command_output("ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,sample_rate,"
                          "channels:format=duration -of compact '" + file.string() + "'");
}

double probed_duration(const std::string& probed) {
    size_t at = probed.find("duration=");
    return at == std::string::npos ? -1.0 : std::atof(probed.c_str() + at + 9);
}

// The show's own decode of its music, as the playback device plays it.
std::vector<float> show_music() {
    select_playback_backend(&manual_playback_backend);
    start_music(music_files[0].bytes, music_files[0].size);
    std::vector<float> pcm(music_pcm(), music_pcm() + kPcmFrames * 2);
    music_shutdown();
    select_playback_backend(&sdl_playback_backend);
    return pcm;
}

class CaptureRun : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("velmo_capture_test_" + std::to_string(getpid()) + "_" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    // Files in the folder, the runner's own two logs left out.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            std::string n = e.path().filename().string();
            if (n != "stdout.txt" && n != "stderr.txt") names.push_back(n);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path dir_;
};

// Rows 256 to 258 at 30 frames per second: 0.3 s, frames 1152 to 1160.
constexpr const char* kShortRange = "--from-row 256 --to-row 258 --fps 30 --size 64x36 --seek jump";
constexpr int kShortFrames = 9;
constexpr int64_t kShortFirstMusicFrame = 1152 * 1470;  // row 256 is 38.4 s

TEST_F(CaptureRun, LosslessVideoHoldsExactlyThePngFramesAndTheShowsMusicFromTheFirstRow) {
    const fs::path frames = dir_ / "frames", video = dir_ / "short.mkv";
    Ran f = run_shell(capture(std::string(kShortRange) + " --format frames --out '" + frames.string() + "'"), dir_);
    ASSERT_EQ(f.status, 0) << f.err;
    Ran v = run_shell(capture(std::string(kShortRange) + " --format lossless --out '" + video.string() + "'"), dir_);
    ASSERT_EQ(v.status, 0) << v.err;

    const std::string probed = probe(video);
    EXPECT_NE(probed.find("codec_name=ffv1|codec_type=video|width=64|height=36"), std::string::npos) << probed;
    EXPECT_NE(probed.find("codec_name=pcm_f32le|codec_type=audio|sample_rate=44100|channels=2"), std::string::npos)
        << probed;

    // Every frame of the video is the PNG of the same show frame, byte for byte.
    const std::string pixels = decode(video, "-map 0:v -f rawvideo -pix_fmt rgba");
    const size_t frame_bytes = 64 * 36 * 4;
    ASSERT_EQ(pixels.size(), frame_bytes * kShortFrames);
    for (int i = 0; i < kShortFrames; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%06d.png", 1152 + i);
        int w = 0, h = 0, n = 0;
        unsigned char* png = stbi_load((frames / name).string().c_str(), &w, &h, &n, 4);
        ASSERT_NE(png, nullptr) << name;
        EXPECT_EQ(w * 1000 + h, 64036);
        EXPECT_EQ(std::memcmp(png, pixels.data() + frame_bytes * i, frame_bytes), 0) << name;
        stbi_image_free(png);
    }

    // The sound track is the show's decoded music from row 256, sample for sample.
    const std::string raw = decode(video, "-map 0:a -f f32le");
    ASSERT_EQ(raw.size(), size_t(kShortFrames) * 1470 * 2 * sizeof(float));
    std::vector<float> track(raw.size() / sizeof(float));
    std::memcpy(track.data(), raw.data(), raw.size());
    const std::vector<float> music = show_music();
    size_t differing = 0;
    for (size_t i = 0; i < track.size(); ++i)
        if (track[i] != music[kShortFirstMusicFrame * 2 + i]) ++differing;
    EXPECT_EQ(differing, 0u);
}

TEST_F(CaptureRun, H264VideoWithAacMusicIsWhatAPlayerReads) {
    const fs::path video = dir_ / "short.mp4";
    Ran v = run_shell(capture(std::string(kShortRange) + " --out '" + video.string() + "'"), dir_);
    ASSERT_EQ(v.status, 0) << v.err;
    EXPECT_NE(v.out.find("wrote " + video.string() + " (9 frames"), std::string::npos) << v.out;
    const std::string probed = probe(video);
    EXPECT_NE(probed.find("codec_name=h264|codec_type=video|width=64|height=36"), std::string::npos) << probed;
    EXPECT_NE(probed.find("codec_name=aac|codec_type=audio|sample_rate=44100|channels=2"), std::string::npos)
        << probed;
    EXPECT_NEAR(probed_duration(probed), 0.3, 0.03) << probed;
    EXPECT_EQ(files(), std::vector<std::string>{"short.mp4"}) << "nothing else left behind";
}

TEST_F(CaptureRun, ContactSheetHasOneLabelledPictureEveryNRows) {
    const fs::path sheet = dir_ / "sheet.png";
    // Rows 192 (the empty part), 224 (the shape effect), 256 (the scene): one
    // line of three pictures; ten frames a second keep the run short.
    Ran s = run_shell(capture("--format sheet --from-row 192 --to-row 260 --every 32 --fps 10 --size 64x36 "
                              "--seek jump --out '" + sheet.string() + "'"),
                      dir_);
    ASSERT_EQ(s.status, 0) << s.err;
    ContactSheet expected;
    contact_sheet_make(&expected, 64, 36, 8, 3);
    int w = 0, h = 0, n = 0;
    unsigned char* png = stbi_load(sheet.string().c_str(), &w, &h, &n, 4);
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(w, expected.width);
    EXPECT_EQ(h, expected.height);
    EXPECT_EQ(expected.columns, 3);
    // Each label strip holds light text, and the three pictures differ.
    auto tile_row = [&](int t, int y) {
        return png + ((expected.gap + y) * w + expected.gap + t * (64 + expected.gap)) * 4;
    };
    for (int t = 0; t < 3; ++t) {
        int lit = 0;
        for (int y = 36; y < 36 + expected.label_height; ++y)
            for (int x = 0; x < 64; ++x) lit += tile_row(t, y)[x * 4] > 200;
        EXPECT_GT(lit, 20) << "label of picture " << t;
    }
    auto same_picture = [&](int a, int b) {
        for (int y = 0; y < 36; ++y)
            if (std::memcmp(tile_row(a, y), tile_row(b, y), 64 * 4) != 0) return false;
        return true;
    };
    EXPECT_FALSE(same_picture(0, 1));
    EXPECT_FALSE(same_picture(1, 2));
    stbi_image_free(png);
}

struct FailureCase {
    const char* name;
    const char* before;  // shell words run first (a size limit, a fake ffmpeg)
    const char* args;
    const char* out;     // the requested name, in the test's folder
    const char* says;
};

const FailureCase failure_cases[] = {
    {"ffmpeg missing", "", "--ffmpeg /nonexistent/ffmpeg", "v.mp4", "cannot run ffmpeg ('/nonexistent/ffmpeg')"},
    // Reads part of the frames, then gives up.
    {"ffmpeg stops part-way", "printf '#!/bin/sh\\nhead -c 20000 >/dev/null\\nexit 3\\n' >fake && chmod +x fake;",
     "--ffmpeg ./fake", "v.mp4", "exit status 3"},
    // A 64 KiB file size limit stands in for a full disk.
    {"disk full, video", "ulimit -f 64;", "", "v.mp4", "File too large"},
    {"disk full, sheet", "ulimit -f 2;", "--format sheet --every 1", "s.png", "cannot write"},
};

TEST_F(CaptureRun, AFailedRunSaysWhyAndLeavesNoFileUnderTheRequestedName) {
    for (const FailureCase& c : failure_cases) {
        SCOPED_TRACE(c.name);
        const fs::path out = dir_ / c.out;
        Ran r = run_shell(std::string("cd '") + dir_.string() + "' && " + c.before + " " +
                              capture(std::string(kShortRange) + " " + c.args + " --out '" + out.string() + "'"),
                          dir_);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.err.rfind("velmo-capture: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        for (const std::string& f : files())
            EXPECT_TRUE(f == "fake") << "left behind: " << f;
        fs::remove(dir_ / "fake");
    }
}

}  // namespace

// velmo-bench: the show's frame timed stage by stage (see --help). Frames are
// driven by the manual clock at 60 frames per second, so every run measures
// the same frames. After each frame the tool waits for the GPU (glFinish,
// outside the timed stages): the CPU figures are the frame's own work, and the
// timer queries of that frame are ready to read.
#include <epoxy/gl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/frame_driver.h"
#include "app/sync_tracks.h"
#include "bench_options.h"
#include "common/show_run.h"

namespace {

using Clock = std::chrono::steady_clock;

// The three stages of a frame and the whole of it, between the frame driver's marks.
constexpr int kStageCount = 4;
constexpr const char* kStageNames[kStageCount] = {"update", "draw", "post", "frame"};
constexpr FrameMark kStageFrom[kStageCount] = {FRAME_MARK_BEGIN, FRAME_MARK_DRAW, FRAME_MARK_POST, FRAME_MARK_BEGIN};
constexpr FrameMark kStageTo[kStageCount] = {FRAME_MARK_DRAW, FRAME_MARK_POST, FRAME_MARK_END, FRAME_MARK_END};

constexpr int kLoadStageCount = 5;
constexpr const char* kLoadStageNames[kLoadStageCount] = {"part_init", "models", "spectrum", "music", "fft_plan"};

struct Marks {
    Clock::time_point cpu[FRAME_MARK_COUNT];
    bool gpu_timer = false;
    GLuint queries[FRAME_MARK_COUNT] = {};
};
Marks marks;

void on_mark(FrameMark m) {
    marks.cpu[m] = Clock::now();
    if (marks.gpu_timer && m <= FRAME_MARK_END) glQueryCounter(marks.queries[m], GL_TIMESTAMP);
}

double ms_between(FrameMark a, FrameMark b) {
    return std::chrono::duration<double, std::milli>(marks.cpu[b] - marks.cpu[a]).count();
}

struct Series {
    std::vector<double> cpu[kStageCount];
    std::vector<double> gpu[kStageCount];
};

struct Section {
    int part = 0, param = 0;  // the active part and "param" truncated toward zero
    double first_row = 0.0, last_row = 0.0;
    Series series;
};

struct Summary {
    double mean = 0, median = 0, p99 = 0, max = 0;
};

Summary summarise(std::vector<double> v) {
    Summary s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v) sum += x;
    s.mean = sum / static_cast<double>(v.size());
    s.median = v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
    // Nearest rank: the smallest value that at least 99 % of the frames do not exceed.
    s.p99 = v[static_cast<size_t>(std::ceil(0.99 * static_cast<double>(v.size()))) - 1];
    s.max = v.back();
    return s;
}

nlohmann::json summary_json(const Summary& s) {
    return {{"mean", s.mean}, {"median", s.median}, {"p99", s.p99}, {"max", s.max}};
}

nlohmann::json series_json(const Series& series, bool gpu) {
    nlohmann::json out;
    out["frames"] = series.cpu[0].size();
    for (int i = 0; i < kStageCount; ++i) out["cpu_ms"][kStageNames[i]] = summary_json(summarise(series.cpu[i]));
    if (gpu)
        for (int i = 0; i < kStageCount; ++i) out["gpu_ms"][kStageNames[i]] = summary_json(summarise(series.gpu[i]));
    else
        out["gpu_ms"] = nullptr;
    return out;
}

void print_series(FILE* report, const char* title, const Series& series, bool gpu) {
    std::fprintf(report, "%s  (%zu frames)\n", title, series.cpu[0].size());
    std::fprintf(report, "  %-12s %8s %8s %8s %8s\n", "ms", "mean", "median", "p99", "max");
    for (int pass = 0; pass < (gpu ? 2 : 1); ++pass) {
        for (int i = 0; i < kStageCount; ++i) {
            Summary s = summarise(pass ? series.gpu[i] : series.cpu[i]);
            std::string name = std::string(pass ? "gpu " : "cpu ") + kStageNames[i];
            std::fprintf(report, "  %-12s %8.3f %8.3f %8.3f %8.3f\n", name.c_str(), s.mean, s.median, s.p99,
                         s.max);
        }
    }
}

std::string section_title(const Section& s) {
    static const char* const parts[] = {"empty part", "shape effect", "scene"};
    char text[128];
    std::snprintf(text, sizeof text, "part %d (%s), %s %d, rows %.1f-%.1f", s.part, parts[s.part % 3],
                  s.part == 2 ? "scene type" : "param", s.param, s.first_row, s.last_row);
    return text;
}

void append(Series* series, const double* cpu, const double* gpu) {
    for (int i = 0; i < kStageCount; ++i) {
        series->cpu[i].push_back(cpu[i]);
        series->gpu[i].push_back(gpu[i]);
    }
}

}  // namespace

int main(int argc, char** argv) {
    BenchOptions o;
    std::string message;
    const int status =
        command_line_exit_status(parse_bench_options(argc, argv, &o, &message), message, "velmo-bench");
    if (status >= 0) return status;
    install_stop_handlers();
    // Standard output carries the figures alone: the show's own lines
    // ("decoding full mp3...") go to standard error meanwhile.
    FILE* report = stdout;
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    if (saved >= 0 && dup2(STDERR_FILENO, STDOUT_FILENO) >= 0) report = fdopen(saved, "w");
    if (!report) report = stdout;

    frame_mark_hook = on_mark;
    ShowRun run;
    // Timer queries need the context, so they start after the loading frame
    // and the run-up; those are timed on the CPU alone.
    if (!show_run_open({.width = o.width, .height = o.height, .fps = 60, .antialias = o.antialias,
                        .from_row = o.from_row, .to_row = o.to_row, .seek = o.seek, .window_title = "velmo-bench"},
                       &run, &message)) {
        std::fprintf(stderr, "velmo-bench: %s\n", message.c_str());
        return 1;
    }
    double load_ms[kLoadStageCount + 1];
    for (int i = 0; i < kLoadStageCount; ++i)
        load_ms[i] = ms_between(static_cast<FrameMark>(FRAME_MARK_LOAD_PARTS + i),
                                static_cast<FrameMark>(FRAME_MARK_LOAD_PARTS + i + 1));
    load_ms[kLoadStageCount] = ms_between(FRAME_MARK_LOAD_PARTS, FRAME_MARK_LOAD_END);

    show_run_up(&run);

    GLint timer_bits = 0;
    glGetQueryiv(GL_TIMESTAMP, GL_QUERY_COUNTER_BITS, &timer_bits);
    marks.gpu_timer = timer_bits > 0;
    if (marks.gpu_timer) glGenQueries(FRAME_MARK_COUNT, marks.queries);
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const std::string device = renderer ? renderer : "unknown";

    Series whole;
    std::vector<Section> sections;
    std::map<std::pair<int, int>, size_t> section_of;
    while (run.schedule.next_frame < run.end_frame && !stop_requested) {
        run.schedule.step();
        glFinish();
        double cpu[kStageCount], gpu[kStageCount] = {};
        for (int i = 0; i < kStageCount; ++i) cpu[i] = ms_between(kStageFrom[i], kStageTo[i]);
        if (marks.gpu_timer) {
            GLuint64 t[FRAME_MARK_COUNT] = {};
            for (int m = FRAME_MARK_BEGIN; m <= FRAME_MARK_END; ++m)
                glGetQueryObjectui64v(marks.queries[m], GL_QUERY_RESULT, &t[m]);
            for (int i = 0; i < kStageCount; ++i) gpu[i] = static_cast<double>(t[kStageTo[i]] - t[kStageFrom[i]]) / 1e6;
        }
        const int part = frame_driver.active_part;
        const int param = static_cast<int>(std::trunc(track_value(TRACK_PARAM, current_row)));
        auto [it, added] = section_of.try_emplace({part, param}, sections.size());
        if (added) sections.push_back({part, param, current_row, current_row, {}});
        Section& s = sections[it->second];
        s.last_row = current_row;
        append(&s.series, cpu, gpu);
        append(&whole, cpu, gpu);
        progress_update(&run.progress, show_run_frames_done(run), "bench");
    }
    progress_finish(&run.progress);
    if (marks.gpu_timer) glDeleteQueries(FRAME_MARK_COUNT, marks.queries);
    frame_mark_hook = nullptr;
    offline_show_close();
    if (stop_requested) {
        std::fprintf(stderr, "velmo-bench: interrupted\n");
        return 1;
    }

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peak_rss_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
    const double first_row = show_frame_row(run.schedule, run.first_frame);
    const double end_row = show_frame_row(run.schedule, run.end_frame);

    if (o.json) {
        nlohmann::json out;
        out["device"] = device;
        out["size"] = {o.width, o.height};
        out["fps"] = 60;
        out["antialias"] = o.antialias;
        out["seek"] = o.seek == SeekMode::Run ? "run" : "jump";
        out["rows"] = {first_row, end_row};
        out["gpu_timer"] = marks.gpu_timer;
        for (int i = 0; i < kLoadStageCount; ++i) out["load_step_ms"][kLoadStageNames[i]] = load_ms[i];
        out["load_step_ms"]["total"] = load_ms[kLoadStageCount];
        out["peak_rss_mib"] = peak_rss_mib;
        out["whole"] = series_json(whole, marks.gpu_timer);
        out["sections"] = nlohmann::json::array();
        for (const Section& s : sections) {
            nlohmann::json j = series_json(s.series, marks.gpu_timer);
            j["part"] = s.part;
            j["param"] = s.param;
            j["rows"] = {s.first_row, s.last_row};
            out["sections"].push_back(j);
        }
        std::fprintf(report, "%s\n", out.dump(2).c_str());
        return std::fflush(report) == 0 ? 0 : 1;
    }
    std::fprintf(report, "velmo-bench: %dx%d, 60 fps, antialias %s, rows %.2f to %.2f (%s), on %s\n", o.width,
                 o.height, o.antialias ? "on" : "off", first_row, end_row,
                 o.seek == SeekMode::Run ? "run from row 0" : "jumped", device.c_str());
    std::fprintf(report, "load step %.1f ms:", load_ms[kLoadStageCount]);
    for (int i = 0; i < kLoadStageCount; ++i) std::fprintf(report, " %s %.1f", kLoadStageNames[i], load_ms[i]);
    std::fprintf(report, "\npeak resident memory %.1f MiB\n", peak_rss_mib);
    if (!marks.gpu_timer) std::fprintf(report, "no GPU timer queries on this driver\n");
    std::fprintf(report, "\n");
    print_series(report, "whole run", whole, marks.gpu_timer);
    for (const Section& s : sections) {
        std::fprintf(report, "\n");
        print_series(report, section_title(s).c_str(), s.series, marks.gpu_timer);
    }
    return std::fflush(report) == 0 ? 0 : 1;
}

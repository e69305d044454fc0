#include "bench_options.h"

namespace {
const char help_text[] =
    "usage: velmo-bench [options]\n"
    "Runs the show on a hidden window from the manual clock at 60 frames per second\n"
    "and prints, per section (one part and one scene type) and for the whole run,\n"
    "the CPU time of each frame's update, draw submission and post chain (mean,\n"
    "median, p99, max), the GPU time where the driver has timer queries, the load\n"
    "step's stages and the peak resident memory.\n"
    "\n"
    "  --rows A-B       rows to measure, 0-1266.67 (the whole show) by default\n"
    "  --size WxH       window size, 1920x1080 by default\n"
    "  --antialias on|off  multisampled off-screen targets, on by default\n"
    "  --seek run|jump  run: draw every frame from row 0 and measure from A\n"
    "                   (default); jump: start at A (scenes start afresh there)\n"
    "  --json           the figures as JSON on standard output\n"
    "  --help           this text\n"
    "\n"
    "example: velmo-bench --rows 256-512 --size 1280x720\n";
}  // namespace

CommandLineResult parse_bench_options(int argc, const char* const* argv, BenchOptions* o, std::string* message) {
    *o = BenchOptions{};
    const std::vector<OptionSpec> specs = {
        {"rows", true,
         [o](std::string_view v, std::string* why) { return parse_row_range(v, &o->from_row, &o->to_row, why); }},
        {"size", true, [o](std::string_view v, std::string* why) { return parse_size(v, &o->width, &o->height, why); }},
        {"antialias", true, [o](std::string_view v, std::string* why) { return parse_on_off(v, &o->antialias, why); }},
        {"seek", true, [o](std::string_view v, std::string* why) { return parse_seek(v, &o->seek, why); }},
        {"json", false,
         [o](std::string_view, std::string*) {
             o->json = true;
             return true;
         }},
    };
    CommandLineResult result = parse_command_line(argc, argv, specs, message);
    if (result == CommandLineResult::Help) *message = help_text;
    return result;
}

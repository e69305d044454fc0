#include "capture_options.h"

namespace {

const char help_text[] =
    "usage: velmo-capture [options]\n"
    "Renders the show offline on a hidden window from the manual clock, through the\n"
    "show's own frame, and writes a video, PNG frames or a contact sheet.\n"
    "\n"
    "  --format F       video: H.264 and AAC in MP4 (default); lossless: FFV1 and\n"
    "                   32-bit float PCM in Matroska; frames: one PNG per frame in\n"
    "                   the --out folder; sheet: one PNG of labelled pictures\n"
    "  --out PATH       velmo.mp4, velmo.mkv, frames or sheet.png by default\n"
    "  --size WxH       picture size, 1920x1080 by default (sheet: 320x180 each)\n"
    "  --fps N          frames per second of music, 1 to 240, 60 by default\n"
    "  --from-row R     first row (0 by default); rows may have a fraction\n"
    "  --to-row R       end row, not included (1266.67, the end, by default)\n"
    "  --every N        keep one frame every N rows (frames: every frame by\n"
    "                   default; sheet: every 32 rows)\n"
    "  --columns N      pictures per line of the sheet, 8 by default\n"
    "  --antialias on|off  multisampled off-screen targets, on by default\n"
    "  --seek run|jump  run: draw every frame from row 0 so a late row looks as in\n"
    "                   the show (default); jump: start drawing at --from-row\n"
    "                   (fast; scenes that build up start afresh there)\n"
    "  --ffmpeg PROG    the ffmpeg program for videos, \"ffmpeg\" by default\n"
    "  --help           this text\n"
    "\n"
    "example: velmo-capture --from-row 256 --to-row 322.67 --size 640x360 --out part.mp4\n";

bool parse_rows(std::string_view v, double* rows, std::string* why) {
    double r = 0.0;
    if (!parse_row(v, &r, why)) return false;
    if (r <= 0.0) {
        *why = "must be more than 0 rows";
        return false;
    }
    *rows = r;
    return true;
}

}  // namespace

CommandLineResult parse_capture_options(int argc, const char* const* argv, CaptureOptions* o,
                                        std::string* message) {
    *o = CaptureOptions{};
    bool size_given = false;
    const std::vector<OptionSpec> specs = {
        {"format", true,
         [o](std::string_view v, std::string* why) {
             int i = 0;
             if (!parse_choice(v, {"video", "lossless", "frames", "sheet"}, &i, why)) return false;
             o->format = static_cast<CaptureFormat>(i);
             return true;
         }},
        {"out", true,
         [o](std::string_view v, std::string* why) {
             if (v.empty()) {
                 *why = "needs a path";
                 return false;
             }
             o->out = v;
             return true;
         }},
        {"size", true,
         [o, &size_given](std::string_view v, std::string* why) {
             size_given = true;
             return parse_size(v, &o->width, &o->height, why);
         }},
        {"fps", true, [o](std::string_view v, std::string* why) { return parse_int_in(v, 1, 240, &o->fps, why); }},
        {"from-row", true, [o](std::string_view v, std::string* why) { return parse_row(v, &o->from_row, why); }},
        {"to-row", true, [o](std::string_view v, std::string* why) { return parse_row(v, &o->to_row, why); }},
        {"every", true, [o](std::string_view v, std::string* why) { return parse_rows(v, &o->every_rows, why); }},
        {"columns", true,
         [o](std::string_view v, std::string* why) { return parse_int_in(v, 1, 64, &o->columns, why); }},
        {"antialias", true, [o](std::string_view v, std::string* why) { return parse_on_off(v, &o->antialias, why); }},
        {"seek", true, [o](std::string_view v, std::string* why) { return parse_seek(v, &o->seek, why); }},
        {"ffmpeg", true,
         [o](std::string_view v, std::string* why) {
             if (v.empty()) {
                 *why = "needs a program";
                 return false;
             }
             o->ffmpeg = v;
             return true;
         }},
    };
    CommandLineResult result = parse_command_line(argc, argv, specs, message);
    if (result == CommandLineResult::Help) *message = help_text;
    if (result != CommandLineResult::Run) return result;

    if (!(o->from_row < o->to_row)) {
        *message = "--from-row must come before --to-row";
        return CommandLineResult::Refused;
    }
    const bool video = o->format == CaptureFormat::Video || o->format == CaptureFormat::Lossless;
    if (video && o->every_rows > 0.0) {
        *message = "--every picks frames for frames and sheet; a video keeps every frame";
        return CommandLineResult::Refused;
    }
    if (!size_given) {
        o->width = o->format == CaptureFormat::Sheet ? 320 : 1920;
        o->height = o->format == CaptureFormat::Sheet ? 180 : 1080;
    }
    if (o->format == CaptureFormat::Video && (o->width % 2 || o->height % 2)) {
        *message = "--size " + std::to_string(o->width) + "x" + std::to_string(o->height) +
                   ": H.264 video needs an even width and height";
        return CommandLineResult::Refused;
    }
    if (o->format == CaptureFormat::Sheet && o->every_rows == 0.0) o->every_rows = 32.0;
    if (o->out.empty()) {
        static const char* const names[] = {"velmo.mp4", "velmo.mkv", "frames", "sheet.png"};
        o->out = names[static_cast<int>(o->format)];
    }
    return CommandLineResult::Run;
}

// velmo-capture: the show rendered offline into a video, PNG frames or a
// contact sheet (see --help). Exit status 0 when everything was written, 1 when
// a run failed (nothing is left under the requested name), 2 for a refused
// command line.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/frame_driver.h"
#include "app/sync_tracks.h"
#include "audio/music.h"
#include "capture_options.h"
#include "common/show_run.h"
#include "contact_sheet.h"
#include "video_writer.h"

namespace {

// The frames a run keeps: every frame, or the first frame at each step of
// `every` rows from the first row.
struct Picks {
    std::vector<int64_t> frames;
};

Picks pick_frames(const ShowRunDesc& desc, const CaptureOptions& o) {
    Picks p;
    int64_t first = 0, end = 0;
    show_run_frames(desc, &first, &end);
    if (o.every_rows <= 0.0) {
        for (int64_t k = first; k < end; ++k) p.frames.push_back(k);
        return p;
    }
    const FrameSchedule schedule{o.fps};
    for (double row = o.from_row; row < o.to_row; row += o.every_rows) {
        int64_t k = schedule.first_frame_at(row / ROWS_PER_SECOND);
        if (k >= end) break;
        if (p.frames.empty() || k > p.frames.back()) p.frames.push_back(k);
    }
    if (p.frames.empty()) p.frames.push_back(first);
    return p;
}

// The music the kept frames play over: from the first frame's playback
// position to the position after the last, silence past the end of the music.
std::vector<float> music_of(const ShowRun& run) {
    const int64_t a = run.schedule.music_frames_before(run.first_frame);
    const int64_t b = run.schedule.music_frames_before(run.end_frame);
    std::vector<float> out(static_cast<size_t>(b - a) * 2, 0.0f);
    const float* pcm = music_pcm();
    for (int64_t f = a; pcm && f < std::min(b, kPcmFrames); ++f) {
        out[static_cast<size_t>(f - a) * 2] = pcm[f * 2];
        out[static_cast<size_t>(f - a) * 2 + 1] = pcm[f * 2 + 1];
    }
    return out;
}

bool make_folder(const std::string& path, std::string* error) {
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
        *error = path + " exists and is not a folder";
        return false;
    }
    *error = "cannot make the folder " + path + ": " + std::strerror(errno);
    return false;
}

std::string frame_file(const std::string& folder, int64_t frame) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame_%06lld.png", static_cast<long long>(frame));
    return folder + name;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "velmo-capture: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    CaptureOptions o;
    std::string message;
    const int status =
        command_line_exit_status(parse_capture_options(argc, argv, &o, &message), message, "velmo-capture");
    if (status >= 0) return status;
    // A write past a size limit or into a closed pipe fails with an error
    // instead of ending the process, so the run can clean up after itself.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    install_stop_handlers();

    const bool video = o.format == CaptureFormat::Video || o.format == CaptureFormat::Lossless;
    if (o.format == CaptureFormat::Frames && !make_folder(o.out, &message)) return fail(message);

    ShowRunDesc desc{.width = o.width, .height = o.height, .fps = o.fps, .antialias = o.antialias,
                     .from_row = o.from_row, .to_row = o.to_row, .seek = o.seek, .window_title = "velmo-capture"};
    const Picks picks = pick_frames(desc, o);
    desc.last_frame = picks.frames.back();  // the run ends with the last frame it keeps
    ShowRun run;
    if (!show_run_open(desc, &run, &message)) return fail(message);
    VideoWriter writer;
    ContactSheet sheet;
    bool ok = true;
    if (video) {
        std::vector<float> music = music_of(run);
        ok = video_open({.ffmpeg = o.ffmpeg, .out = o.out, .lossless = o.format == CaptureFormat::Lossless,
                         .width = o.width, .height = o.height, .fps = o.fps, .music = music.data(),
                         .music_frames = music.size() / 2},
                        &writer, &message);
    }
    // ffmpeg starts before the run-up, so a missing one is known at once.
    if (ok) show_run_up(&run);
    if (o.format == CaptureFormat::Sheet)
        contact_sheet_make(&sheet, o.width, o.height, o.columns, static_cast<int>(picks.frames.size()));

    std::vector<uint8_t> rgba;
    size_t next_pick = 0;
    while (ok && !stop_requested && next_pick < picks.frames.size()) {
        const int64_t frame = run.schedule.next_frame;
        run.schedule.step();
        progress_update(&run.progress, show_run_frames_done(run), "capture");
        if (frame != picks.frames[next_pick]) continue;
        ++next_pick;
        offline_show_read_pixels(&rgba);
        for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;  // the window is opaque
        switch (o.format) {
            case CaptureFormat::Video:
            case CaptureFormat::Lossless: ok = video_write_frame(&writer, rgba.data(), &message); break;
            case CaptureFormat::Frames:
                ok = write_png_file(frame_file(o.out, frame), o.width, o.height, rgba.data(), &message);
                break;
            case CaptureFormat::Sheet:
                contact_sheet_place(&sheet, static_cast<int>(next_pick - 1), rgba.data(),
                                    contact_sheet_label(current_row, frame_driver.active_part,
                                                        track_value(TRACK_PARAM, current_row)));
                break;
        }
    }
    progress_finish(&run.progress);
    if (stop_requested && ok) {
        ok = false;
        message = "interrupted";
    }
    offline_show_close();

    if (ok && video) ok = video_finish(&writer, &message);
    if (!ok && video) video_abort(&writer);
    if (ok && o.format == CaptureFormat::Sheet)
        ok = write_png_file(o.out, sheet.width, sheet.height, sheet.rgba.data(), &message);
    if (!ok) return fail(message);
    std::printf("velmo-capture: wrote %s (%zu frames, rows %.2f to %.2f)\n", o.out.c_str(), picks.frames.size(),
                show_frame_row(run.schedule, run.first_frame), show_frame_row(run.schedule, run.end_frame));
    return 0;
}

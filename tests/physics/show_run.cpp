// The whole show's scene part on the shipped timeline at 60 frames per second,
// on the manual clock: every frame's scene update runs as the show runs it,
// and every 16 rows from row 256 a full real frame is drawn and added to a
// contact sheet (PNG). Between those frames only the row clock and the active
// part's update run, so the run takes minutes rather than hours under Xvfb.
// Checks that no node transform is ever NaN or infinite, prints per scene type
// the frames, the most pieces and the mean and worst scene update, and exits 0
// when every transform stayed finite.
//
// Usage: physics_show_run [contact sheet path] (default scene_contact_sheet.png)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/frame_driver.h"
#include "app/parts.h"
#include "app/sync_tracks.h"
#include "physics/director.h"
#include "physics/spawner.h"
#include "scene/scene_graph.h"
#include "scene_models.h"
#include "support/frame_harness.h"

namespace {

constexpr int W = 192, H = 108;
constexpr int columns = 8;
constexpr uint64_t frame_ns = 16666667;
constexpr uint32_t audio_per_frame = 735;
constexpr double end_row = 1266.0;

struct TypeFigures {
    int frames = 0;
    int most_pieces = 0;
    double update_sum = 0, update_worst = 0, step_worst = 0;
};

}  // namespace

int main(int argc, char** argv) {
    std::string sheet_path = argc > 1 ? argv[1] : "scene_contact_sheet.png";
    if (!harness_open(W, H)) {
        std::fprintf(stderr, "physics_show_run: no window with a GL 4.5 context (run under Xvfb)\n");
        return 1;
    }
    uint64_t now = frame_ns;
    harness_frame(now);  // loading

    std::vector<std::vector<uint8_t>> tiles;
    std::map<int, TypeFigures> figures;
    uint64_t played = 0;   // audio frames the device has handed out
    uint64_t pending = 0;  // audio frames of skipped frames, handed out at the next real frame
    double next_shot = 256;
    int bad_frames = 0;
    for (int frame = 1;; ++frame) {
        pending += audio_per_frame;
        double row = (played + pending) / 44100.0 * ROWS_PER_SECOND;
        if (row >= end_row) break;
        auto start = std::chrono::steady_clock::now();
        bool shot = row >= next_shot;
        bool scene_active;
        if (shot) {
            harness_frame(now += frame_ns, static_cast<uint32_t>(pending));
            played += pending;
            pending = 0;
            scene_active = frame_driver.active_part == 2;
            tiles.push_back(harness_read_pixels());
            next_shot += 16;
        } else {
            update_row_clock(static_cast<double>(played + pending) * 8.0);
            frame_delta = 1.0f / 60.0f;
            scene_active = select_part(track_value(TRACK_PART, current_row)) == 2;
            if (scene_active) scene_part(PART_UPDATE, nullptr);
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!scene_active) continue;
        TypeFigures& f = figures[director.current_scene_type];
        ++f.frames;
        f.most_pieces = std::max(f.most_pieces, static_cast<int>(item_count));
        if (!shot) {
            f.update_sum += seconds;
            f.update_worst = std::max(f.update_worst, seconds);
            f.step_worst = std::max(f.step_worst, director.last_step_seconds);
        }
        if (!scene_transforms_finite()) {
            if (bad_frames++ < 5) std::printf("row %.2f: a node transform is not finite\n", row);
        }
        if (frame % 600 == 0) {
            std::printf("row %7.1f  type %3d  pieces %4d\n", row, director.current_scene_type, item_count);
            std::fflush(stdout);
        }
    }

    std::printf("\n%-6s %7s %7s %10s %10s %10s\n", "type", "frames", "pieces", "update", "upd-max", "step-max");
    for (const auto& [type, f] : figures)
        std::printf("%-6d %7d %7d %10.2f %10.2f %10.2f\n", type, f.frames, f.most_pieces,
                    f.frames ? 1e3 * f.update_sum / f.frames : 0.0, 1e3 * f.update_worst, 1e3 * f.step_worst);

    int rows = (static_cast<int>(tiles.size()) + columns - 1) / columns;
    std::vector<uint8_t> sheet(static_cast<size_t>(columns * W) * rows * H * 4, 0);
    for (size_t t = 0; t < tiles.size(); ++t) {
        int cx = static_cast<int>(t) % columns, cy = static_cast<int>(t) / columns;
        for (int y = 0; y < H; ++y)
            std::copy_n(&tiles[t][static_cast<size_t>(y) * W * 4], W * 4,
                        &sheet[((static_cast<size_t>(cy) * H + y) * columns * W + cx * W) * 4]);
    }
    bool written = write_png(sheet_path, columns * W, rows * H, sheet);
    std::printf("%zu frames from row 256 in %s%s\n", tiles.size(), sheet_path.c_str(), written ? "" : " (not written)");
    std::printf("%s\n", bad_frames ? "FAILED: some transforms were not finite" : "every transform stayed finite");
    harness_close();
    return bad_frames || !written ? 1 : 0;
}

// What the physics scene reads from the timeline and the clock in one update:
// the scene part fills it from the tracks at the current row, tests by hand.
#pragma once

struct SceneInputs {
    double param;  // scene type in the integer part, variant in the fraction
    double cam_index, cam_x, cam_y, cam_z, cam_at_x, cam_at_y, cam_at_z, cam_dist, cam_fov, cam_roll;
    double light;
    double sim_speed;
    double sim_shuffle;
    float music_time;   // seconds of music played
    float frame_delta;  // this frame's interval, seconds
};

// The scene part's time base for timed events: music time in 0.3 s units.
inline double scene_pulse(const SceneInputs& in) { return in.music_time / 0.3; }

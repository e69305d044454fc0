#include "platform/clock.h"

#include <chrono>

namespace platform {
namespace {

struct ClockState {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    bool manual = false;
    uint64_t manual_now = 0;
};
ClockState state;

struct RefreshInterval {
    uint64_t nominal_ns;
    uint64_t tolerance_ns;
};

// Searched in order; the first band that holds the lap wins.
constexpr RefreshInterval refresh_intervals[] = {
    {16666667, 1000000},  // 60 Hz
    {13888889, 250000},   // 72 Hz
    {13333333, 250000},   // 75 Hz
    {11764706, 250000},   // 85 Hz
    {11111111, 250000},   // 90 Hz
    {10000000, 500000},   // 100 Hz
    {8333333, 500000},    // 120 Hz
    {6944445, 500000},    // 144 Hz
    {4166667, 1000000},   // 240 Hz
};

}  // namespace

void clock_setup() {
    state.start = std::chrono::steady_clock::now();
    state.manual_now = 0;
}

uint64_t clock_now() {
    if (state.manual) return state.manual_now;
    auto elapsed = std::chrono::steady_clock::now() - state.start;
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
}

uint64_t clock_laptime(uint64_t* last) {
    uint64_t now = clock_now();
    uint64_t lap = 0;
    if (*last != 0) lap = now > *last ? now - *last : 1;
    *last = now;
    return lap;
}

uint64_t round_to_common_refresh_rate(uint64_t lap) {
    for (const RefreshInterval& r : refresh_intervals) {
        if (r.nominal_ns - r.tolerance_ns < lap && lap < r.nominal_ns + r.tolerance_ns) return r.nominal_ns;
    }
    return lap;
}

double clock_sec(uint64_t ns) { return static_cast<double>(ns) / 1000000000.0; }

void clock_use_manual(bool manual) {
    state.manual = manual;
    state.manual_now = 0;
}

void clock_set_manual_now(uint64_t ns) { state.manual_now = ns; }
void clock_advance_manual(uint64_t ns) { state.manual_now += ns; }

}  // namespace platform

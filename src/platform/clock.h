// The show's clock: nanoseconds since clock_setup, lap times and the rounding
// of frame intervals to the common display refresh intervals.
//
// The clock reads std::chrono::steady_clock, or, once clock_use_manual(true)
// is called, a time the caller sets: the test harness and the capture tool
// drive frames at exact intervals that way.
#pragma once
#include <cstdint>

namespace platform {

void clock_setup();      // time 0 is now (for the manual clock: 0)
uint64_t clock_now();    // nanoseconds since clock_setup

// Time since *last, and *last = now. 0 when *last is 0 (the first lap);
// otherwise now - last when now > last, else 1 ns.
uint64_t clock_laptime(uint64_t* last);

// The nominal interval of the first refresh rate whose tolerance band
// (strict on both sides) holds the lap; otherwise the lap unchanged.
uint64_t round_to_common_refresh_rate(uint64_t lap_ns);

double clock_sec(uint64_t ns);

void clock_use_manual(bool manual);        // switching resets the manual time to 0
void clock_set_manual_now(uint64_t ns);    // what clock_now answers next
void clock_advance_manual(uint64_t ns);

}  // namespace platform

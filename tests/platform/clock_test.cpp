#include <gtest/gtest.h>

#include "platform/clock.h"

namespace {

struct RoundingCase {
    const char* what;
    uint64_t lap_ns;
    uint64_t expected_ns;
};

void PrintTo(const RoundingCase& c, std::ostream* os) { *os << c.what; }

class RefreshRounding : public testing::TestWithParam<RoundingCase> {};

TEST_P(RefreshRounding, TakesTheFirstBandThatHoldsTheLap) {
    EXPECT_EQ(platform::round_to_common_refresh_rate(GetParam().lap_ns), GetParam().expected_ns) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Laps, RefreshRounding,
    testing::Values(RoundingCase{"16.2 ms is 60 Hz", 16200000, 16666667},
                    RoundingCase{"12.5 ms lies between bands", 12500000, 12500000},
                    RoundingCase{"13.9 ms is 72 Hz", 13900000, 13888889},
                    RoundingCase{"13.3 ms is 75 Hz", 13300000, 13333333},
                    RoundingCase{"12.0 ms is 85 Hz", 12000000, 11764706},
                    RoundingCase{"11.0 ms is 90 Hz", 11000000, 11111111},
                    RoundingCase{"10.2 ms is 100 Hz", 10200000, 10000000},
                    RoundingCase{"8.0 ms is 120 Hz", 8000000, 8333333},
                    RoundingCase{"7.0 ms is 144 Hz", 7000000, 6944445},
                    RoundingCase{"4.0 ms is 240 Hz", 4000000, 4166667},
                    RoundingCase{"60 Hz lower edge is outside", 15666667, 15666667},
                    RoundingCase{"60 Hz upper edge is outside", 17666667, 17666667},
                    RoundingCase{"just inside the 60 Hz lower edge", 15666668, 16666667},
                    RoundingCase{"72 Hz lower edge is outside", 13638889, 13638889},
                    RoundingCase{"240 Hz upper edge is outside", 5166667, 5166667},
                    RoundingCase{"a zero lap stays zero", 0, 0},
                    RoundingCase{"a long loading frame stays", 1500000000, 1500000000}));

TEST(Laptime, FirstLapIsZeroThenTheDifferenceAndNeverLessThanOneNanosecond) {
    platform::clock_use_manual(true);
    platform::clock_setup();
    uint64_t last = 0;
    platform::clock_set_manual_now(5000);
    EXPECT_EQ(platform::clock_laptime(&last), 0u);
    EXPECT_EQ(last, 5000u);
    platform::clock_set_manual_now(21700000);
    EXPECT_EQ(platform::clock_laptime(&last), 21695000u);
    EXPECT_EQ(platform::clock_laptime(&last), 1u) << "no time passed";
    platform::clock_set_manual_now(1000);
    EXPECT_EQ(platform::clock_laptime(&last), 1u) << "time went backwards";
    platform::clock_use_manual(false);
}

TEST(Clock, SteadyClockAdvancesAndConvertsToSeconds) {
    platform::clock_setup();
    uint64_t a = platform::clock_now();
    uint64_t b = platform::clock_now();
    EXPECT_LE(a, b);
    EXPECT_DOUBLE_EQ(platform::clock_sec(16666667), 0.016666667);
}

}  // namespace

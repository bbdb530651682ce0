// The fast clock of soak runs: the system's time from its start, run
// `scale` times faster, with dates rolling over as the calendar does.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "util/Clock.h"

namespace pom {
namespace {

struct FastCase {
    double scale;
    std::int64_t realMs;  // real time since the clock was made
    LocalDateTime start;  // its reading then
    LocalDateTime expected;
};

class ScaledClockCases : public ::testing::TestWithParam<FastCase> {};

TEST_P(ScaledClockCases, RunsScaleTimesFaster) {
    const FastCase& c = GetParam();
    // The start as the system's milliseconds of that local time.
    std::tm tm = ToTm(c.start);
    tm.tm_isdst = -1;
    const std::int64_t startMs = static_cast<std::int64_t>(std::mktime(&tm)) * 1000;
    std::int64_t elapsed = 0;
    const ScaledClock clock(
        c.scale, [&elapsed] { return elapsed; }, startMs);
    EXPECT_EQ(clock.now(), c.start);
    elapsed = c.realMs;
    EXPECT_EQ(clock.now(), c.expected);
}

// Winter dates: no daylight-saving change within any case.
INSTANTIATE_TEST_SUITE_P(
    Table, ScaledClockCases,
    ::testing::Values(FastCase{1, 1500, {2027, 1, 10, 12, 0, 0, 0}, {2027, 1, 10, 12, 0, 1, 500}},
                      // A day of a reading every 10 s per 4.32 s at 20 000 times.
                      FastCase{20000, 4320, {2027, 1, 10, 12, 0, 0, 0}, {2027, 1, 11, 12, 0, 0, 0}},
                      FastCase{2000, 3600, {2027, 1, 31, 23, 0, 0, 0}, {2027, 2, 1, 1, 0, 0, 0}},
                      FastCase{2000, 1800, {2026, 12, 31, 23, 30, 0, 0}, {2027, 1, 1, 0, 30, 0, 0}},
                      // A fractional scale keeps the milliseconds.
                      FastCase{
                          2.5, 1001, {2027, 1, 10, 12, 0, 0, 0}, {2027, 1, 10, 12, 0, 2, 502}}));

TEST(ScaledClock, WithoutAFakeItFollowsTheSystemTime) {
    const ScaledClock clock(1.0);
    const LocalDateTime a = SystemClock().now();
    const LocalDateTime b = clock.now();
    EXPECT_LE(std::abs(ToCalendarSeconds(b) - ToCalendarSeconds(a)), 2);
}

}  // namespace
}  // namespace pom

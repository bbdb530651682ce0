#include "tools/station/StationOptions.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace pom::station {
namespace {

TEST(StationOptionsTest, DefaultsWithoutArguments) {
    std::string error;
    const auto o = ParseOptions({}, error);
    ASSERT_TRUE(o.has_value());
    EXPECT_EQ(o->kind, Kind::DS3231);
    EXPECT_EQ(o->intervalSeconds, 10);
    EXPECT_EQ(o->backlog, 0);
    EXPECT_EQ(o->timeScale, 1.0);
    EXPECT_EQ(o->crlf, false);
    EXPECT_EQ(o->degree, Degree::Utf8);
    EXPECT_EQ(o->device, "");
}

TEST(StationOptionsTest, ReadsEveryOption) {
    std::string error;
    const auto o = ParseOptions({"--kind",
                                 "BME280",
                                 "--interval",
                                 "5",
                                 "--backlog",
                                 "40",
                                 "--seed",
                                 "9",
                                 "--time-scale",
                                 "60",
                                 "--crlf",
                                 "--degree",
                                 "byte",
                                 "--noise",
                                 "0.1",
                                 "--garbage",
                                 "0.05",
                                 "--failed-sensor",
                                 "2",
                                 "--sensors",
                                 "3",
                                 "--start",
                                 "2023-05-01 12:00:00",
                                 "--device",
                                 "/dev/ttyUSB0",
                                 "--baud",
                                 "115200",
                                 "--chunk",
                                 "7",
                                 "--chunk-delay",
                                 "20"},
                                error);
    ASSERT_TRUE(o.has_value()) << error;
    EXPECT_EQ(o->kind, Kind::BME280);
    EXPECT_EQ(o->intervalSeconds, 5);
    EXPECT_EQ(o->backlog, 40);
    EXPECT_EQ(o->seed, 9u);
    EXPECT_EQ(o->timeScale, 60.0);
    EXPECT_EQ(o->crlf, true);
    EXPECT_EQ(o->degree, Degree::Byte);
    EXPECT_EQ(o->noiseRate, 0.1);
    EXPECT_EQ(o->garbageRate, 0.05);
    EXPECT_EQ(o->failedSensor, 2);
    EXPECT_EQ(o->sensors, 3);
    ASSERT_TRUE(o->start.has_value());
    EXPECT_EQ(*o->start, (LocalDateTime{2023, 5, 1, 12, 0, 0, 0}));
    EXPECT_EQ(o->device, "/dev/ttyUSB0");
    EXPECT_EQ(o->baud, 115200);
    EXPECT_EQ(o->chunk, 7);
    EXPECT_EQ(o->chunkDelayMs, 20);
}

struct BadCase {
    std::vector<std::string> args;
    const char* error;
};

void PrintTo(const BadCase& c, std::ostream* os) {
    for (const auto& a : c.args) *os << a << ' ';
}

class StationOptionsBad : public ::testing::TestWithParam<BadCase> {};

TEST_P(StationOptionsBad, RefusesWithAReason) {
    std::string error;
    EXPECT_FALSE(ParseOptions(GetParam().args, error).has_value());
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StationOptionsBad,
    ::testing::Values(BadCase{{"--kind", "DS1820"}, "bad value for --kind: DS1820"},
                      BadCase{{"--interval", "0"}, "bad value for --interval: 0"},
                      BadCase{{"--interval"}, "--interval needs a value"},
                      BadCase{{"--noise", "1.5"}, "bad value for --noise: 1.5"},
                      BadCase{{"--time-scale", "-1"}, "bad value for --time-scale: -1"},
                      BadCase{{"--start", "2023-13-01 00:00:00"},
                              "bad value for --start: 2023-13-01 00:00:00"},
                      BadCase{{"--baud", "1234"}, "bad value for --baud: 1234"},
                      BadCase{{"--bogus"}, "unknown option --bogus"}));

}  // namespace
}  // namespace pom::station

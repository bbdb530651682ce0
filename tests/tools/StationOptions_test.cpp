#include "tools/station/StationOptions.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace pom::station {
namespace {

TEST(StationOptionsTest, ReadsValuesThatNeedConversion) {
    std::string error;
    const auto o = ParseOptions({"--kind", "BME280", "--time-scale", "2.5", "--degree", "byte",
                                 "--start", "2023-05-01 12:00:00", "--crlf"},
                                error);
    ASSERT_TRUE(o.has_value()) << error;
    EXPECT_EQ(o->kind, Kind::BME280);
    EXPECT_EQ(o->timeScale, 2.5);
    EXPECT_EQ(o->degree, Degree::Byte);
    EXPECT_EQ(o->start, (LocalDateTime{2023, 5, 1, 12, 0, 0, 0}));
    EXPECT_EQ(o->crlf, true);
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

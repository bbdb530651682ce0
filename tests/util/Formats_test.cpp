#include <gtest/gtest.h>

#include <cmath>

#include "util/Cp1250.h"
#include "util/DateMask.h"
#include "util/Numbers.h"

namespace pom {
namespace {

// A Wednesday in October: month and day names with Polish letters.
const LocalDateTime kWhen{2023, 10, 4, 7, 8, 9, 45};

struct MaskCase {
    const char* mask;
    std::string expected;
};

class DateMask : public ::testing::TestWithParam<MaskCase> {};

TEST_P(DateMask, FormatsEachToken) {
    EXPECT_EQ(FormatDateTimeMask(GetParam().mask, kWhen), GetParam().expected) << GetParam().mask;
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, DateMask,
    ::testing::Values(MaskCase{"yyyy", "2023"}, MaskCase{"yy", "23"}, MaskCase{"y", "23"},
                      MaskCase{"YyYy", "2023"}, MaskCase{"mm", "10"}, MaskCase{"m", "10"},
                      MaskCase{"mmm", Cp("paź")}, MaskCase{"MMMM", Cp("październik")},
                      MaskCase{"dd", "04"}, MaskCase{"d", "4"}, MaskCase{"ddd", Cp("śr.")},
                      MaskCase{"dddd", Cp("środa")}, MaskCase{"ddddd", "2023-10-04"},
                      MaskCase{"hh", "07"}, MaskCase{"h", "7"}, MaskCase{"nn", "08"},
                      MaskCase{"n", "8"}, MaskCase{"ss", "09"}, MaskCase{"s", "9"},
                      MaskCase{"zzz", "045"}, MaskCase{"z", "45"}));

INSTANTIATE_TEST_SUITE_P(MinutesAfterHour, DateMask,
                         ::testing::Values(MaskCase{"hh_mm", "07_08"}, MaskCase{"HH:MM", "07:08"},
                                           MaskCase{"hhmm", "0708"},
                                           MaskCase{"mm hh mm", "10 07 08"},
                                           MaskCase{"hh nn mm", "07 08 10"},
                                           MaskCase{"h'x'm", "7x8"},
                                           MaskCase{"YYYY-MM-DD hh_mm_ss", "2023-10-04 07_08_09"}));

INSTANTIATE_TEST_SUITE_P(
    QuotesAndSeparators, DateMask,
    ::testing::Values(MaskCase{"\"yyyy\"", "yyyy"}, MaskCase{"'hh'", "hh"},
                      MaskCase{"\"a'b\"yy", "a'b23"}, MaskCase{"\"open", "open"},
                      MaskCase{"\"Ardu\"YYYY", "Ardu2023"}, MaskCase{"yyyy/mm/dd", "2023-10-04"},
                      MaskCase{"hh:nn", "07:08"}, MaskCase{"x#_ .T", "x#_ .T"}, MaskCase{"", ""}));

struct WidthCase {
    int width;
    double value;
    const char* expected;
};

class FormatToWidthTest : public ::testing::TestWithParam<WidthCase> {};

TEST_P(FormatToWidthTest, FillsTheWidthOrFallsBack) {
    const WidthCase& c = GetParam();
    EXPECT_EQ(FormatToWidth(c.width, c.value), c.expected) << c.width << " " << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatToWidthTest,
    ::testing::Values(WidthCase{6, 3.14159, "3.1416"}, WidthCase{6, 5, "5.0000"},
                      WidthCase{6, 12345.6, " 12346"}, WidthCase{6, 1234567, "******"},
                      WidthCase{2, 5, " 5"}, WidthCase{0, 3.0, ""}, WidthCase{-3, 1, ""},
                      WidthCase{1, 5, "5"}, WidthCase{1, 12, "*"}, WidthCase{4, -1.5, "-1.5"},
                      WidthCase{3, -1.5, " -2"}, WidthCase{5, 99999.9, "*****"},
                      WidthCase{8, -0.001234, "-0.00123"}));

TEST(PressureRatio, IsOneAtSeaLevelForAnyTemperature) {
    EXPECT_DOUBLE_EQ(PressureRatio(0), 1.0);
    for (double t : {-30.0, 0.0, 15.0, 40.0}) EXPECT_DOUBLE_EQ(PressureRatioT(0, t), 1.0) << t;
}

struct RatioCase {
    double altitude;
    double temperature;
    double plain;
    double withTemperature;
};

class PressureRatioAt : public ::testing::TestWithParam<RatioCase> {};

TEST_P(PressureRatioAt, MatchesTheBarometricFormulas) {
    const RatioCase& c = GetParam();
    EXPECT_NEAR(PressureRatio(c.altitude), c.plain, 1e-9);
    EXPECT_NEAR(PressureRatioT(c.altitude, c.temperature), c.withTemperature, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Altitudes, PressureRatioAt,
    ::testing::Values(RatioCase{1000, 15, 0.8870089111399377, 0.8893467499388804},
                      RatioCase{300, -10, 0.964945453280415, 0.9619316188107327}));

}  // namespace
}  // namespace pom

#include "plot/logic/PlotLayout.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plot/logic/PlotFormat.h"
#include "plot/logic/SeriesPixels.h"

namespace pom {
namespace {

constexpr double kSec = 1.0 / 86400;
constexpr double kT0 = 45047.5;  // 2023-05-01 12:00:00

int SixPerChar(const std::string& s) {
    return 6 * static_cast<int>(s.size());
}

DataRanges Ranges(double xmin, double xmax, double ymin, double ymax) {
    DataRanges r;
    r.xmin = xmin;
    r.xmax = xmax;
    r.ymin = ymin;
    r.ymax = ymax;
    return r;
}

// --- automatic steps

struct TimeStepCase {
    double seconds;  // days per interval, in seconds
    double stepSeconds;
    std::string format;
};

class TimeStepTable : public ::testing::TestWithParam<TimeStepCase> {};

TEST_P(TimeStepTable, PicksTheLargestThresholdExceeded) {
    const TimeStep s = ChooseTimeStep(GetParam().seconds * kSec);
    EXPECT_DOUBLE_EQ(s.step * 86400, GetParam().stepSeconds);
    EXPECT_EQ(std::string(s.format), GetParam().format);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TimeStepTable,
    ::testing::Values(TimeStepCase{1, 5, "hh:nn:ss"}, TimeStepCase{10, 5, "hh:nn:ss"},
                      TimeStepCase{11, 10, "hh:nn:ss"}, TimeStepCase{59, 30, "hh:nn:ss"},
                      TimeStepCase{61, 60, "hh:nn"}, TimeStepCase{1800, 600, "hh:nn"},
                      TimeStepCase{1801, 1800, "hh:nn"}, TimeStepCase{4000, 3600, "hh:"},
                      TimeStepCase{3 * 3600 + 1, 3 * 3600, "hh:"},
                      TimeStepCase{18 * 3600, 6 * 3600, "hh"},
                      TimeStepCase{2 * 86400, 86400, "mm.dd"},
                      TimeStepCase{8 * 86400, 7 * 86400, "mm.dd"},
                      TimeStepCase{31 * 86400, 30 * 86400, "YYYY.mm"},
                      TimeStepCase{61 * 86400, 60 * 86400, "YY.mm"},
                      TimeStepCase{200 * 86400, 180 * 86400, "YYYY.mm"},
                      TimeStepCase{5000 * 86400.0, 360 * 86400, "YYYY"}));

struct TimeGridCase {
    const char* name;
    int width;
    double spanDays;
    double stepSeconds;
    std::string format;
};

class TimeGridExamples : public ::testing::TestWithParam<TimeGridCase> {};

TEST_P(TimeGridExamples, StepAndFormat) {
    const TimeGridCase& c = GetParam();
    const PlotFrame f =
        MakeFrame(c.width, 400, 1, 22, 22, 22, 22, Ranges(kT0, kT0 + c.spanDays, 0, 1));
    const TimeGrid g = ComputeTimeGrid(f);
    EXPECT_NEAR(g.step * 86400, c.stepSeconds, 1e-6);
    EXPECT_EQ(g.format, c.format);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, TimeGridExamples,
    ::testing::Values(
        // n = Round(556 / 150) = 4, q = 30 min exactly: not above 30 min, so 10 min.
        TimeGridCase{"TwoHoursOn600", 600, 2.0 / 24, 600, "hh:nn"},
        TimeGridCase{"ThreeDaysOn600", 600, 3.0, 6 * 3600, "hh"},
        // Too narrow for one interval: one is used.
        TimeGridCase{"NarrowPlotUsesOneInterval", 60, 40.0 / 86400, 30, "hh:nn:ss"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TimeGrid, LinesStandOnWholeStepsInsideThePlot) {
    const PlotFrame f =
        MakeFrame(600, 400, 1, 22, 22, 22, 22, Ranges(kT0 + 5 * 60 * kSec, kT0 + 2.0 / 24, 0, 1));
    const TimeGrid g = ComputeTimeGrid(f);
    // First grid time is 12:00, the lines at 12:10, 12:20 ... 14:00.
    EXPECT_NEAR(g.first, kT0, 1e-9);
    ASSERT_EQ(g.columns.size(), 12u);
    EXPECT_EQ(g.columns.front(), f.Px(kT0 + 600 * kSec));
    EXPECT_EQ(g.columns.back(), f.Px(kT0 + 2.0 / 24));
    for (int c : g.columns) EXPECT_LE(c, f.PlotRight());
}

TEST(TimeGrid, PlotNoWiderThanItsInsetsGetsStepsButNoLines) {
    // Pen 3: the data span needs 4 * 3 + 22 + 22 = 56 pixels.
    for (int width : {44, 50, 55, 56}) {
        const PlotFrame f =
            MakeFrame(width, 300, 3, 22, 22, 22, 22, Ranges(kT0, kT0 + 1.0 / 24, 0, 1));
        const TimeGrid g = ComputeTimeGrid(f);
        EXPECT_EQ(g.columns.size(), 0u) << width;
        // One interval of exactly an hour: not above it, so half-hour steps.
        EXPECT_NEAR(g.step * 86400, 1800, 1e-6) << width;
        EXPECT_EQ(g.format, "hh:nn") << width;
    }
}

struct ValueStepCase {
    double perInterval;
    double step;
};

class ValueStepTable : public ::testing::TestWithParam<ValueStepCase> {};

TEST_P(ValueStepTable, OneTwoTwoAndAHalfFiveTen) {
    EXPECT_NEAR(ChooseValueStep(GetParam().perInterval), GetParam().step, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Rows, ValueStepTable,
                         ::testing::Values(ValueStepCase{0.3, 0.25}, ValueStepCase{1, 1},
                                           ValueStepCase{1.5, 2}, ValueStepCase{3, 2.5},
                                           ValueStepCase{0.25, 0.25}, ValueStepCase{0.05, 0.1},
                                           // never below a hundredth
                                           ValueStepCase{1e-7, 0.01}, ValueStepCase{0.0, 0.01},
                                           ValueStepCase{20, 20}, ValueStepCase{45, 100}));

TEST(ValueGrid, ZeroToThreeOn300PixelsStepsByAQuarter) {
    const PlotFrame f = MakeFrame(400, 300, 1, 22, 22, 22, 22, Ranges(kT0, kT0 + 1, 0, 3));
    const ValueGrid g = ComputeValueGrid(f);
    EXPECT_DOUBLE_EQ(g.step, 0.25);
    EXPECT_EQ(g.first, 0.0);
    ASSERT_EQ(g.rows.size(), 13u);  // 0, 0.25 ... 3
    EXPECT_EQ(g.rows.front(), f.Py(0));
    EXPECT_EQ(g.rows.back(), f.Py(3));
}

// --- ranges, mapping

TEST(Ranges, OnlyVisibleSeriesCountAndDegenerateSpansWiden) {
    PlotModel m;
    m.AddPoint(0, 0, 5, kT0);
    m.AddPoint(1, 1, 100, kT0 + 1);
    m.Series(0).visible = true;
    const DataRanges r = ComputeRanges(m);
    EXPECT_EQ(r.xmin, kT0);
    EXPECT_EQ(r.xmax, kT0 + 2e-7);
    EXPECT_EQ(r.ymin, 5);
    EXPECT_EQ(r.ymax, 5 + 2e-7);
    m.Series(0).visible = false;
    EXPECT_TRUE(ComputeRanges(m).Empty());
}

TEST(Ranges, EmptyChartHasNoGrid) {
    const PlotFrame f = MakeFrame(300, 200, 1, 22, 22, 22, 22, DataRanges{});
    EXPECT_EQ(ComputeTimeGrid(f).columns.size(), 0u);
    EXPECT_EQ(ComputeValueGrid(f).rows.size(), 0u);
    EXPECT_EQ(TimeLabels(f, 0, 2.5, "hh:nn:ss", SixPerChar).size(), 0u);
    EXPECT_EQ(ComputeValueLabels(f, 0, 1, SixPerChar, 13).items.size(), 0u);
}

TEST(Mapping, DataSpanIsInsetByTwiceAndFourTimesThePenWidth) {
    const PlotFrame f = MakeFrame(600, 400, 3, 30, 22, 40, 39, Ranges(kT0, kT0 + 1, -5, 5));
    EXPECT_EQ(f.Px(kT0), 30 + 6);
    EXPECT_EQ(f.Px(kT0 + 1), 600 - 22 - 6);
    EXPECT_EQ(f.Py(-5), 400 - 39 - 12);
    EXPECT_EQ(f.Py(5), 40 + 12);
}

struct PixelCase {
    int x;
    int y;
    bool inside;
};

class PixelToValueCases : public ::testing::TestWithParam<PixelCase> {};

TEST_P(PixelToValueCases, InsideOnlyWithinTheDataRanges) {
    const PlotFrame f = MakeFrame(600, 400, 3, 30, 22, 40, 39, Ranges(kT0, kT0 + 1, -5, 5));
    double value = 0;
    double time = 0;
    EXPECT_EQ(f.PixelToValue(GetParam().x, GetParam().y, value, time), GetParam().inside);
}

INSTANTIATE_TEST_SUITE_P(Cases, PixelToValueCases,
                         ::testing::Values(PixelCase{36, 349, true},   // Xmin, Ymin
                                           PixelCase{572, 52, true},   // Xmax, Ymax
                                           PixelCase{300, 200, true},  // middle
                                           PixelCase{35, 200, false},  // left of Xmin
                                           PixelCase{573, 200, false}, PixelCase{300, 51, false},
                                           PixelCase{300, 350, false}, PixelCase{0, 0, false}));

TEST(Mapping, PixelToValueInvertsTheMapping) {
    const PlotFrame f = MakeFrame(600, 400, 3, 30, 22, 40, 39, Ranges(kT0, kT0 + 1, -5, 5));
    double value = 0;
    double time = 0;
    ASSERT_TRUE(f.PixelToValue(f.Px(kT0 + 0.25), f.Py(2.5), value, time));
    EXPECT_NEAR(time, kT0 + 0.25, 1.0 / f.xscale);
    EXPECT_NEAR(value, 2.5, 1.0 / f.yscale);
}

TEST(Mapping, PixelToValueBeforeAnyRedrawIsFalse) {
    const PlotFrame f;
    double value = 1;
    double time = 1;
    EXPECT_FALSE(f.PixelToValue(100, 100, value, time));
}

TEST(Mapping, ExtremeValuesStayWithinPixelLimits) {
    PlotModel m;
    m.Series(0).visible = true;
    m.AddPoint(0, 0, -1e300, kT0);
    m.AddPoint(0, 0, 1e300, kT0 + 1e-12);
    const PlotFrame f = MakeFrame(300, 200, 1, 22, 22, 22, 22, ComputeRanges(m));
    EXPECT_EQ(f.Py(0), ClampToPixel(f.Py(0)));
    // The walks end even though a step no longer moves such coordinates.
    EXPECT_LE(ComputeValueGrid(f).rows.size(), 100000u);
    EXPECT_LE(ComputeTimeGrid(f).columns.size(), 100000u);
}

TEST(Mapping, HugeCoordinatesEndTheGridWalks) {
    const PlotFrame f =
        MakeFrame(300, 200, 1, 22, 22, 22, 22, Ranges(1e15, 1e15 + 2e-7, 1e20, 1e20));
    EXPECT_LE(ComputeValueGrid(f).rows.size(), 1u);
    EXPECT_LE(ComputeTimeGrid(f).columns.size(), 1u);
    EXPECT_LE(TimeLabels(f, 1e15, 1e-9, "", SixPerChar).size(), 1u);
}

// --- labels

TEST(Labels, TimeLabelsAreCentredUnderTheirGridLines) {
    const PlotFrame f =
        MakeFrame(600, 400, 1, 22, 22, 22, 39, Ranges(kT0 + 5 * 60 * kSec, kT0 + 2.0 / 24, 0, 1));
    const TimeGrid g = ComputeTimeGrid(f);
    const auto labels = TimeLabels(f, g.first, g.step, g.format, SixPerChar);
    ASSERT_EQ(labels.size(), 11u);  // 12:10 ... 13:50; the walk stops a step before Xmax
    EXPECT_EQ(labels[0], (TextItem{"12:10", f.Px(kT0 + 600 * kSec) - 15, 400 - 39 + 3}));
    EXPECT_EQ(labels[10].text, "13:50");
}

TEST(Labels, NumericTimeLabelsWithoutAFormat) {
    const PlotFrame f = MakeFrame(600, 400, 1, 22, 22, 22, 22, Ranges(0, 1500, 0, 1));
    const auto labels = TimeLabels(f, 0, 500, "", SixPerChar);
    std::vector<std::string> texts;
    for (const auto& l : labels) texts.push_back(l.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"500", "1e3", "1.5e3"}));
}

TEST(Labels, ValueLabelsWiderThanTheMarginWidenIt) {
    const PlotFrame f = MakeFrame(600, 300, 1, 22, 22, 22, 22, Ranges(kT0, kT0 + 1, 1000, 1003));
    const ValueGrid g = ComputeValueGrid(f);
    const ValueLabels l = ComputeValueLabels(f, g.first, g.step, SixPerChar, 14);
    ASSERT_EQ(l.items.size(), 13u);
    EXPECT_EQ(l.items[0], (TextItem{"1000", 32 - 24 - 4, f.Py(1000) - 7}));
    EXPECT_EQ(l.items[1].text, "1000.25");
    EXPECT_EQ(l.left, 42 + 8);  // the widest, "1000.25", needs 42 pixels
}

TEST(Labels, NarrowValueLabelsKeepTheMargin) {
    const PlotFrame f = MakeFrame(600, 300, 1, 22, 22, 22, 22, Ranges(kT0, kT0 + 1, 0, 3));
    const ValueGrid g = ComputeValueGrid(f);
    const auto threePerChar = [](const std::string& s) { return 3 * static_cast<int>(s.size()); };
    const ValueLabels l = ComputeValueLabels(f, g.first, g.step, threePerChar, 14);
    EXPECT_EQ(l.left, 22);
    EXPECT_EQ(l.items[1], (TextItem{"0.25", 22 - 12 - 4, f.Py(0.25) - 7}));
}

TEST(Labels, MarginsForTitleAndTimeLabels) {
    EXPECT_EQ(TopMargin(false, 16), 22);
    EXPECT_EQ(TopMargin(true, -16), 40);
    EXPECT_EQ(BottomMargin(false, 13), 22);
    EXPECT_EQ(BottomMargin(true, -13), 39);
}

// --- formats

struct DateCase {
    std::string pattern;
    std::string expected;
};

class DateFormats : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateFormats, FormatsASampleTime) {
    // 2023-05-01 09:07:05
    const double t = ToDayNumber({2023, 5, 1, 9, 7, 5, 0});
    EXPECT_EQ(FormatDateTime(GetParam().pattern, t), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, DateFormats,
    ::testing::Values(DateCase{"hh:nn:ss", "09:07:05"}, DateCase{"hh:nn", "09:07"},
                      DateCase{"hh:", "09:"}, DateCase{"hh", "09"}, DateCase{"mm.dd", "05.01"},
                      DateCase{"YYYY.mm", "2023.05"}, DateCase{"YY.mm", "23.05"},
                      DateCase{"YYYY", "2023"},
                      // "mm" is the month unless it follows an hour field
                      DateCase{"mm:ss", "05:05"}, DateCase{"hh:mm", "09:07"},
                      DateCase{"yyyy-mm-dd hh:mm:ss, ", "2023-05-01 09:07:05, "},
                      DateCase{"\"avg \"h:nn:ss", "avg 9:07:05"}, DateCase{"", ""}));

TEST(DateFormats, OutOfRangeDayNumbersGiveNoText) {
    EXPECT_EQ(FormatDateTime("hh:nn", 1e15), "");
    EXPECT_EQ(FormatDateTime("hh:nn", -1e7), "");
}

struct NumberCase {
    double v;
    std::string fixed;
    std::string exp1;
    std::string exp2;
};

class NumberFormats : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberFormats, AtMostTwoDecimals) {
    EXPECT_EQ(FormatFixed2(GetParam().v), GetParam().fixed);
    EXPECT_EQ(FormatExp2(GetParam().v, 1), GetParam().exp1);
    EXPECT_EQ(FormatExp2(GetParam().v, 2), GetParam().exp2);
}

INSTANTIATE_TEST_SUITE_P(Values, NumberFormats,
                         ::testing::Values(NumberCase{0.25, "0.25", "2.5e-1", "2.5e-01"},
                                           NumberCase{1, "1", "1e0", "1e00"},
                                           NumberCase{2.5, "2.5", "2.5e0", "2.5e00"},
                                           NumberCase{-0.001, "0", "-1e-3", "-1e-03"},
                                           NumberCase{45000.5, "45000.5", "4.5e4", "4.5e04"},
                                           NumberCase{12345, "12345", "1.23e4", "1.23e04"},
                                           NumberCase{-17.125, "-17.12", "-1.71e1", "-1.71e01"}));

// --- pixels of a series

PlotSeries SeriesOf(const std::vector<double>& ys, double dt) {
    PlotSeries s;
    for (std::size_t i = 0; i < ys.size(); ++i)
        s.Append({kT0 + static_cast<double>(i) * dt, ys[i]}, 0);
    return s;
}

TEST(SeriesPixels, ColumnExtremesKeepEachColumnsSpanAndEnds) {
    std::mt19937 rng(7);
    std::normal_distribution<double> step(0, 1);
    std::vector<double> ys;
    double y = 0;
    for (int i = 0; i < 20000; ++i) ys.push_back(y += step(rng));
    const PlotSeries s = SeriesOf(ys, kSec);
    PlotModel m;
    const PlotFrame f =
        MakeFrame(300, 200, 1, 22, 22, 22, 22,
                  Ranges(kT0, kT0 + 19999 * kSec, *std::min_element(ys.begin(), ys.end()),
                         *std::max_element(ys.begin(), ys.end())));
    std::vector<PixelPoint> all, reduced;
    SeriesToPixels(f, s, PixelReduction::None, all);
    SeriesToPixels(f, s, PixelReduction::ColumnExtremes, reduced);
    ASSERT_EQ(all.size(), 20000u);
    EXPECT_LE(reduced.size(), 4u * 257);
    EXPECT_EQ(reduced.front(), all.front());
    EXPECT_EQ(reduced.back(), all.back());
    std::map<int, std::pair<int, int>> spanAll, spanReduced;
    auto widen = [](std::map<int, std::pair<int, int>>& m, const PixelPoint& p) {
        auto [it, fresh] = m.try_emplace(p.x, p.y, p.y);
        it->second.first = std::min(it->second.first, p.y);
        it->second.second = std::max(it->second.second, p.y);
    };
    for (const auto& p : all) widen(spanAll, p);
    for (const auto& p : reduced) widen(spanReduced, p);
    EXPECT_EQ(spanReduced, spanAll);
    // The reduced points are a subsequence of all points.
    std::size_t j = 0;
    for (const auto& p : all)
        if (j < reduced.size() && p == reduced[j]) ++j;
    EXPECT_EQ(j, reduced.size());
}

TEST(SeriesPixels, ColourChangesStartANewGroup) {
    PlotSeries s;
    for (int i = 0; i < 6; ++i)
        s.Append({kT0 + i * 1e-9, static_cast<double>(i % 2)}, i < 3 ? 0 : 1);
    const PlotFrame f = MakeFrame(300, 200, 1, 22, 22, 22, 22, Ranges(kT0, kT0 + 1, 0, 1));
    std::vector<PixelPoint> reduced;
    SeriesToPixels(f, s, PixelReduction::ColumnExtremes, reduced);
    std::vector<int> slots;
    for (const auto& p : reduced) slots.push_back(p.slot);
    // Three points of slot 0 in one column (0,1,0) and three of slot 1 (1,0,1).
    EXPECT_EQ(slots, (std::vector<int>{0, 0, 0, 1, 1, 1}));
}

TEST(SeriesPixels, DuplicatesDropOnlyRepeatsOfTheSamePixel) {
    const PlotSeries s = SeriesOf({1, 1, 1, 2, 2, 1}, 1e-9);
    const PlotFrame f = MakeFrame(300, 200, 1, 22, 22, 22, 22, Ranges(kT0, kT0 + 1, 0, 2));
    std::vector<PixelPoint> dots;
    SeriesToPixels(f, s, PixelReduction::Duplicates, dots);
    ASSERT_EQ(dots.size(), 3u);
    EXPECT_EQ(dots[1].y, f.Py(2));
}

}  // namespace
}  // namespace pom

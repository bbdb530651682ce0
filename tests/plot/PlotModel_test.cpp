#include "plot/logic/PlotModel.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace pom {
namespace {

constexpr double kSec = 1.0 / 86400;
constexpr double kT0 = 45047.5;  // 2023-05-01 12:00:00

std::vector<double> Values(const PlotSeries& s) {
    std::vector<double> v;
    for (const PlotPoint& p : s.Points()) v.push_back(p.y);
    return v;
}

std::vector<double> Times(const PlotSeries& s) {
    std::vector<double> v;
    for (const PlotPoint& p : s.Points()) v.push_back(std::round((p.x - kT0) / kSec));
    return v;
}

// --- run compression

struct RunCase {
    const char* name;
    std::vector<double> values;  // added one second apart from second 0
    std::vector<double> keptValues;
    std::vector<double> keptSeconds;
};

class RunCompression : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunCompression, KeepsExpectedPoints) {
    PlotModel m;
    m.SetPrecision(100);
    const RunCase& c = GetParam();
    for (std::size_t i = 0; i < c.values.size(); ++i)
        m.AddPoint(0, 0, c.values[i], kT0 + static_cast<double>(i) * kSec);
    EXPECT_EQ(Values(m.Series(0)), c.keptValues);
    EXPECT_EQ(Times(m.Series(0)), c.keptSeconds);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunCompression,
    ::testing::Values(
        // The first three always go in; later equal values move the third.
        RunCase{"EmptySeriesFiveEqual", {5, 5, 5, 5, 5}, {5, 5, 5}, {0, 1, 4}},
        // After other points a run keeps its first and its latest point.
        RunCase{"RunAfterOtherPoints", {1, 2, 3, 5, 5, 5, 5}, {1, 2, 3, 5, 5}, {0, 1, 2, 3, 6}},
        // A single point followed by a return to the value before it is overwritten.
        RunCase{"SpikeReturningIsOverwritten", {1, 2, 5, 6, 5}, {1, 2, 5, 5}, {0, 1, 2, 4}},
        RunCase{
            "ChangingValuesAllKept", {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}, {0, 1, 2, 3, 4, 5}},
        // Equal after rounding to 0.01 counts as equal.
        RunCase{"EqualAfterRounding", {1, 2, 3, 3.001, 3.004}, {1, 2, 3, 3}, {0, 1, 2, 4}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlotModel, RoundsFromTheFourthPointOnHalfToEven) {
    PlotModel m;
    m.SetPrecision(4);  // quarters: halves of a quarter are exact binary fractions
    for (double v : {0.375, 0.625, 1.125, 0.375, 0.625, 1.875})
        m.AddPoint(0, 0, v, kT0 + static_cast<double>(m.Series(0).PointCount()) * kSec);
    // The first three keep every digit; 0.375 -> 0.5, 0.625 -> 0.5 (even), 1.875 -> 2.
    EXPECT_EQ(Values(m.Series(0)), (std::vector<double>{0.375, 0.625, 1.125, 0.5, 0.5, 2.0}));
}

TEST(PlotModel, PrecisionBelowOneBecomesOne) {
    PlotModel m;
    m.SetPrecision(0);
    EXPECT_EQ(m.Precision(), 1);
    m.SetPrecision(-5);
    EXPECT_EQ(m.Precision(), 1);
    for (double v : {1.0, 2.0, 3.0, 4.4}) m.AddPoint(0, 0, v, kT0);
    EXPECT_EQ(m.Series(0).Point(3).y, 4.0);
}

// --- averaging

TEST(PlotModel, AveragingOneMinuteWithTenSecondReadingsKeepsPointsFiftySecondsApart) {
    PlotModel m;
    m.SetPrecision(100);
    m.Averaging = true;
    m.AvgWindow = 1.0 / 1440;
    // Readings 0, 10, ... 170 s, values rising by one per reading.
    for (int k = 0; k <= 17; ++k) m.AddPoint(0, 0, k, kT0 + k * 10 * kSec);
    EXPECT_EQ(Times(m.Series(0)), (std::vector<double>{0, 10, 60, 110, 160, 170}));
    // Point at 60 s: 2, then halving toward 3, 4, 5, 6.
    const double at60 = ((((2 + 3) / 2.0 + 4) / 2 + 5) / 2 + 6) / 2;
    const double at110 = ((((7 + 8) / 2.0 + 9) / 2 + 10) / 2 + 11) / 2;
    const double at160 = ((((12 + 13) / 2.0 + 14) / 2 + 15) / 2 + 16) / 2;
    EXPECT_EQ(Values(m.Series(0)),
              (std::vector<double>{0, 1, m.RoundToPrecision(at60), m.RoundToPrecision(at110),
                                   m.RoundToPrecision(at160), 17}));
}

TEST(PlotModel, AveragingOffKeepsEveryReading) {
    PlotModel m;
    m.AvgWindow = 1.0 / 1440;
    for (int k = 0; k < 10; ++k) m.AddPoint(0, 0, k, kT0 + k * 10 * kSec);
    EXPECT_EQ(m.Series(0).PointCount(), 10);
}

TEST(PlotModel, AveragingAfterClockSetBackDoesNotSwallowLaterReadings) {
    PlotModel m;
    m.SetPrecision(100);
    m.Averaging = true;
    m.AvgWindow = 1.0 / 1440;
    for (int k = 0; k < 3; ++k) m.AddPoint(0, 0, k, kT0 + k * 600 * kSec);
    // The station's clock jumps an hour back; readings then come every 2 minutes.
    const double back = kT0 - 3600 * kSec;
    for (int k = 0; k < 5; ++k) m.AddPoint(0, 0, 10 + k, back + k * 120 * kSec);
    EXPECT_EQ(m.Series(0).PointCount(), 8);
}

// --- storage

TEST(PlotModel, CapacityDoublesWhenTheCountReachesIt) {
    PlotModel m;
    PlotSeries& s = m.Series(3);
    EXPECT_EQ(s.Capacity(), 200u);
    std::vector<std::pair<int, std::size_t>> seen;
    for (int k = 1; k <= 801; ++k) {
        m.AddPoint(3, 3, k, kT0 + k * kSec);
        if (k == 199 || k == 200 || k == 399 || k == 400 || k == 800)
            seen.emplace_back(k, s.Capacity());
    }
    EXPECT_EQ(seen, (std::vector<std::pair<int, std::size_t>>{
                        {199, 200}, {200, 400}, {399, 400}, {400, 800}, {800, 1600}}));
    // A stored point costs 16 bytes; with the doubling at most twice that.
    EXPECT_LE(s.AllocatedBytes(), 32u * 801);
}

TEST(PlotModel, ClearPlotEmptiesHidesAndResetsCapacity) {
    PlotModel m;
    m.SeriesCount = 4;
    for (int i = 0; i < PlotModel::kSlots; ++i) {
        m.Series(i).visible = true;
        for (int k = 0; k < 300; ++k) m.AddPoint(i, i, k, kT0 + k * kSec);
    }
    m.ClearPlot();
    EXPECT_EQ(m.SeriesCount, 0);
    for (int i = 0; i < PlotModel::kSlots; ++i) {
        EXPECT_EQ(m.Series(i).PointCount(), 0) << i;
        EXPECT_EQ(m.Series(i).Capacity(), 200u) << i;
        EXPECT_FALSE(m.Series(i).visible) << i;
    }
}

struct RejectCase {
    int series;
    double value;
    double time;
};

class AddPointRejects : public ::testing::TestWithParam<RejectCase> {};

TEST_P(AddPointRejects, LeavesEverySeriesUnchanged) {
    PlotModel m;
    const RejectCase& c = GetParam();
    EXPECT_EQ(m.AddPoint(0, c.series, c.value, c.time), PlotModel::AddResult::Rejected);
    for (int i = 0; i < PlotModel::kSlots; ++i) EXPECT_EQ(m.Series(i).PointCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, AddPointRejects,
                         ::testing::Values(RejectCase{11, 1, kT0}, RejectCase{-1, 1, kT0},
                                           RejectCase{0, NAN, kT0}, RejectCase{0, INFINITY, kT0},
                                           RejectCase{0, 1, -INFINITY}, RejectCase{0, 1, NAN}));

TEST(PlotModel, AppendResetsLayerOptionButAReplaceDoesNot) {
    PlotModel m;
    for (int k = 0; k < 3; ++k) m.AddPoint(0, 0, 7, kT0 + k * kSec);
    m.LayerOption = true;
    EXPECT_EQ(m.AddPoint(0, 0, 7, kT0 + 10 * kSec), PlotModel::AddResult::Replaced);
    EXPECT_TRUE(m.LayerOption);
    EXPECT_EQ(m.AddPoint(0, 0, 8, kT0 + 11 * kSec), PlotModel::AddResult::Appended);
    EXPECT_FALSE(m.LayerOption);
}

// --- thinning past the full-resolution horizon

struct ThinCase {
    const char* name;
    double days, stepSec;  // of readings
    double horizon;        // FullResolutionDays
    int colourEvery;       // 0: one colour
    bool clockBack;        // the clock goes back a day at 70 % of the run
    bool coarse;           // old enough for blocks to be thinned again
};

void PrintTo(const ThinCase& c, std::ostream* os) {
    *os << c.name;
}

class Thinning : public ::testing::TestWithParam<ThinCase> {};

TEST_P(Thinning, KeepsRecentPointsWholeAndEachOldBlocksExtremes) {
    const ThinCase& c = GetParam();
    // The same readings into a model that keeps every point and one that thins.
    PlotModel all, thin;
    all.FullResolutionDays = 0;
    thin.FullResolutionDays = c.horizon;
    for (PlotModel* m : {&all, &thin}) {
        m->SetPrecision(100);
        std::mt19937 rng(21);
        std::normal_distribution<double> d(0, 0.3);
        double v = 20;
        const int n = static_cast<int>(c.days * 86400 / c.stepSec);
        for (int k = 0; k < n; ++k) {
            const double t = kT0 + k * c.stepSec * kSec - (c.clockBack && k >= n * 7 / 10 ? 1 : 0);
            m->AddPoint(c.colourEvery > 0 ? k / c.colourEvery % 7 : 0, 0, v += d(rng), t);
        }
    }
    const PlotSeries& a = all.Series(0);
    const PlotSeries& t = thin.Series(0);
    const int thinned = t.ThinnedCount();
    ASSERT_GT(thinned, 0);
    // Each block of 64 thinned gives its first, lowest, highest and last
    // point in order and colour; every point after them is kept as it came.
    // Coarse blocks, thinned again, give the same for their 512 points.
    std::vector<int> want;
    const int offset = a.PointCount() - (t.PointCount() - thinned);
    EXPECT_EQ(t.CoarseBlocks() > 0, c.coarse);
    for (int b = 0, k = 0; b < offset; ++k) {
        const int size = k < t.CoarseBlocks() ? 512 : 64;
        ASSERT_LE(b + size, offset);
        int lo = b, hi = b;
        for (int i = b; i < b + size; ++i) {
            if (a.Point(i).y < a.Point(lo).y) lo = i;
            if (a.Point(i).y > a.Point(hi).y) hi = i;
        }
        for (int i : {b, std::min(lo, hi), std::max(lo, hi), b + size - 1})
            if (want.empty() || want.back() != i) want.push_back(i);
        b += size;
    }
    ASSERT_EQ(static_cast<int>(want.size()), thinned);
    for (int i = offset; i < a.PointCount(); ++i) want.push_back(i);
    ASSERT_EQ(static_cast<int>(want.size()), t.PointCount());
    for (int j = 0; j < t.PointCount(); ++j) {
        const int i = want[static_cast<std::size_t>(j)];
        ASSERT_EQ(t.Point(j).x, a.Point(i).x) << j;
        ASSERT_EQ(t.Point(j).y, a.Point(i).y) << j;
        ASSERT_EQ(t.ColorSlotAt(j), a.ColorSlotAt(i)) << j;
    }
    // Nothing within the horizon of the newest time was thinned, nor within
    // eight horizons thinned again.
    EXPECT_LT(t.Point(thinned - 1).x, t.Bounds().xmax - c.horizon);
    if (c.coarse) {
        const int lastCoarse =
            std::find(want.begin(), want.end(), 512 * t.CoarseBlocks() - 1) - want.begin();
        EXPECT_LT(t.Point(lastCoarse).x, t.Bounds().xmax - 8 * c.horizon);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Thinning,
                         ::testing::Values(ThinCase{"MonthEveryMinute", 30, 60, 7, 0, false, false},
                                           ThinCase{"TwoDaysHalfDayWhole", 2, 10, 0.5, 0, false,
                                                    false},
                                           ThinCase{"ColourRuns", 20, 60, 1, 1000, false, true},
                                           ThinCase{"ClockBackADay", 40, 60, 3, 0, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Thinning, AYearOfReadingsStaysSmall) {
    PlotModel m;
    m.SetPrecision(100);
    std::mt19937 rng(22);
    std::normal_distribution<double> d(0, 0.3);
    double v = 20;
    const int n = 365 * 8640;  // every 10 s
    for (int k = 0; k < n; ++k) m.AddPoint(0, 0, v += d(rng), kT0 + k * 10 * kSec);
    const PlotSeries& s = m.Series(0);
    // A week whole, and at most half of it again between the thinning passes.
    EXPECT_LE(s.PointCount() - s.ThinnedCount(), 7 * 8640 * 3 / 2 + 64);
    // Four of each 64 readings for seven weeks, of each 512 before them.
    EXPECT_LE(s.ThinnedCount(), 49 * 8640 / 16 * 3 / 2 + n / 128);
    EXPECT_LE(s.AllocatedBytes(), 32u * static_cast<std::size_t>(s.PointCount()));
}

// --- colours

TEST(PlotModel, ColourIndexWrapsModuloSeven) {
    EXPECT_EQ(SeriesColorSlot(0), 0);
    EXPECT_EQ(SeriesColorSlot(9), 2);
    EXPECT_EQ(SeriesColorSlot(-1), 6);
    EXPECT_EQ(kSeriesColors[3], (Rgb{0, 0, 128}));
}

TEST(PlotModel, PointsKeepTheColourTheyWereStoredOrReplacedWith) {
    PlotModel m;
    m.AddPoint(0, 0, 1, kT0);
    m.AddPoint(1, 0, 2, kT0 + kSec);
    m.AddPoint(1, 0, 4, kT0 + 2 * kSec);
    m.AddPoint(1, 0, 4, kT0 + 3 * kSec);
    m.AddPoint(9, 0, 4, kT0 + 4 * kSec);  // replaces the last point in slot 2
    const PlotSeries& s = m.Series(0);
    std::vector<int> slots;
    for (int i = 0; i < s.PointCount(); ++i) slots.push_back(s.ColorSlotAt(i));
    EXPECT_EQ(slots, (std::vector<int>{0, 1, 1, 2}));
    EXPECT_EQ(m.PenSlot(), 2);
    m.AddPoint(1, 0, 4, kT0 + 5 * kSec);  // back to slot 1: the runs join again
    EXPECT_EQ(s.ColorRuns().size(), 2u);
    EXPECT_EQ(s.ColorSlotAt(3), 1);
}

// --- day numbers

struct DayCase {
    LocalDateTime t;
    double days;
};

class DayNumbers : public ::testing::TestWithParam<DayCase> {};

TEST_P(DayNumbers, ConvertBothWays) {
    EXPECT_DOUBLE_EQ(ToDayNumber(GetParam().t), GetParam().days);
    EXPECT_EQ(FromDayNumber(GetParam().days), GetParam().t);
}

INSTANTIATE_TEST_SUITE_P(Cases, DayNumbers,
                         ::testing::Values(DayCase{{1899, 12, 30, 0, 0, 0, 0}, 0.0},
                                           DayCase{{1970, 1, 1, 0, 0, 0, 0}, 25569.0},
                                           DayCase{{2023, 5, 1, 12, 0, 0, 0}, 45047.5},
                                           DayCase{{2023, 5, 1, 6, 0, 0, 0}, 45047.25},
                                           DayCase{{2024, 2, 29, 18, 0, 0, 0}, 45351.75}));

TEST(DayNumbers, SecondsSurviveTheRoundTrip) {
    const LocalDateTime t{2026, 12, 8, 23, 59, 59, 0};
    EXPECT_EQ(FromDayNumber(ToDayNumber(t)), t);
}

}  // namespace
}  // namespace pom

#include "plot/logic/SeriesPixels.h"

#include <cmath>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/plot/PlotTestData.h"

namespace pom {
namespace {

constexpr double kT0 = 45047.5;  // 2023-05-01 12:00:00

enum class Shape {
    Walk,
    Spikes,
    FlatRuns,
    ClockSetBack,  // the station's clock jumps back an hour now and then
    Gaps,          // hours without readings, then a burst
    ShakyClock,    // times a few seconds back and forth
};

struct SeriesCase {
    const char* name;
    int points;
    Shape shape;
    bool averaging;   // merges close points: many replacements of the last one
    int colourEvery;  // 0: one colour; else the colour changes after this many
};

void PrintTo(const SeriesCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<test::Sample> MakeSamples(const SeriesCase& c) {
    switch (c.shape) {
        case Shape::Spikes:
            return test::Spikes(c.points, kT0, 10, 2);
        case Shape::FlatRuns:
            return test::FlatRuns(c.points, kT0, 10, 3);
        default:
            break;
    }
    std::vector<test::Sample> out = test::RandomWalk(c.points, kT0, 10, 4);
    std::mt19937 rng(5);
    double shift = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (c.shape == Shape::ClockSetBack && i % 5000 == 4999) shift -= 3600 * test::kDaySec;
        if (c.shape == Shape::Gaps && rng() % 3000 == 0) shift += 7200 * test::kDaySec;
        if (c.shape == Shape::ShakyClock)
            shift = static_cast<double>(rng() % 31) * test::kDaySec - 15 * test::kDaySec;
        out[i].t += shift;
    }
    return out;
}

PlotModel Build(const SeriesCase& c) {
    PlotModel m;
    m.SetPrecision(100);
    m.Averaging = c.averaging;
    m.AvgWindow = 60 * test::kDaySec;
    std::mt19937 rng(6);
    int colour = 0;
    int k = 0;
    for (const test::Sample& s : MakeSamples(c)) {
        if (c.colourEvery > 0 && ++k % c.colourEvery == 0) colour = static_cast<int>(rng() % 7);
        // Now and then a single reading in another colour.
        const int col = c.colourEvery > 0 && rng() % 997 == 0 ? colour + 1 : colour;
        m.AddPoint(col, 0, s.v, s.t);
    }
    m.Series(0).visible = true;
    return m;
}

struct Zoom {
    const char* name;
    int width;
    int height;
    int pen;
    double from;  // part of the data's time span at the plot's left edge
    double to;
};

// The chart's own frame (all the data) at several sizes, and narrower or
// wider time spans, so points also fall left and right of the plot.
constexpr Zoom kZooms[] = {
    {"MainWindow", 1244, 779, 3, 0, 1},   {"Small", 300, 200, 1, 0, 1},
    {"Middle", 1244, 779, 3, 0.45, 0.55}, {"Wide", 5000, 600, 1, -0.5, 1.5},
    {"Deep", 900, 500, 1, 0.3, 0.3001},   {"TooSmall", 30, 20, 3, 0, 1},
};

PlotFrame FrameFor(const PlotModel& m, const Zoom& z) {
    DataRanges r = ComputeRanges(m);
    const double span = r.xmax - r.xmin;
    const double x0 = r.xmin;
    r.xmin = x0 + z.from * span;
    r.xmax = x0 + z.to * span;
    return MakeFrame(z.width, z.height, z.pen, 22, 22, 22, 22, r);
}

class Pyramid : public ::testing::TestWithParam<SeriesCase> {};

TEST_P(Pyramid, ColumnExtremesEqualThoseOfAWalkOverEveryPoint) {
    const PlotModel m = Build(GetParam());
    const PlotSeries& s = m.Series(0);
    for (const Zoom& z : kZooms) {
        const PlotFrame f = FrameFor(m, z);
        std::vector<PixelPoint> scan, pyramid;
        SeriesToPixels(f, s, PixelReduction::ColumnExtremesByScan, scan);
        SeriesToPixels(f, s, PixelReduction::ColumnExtremes, pyramid);
        ASSERT_EQ(pyramid.size(), scan.size()) << z.name;
        for (std::size_t i = 0; i < scan.size(); ++i)
            ASSERT_EQ(pyramid[i], scan[i]) << z.name << " at " << i << " (x " << scan[i].x << ")";
    }
}

TEST_P(Pyramid, EveryBlockHoldsTheExtentOfItsPoints) {
    const PlotModel m = Build(GetParam());
    const PlotSeries& s = m.Series(0);
    const auto n = static_cast<std::size_t>(s.PointCount());
    for (int level = 1; level <= s.SummaryLevels(); ++level) {
        const std::size_t size = std::size_t{1} << (PlotSeries::kFanBits * level);
        ASSERT_EQ(s.LevelSize(level), (n + size - 1) / size) << level;
        for (std::size_t j = 0; j < s.LevelSize(level); ++j) {
            PointExtent want{1e300, -1e300, 1e300, -1e300};
            for (std::size_t i = j * size; i < std::min(n, (j + 1) * size); ++i) {
                want.xmin = std::min(want.xmin, s.At(i).x);
                want.xmax = std::max(want.xmax, s.At(i).x);
                want.ymin = std::min(want.ymin, s.At(i).y);
                want.ymax = std::max(want.ymax, s.At(i).y);
            }
            const PointExtent& got = s.Block(level, j);
            ASSERT_EQ(got.xmin, want.xmin) << level << "/" << j;
            ASSERT_EQ(got.xmax, want.xmax) << level << "/" << j;
            ASSERT_EQ(got.ymin, want.ymin) << level << "/" << j;
            ASSERT_EQ(got.ymax, want.ymax) << level << "/" << j;
        }
    }
    // One block on top, so the ranges cost a handful of steps.
    if (n > 0) {
        EXPECT_LE(s.LevelSize(s.SummaryLevels()), PlotSeries::kFan);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Pyramid,
    ::testing::Values(SeriesCase{"OnePoint", 1, Shape::Walk, false, 0},
                      SeriesCase{"BlockEdge", 64, Shape::Walk, false, 0},
                      SeriesCase{"BlockEdgePlusOne", 65, Shape::Spikes, false, 0},
                      SeriesCase{"SecondLevelEdge", 4097, Shape::Walk, false, 0},
                      SeriesCase{"Walk", 70000, Shape::Walk, false, 0},
                      SeriesCase{"SpikesAveraged", 70000, Shape::Spikes, true, 0},
                      SeriesCase{"FlatRunsReplaced", 70000, Shape::FlatRuns, false, 0},
                      SeriesCase{"ClockSetBack", 70000, Shape::ClockSetBack, true, 0},
                      SeriesCase{"Gaps", 70000, Shape::Gaps, false, 0},
                      SeriesCase{"ShakyClock", 20000, Shape::ShakyClock, false, 0},
                      SeriesCase{"ColourRuns", 70000, Shape::Walk, false, 3000},
                      SeriesCase{"ColourEveryFewPoints", 20000, Shape::Spikes, false, 7},
                      SeriesCase{"FourLevels", 300000, Shape::Walk, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Pyramid, RangesKeepTheFirstOfEqualZeros) {
    // A reading of -0.001 rounds to -0; the value labels must not read "-0".
    PlotModel m;
    m.SetPrecision(100);
    for (double v : {0.0, 1.0, 2.0, -0.001, 3.0}) m.AddPoint(0, 0, v, kT0 + v);
    m.Series(0).visible = true;
    EXPECT_FALSE(std::signbit(ComputeRanges(m).ymin));
}

}  // namespace
}  // namespace pom

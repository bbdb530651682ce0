#include "plot/logic/SeriesPixels.h"

#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/plot/PlotTestData.h"

namespace pom {
namespace {

constexpr double kT0 = 45047.5;  // 2023-05-01 12:00:00

using Samples = std::vector<test::Sample>;

// A random walk of n readings 10 s apart, each moved by shift(i) seconds.
Samples Walk(int n, double (*shift)(std::size_t)) {
    Samples s = test::RandomWalk(n, kT0, 10, 4);
    for (std::size_t i = 0; i < s.size(); ++i) s[i].t += shift(i) * test::kDaySec;
    return s;
}
double Steady(std::size_t) {
    return 0;
}
double ClockSetBack(std::size_t i) {  // an hour back every 5000 readings
    return -3600.0 * static_cast<double>(i / 5000);
}
double Gaps(std::size_t i) {  // two hours without readings every 3000
    return 7200.0 * static_cast<double>(i / 3000);
}
double ShakyClock(std::size_t i) {  // up to 15 s early or late
    return static_cast<double>(i * 7919 % 31) - 15;
}

struct SeriesCase {
    const char* name;
    std::function<Samples()> make;
    bool averaging;   // merges close points: many replacements of the last one
    int colourEvery;  // 0: one colour; else a new colour after this many readings
};

void PrintTo(const SeriesCase& c, std::ostream* os) {
    *os << c.name;
}

struct Zoom {
    const char* name;
    int width, height, pen;
    double from, to;  // the plot's time span, in parts of the data's
};

// The chart's own frame at several sizes, and narrower or wider spans, so
// points also fall left and right of the plot.
constexpr Zoom kZooms[] = {
    {"MainWindow", 1244, 779, 3, 0, 1},   {"Small", 300, 200, 1, 0, 1},
    {"Middle", 1244, 779, 3, 0.45, 0.55}, {"Wide", 5000, 600, 1, -0.5, 1.5},
    {"Deep", 900, 500, 1, 0.3, 0.3001},   {"TooSmall", 30, 20, 3, 0, 1},
};

class Pyramid : public ::testing::TestWithParam<SeriesCase> {};

TEST_P(Pyramid, ColumnExtremesEqualThoseOfAWalkOverEveryPoint) {
    const SeriesCase& c = GetParam();
    PlotModel m;
    m.SetPrecision(100);
    m.Averaging = c.averaging;
    m.AvgWindow = 60 * test::kDaySec;
    m.FullResolutionDays = 0;
    std::mt19937 rng(6);
    int colour = 0, k = 0;
    for (const test::Sample& s : c.make()) {
        if (c.colourEvery > 0 && ++k % c.colourEvery == 0) colour = static_cast<int>(rng() % 7);
        // Now and then a single reading in another colour.
        m.AddPoint(c.colourEvery > 0 && rng() % 997 == 0 ? colour + 1 : colour, 0, s.v, s.t);
    }
    m.Series(0).visible = true;
    const DataRanges all = ComputeRanges(m);
    for (const Zoom& z : kZooms) {
        DataRanges r = all;
        r.xmin = all.xmin + z.from * (all.xmax - all.xmin);
        r.xmax = all.xmin + z.to * (all.xmax - all.xmin);
        const PlotFrame f = MakeFrame(z.width, z.height, z.pen, 22, 22, 22, 22, r);
        std::vector<PixelPoint> scan, pyramid;
        SeriesToPixels(f, m.Series(0), PixelReduction::ColumnExtremesByScan, scan);
        SeriesToPixels(f, m.Series(0), PixelReduction::ColumnExtremes, pyramid);
        ASSERT_EQ(pyramid.size(), scan.size()) << z.name;
        for (std::size_t i = 0; i < scan.size(); ++i)
            ASSERT_EQ(pyramid[i], scan[i]) << z.name << " at " << i << " (x " << scan[i].x << ")";
    }
}

// Sizes around the block edges (8, 64, 4096) up to five levels.
INSTANTIATE_TEST_SUITE_P(
    Cases, Pyramid,
    ::testing::Values(
        SeriesCase{"OnePoint", [] { return Walk(1, Steady); }, false, 0},
        SeriesCase{"FirstEdgePlusOne", [] { return test::Spikes(9, kT0, 10, 2); }, false, 0},
        SeriesCase{"BlockEdge", [] { return Walk(64, Steady); }, false, 0},
        SeriesCase{"BlockEdgePlusOne", [] { return test::Spikes(65, kT0, 10, 2); }, false, 0},
        SeriesCase{"SecondLevelEdge", [] { return Walk(4097, Steady); }, false, 0},
        SeriesCase{"SpikesAveraged", [] { return test::Spikes(70000, kT0, 10, 2); }, true, 0},
        SeriesCase{"FlatRunsReplaced", [] { return test::FlatRuns(70000, kT0, 10, 3); }, false, 0},
        SeriesCase{"ClockSetBack", [] { return Walk(70000, ClockSetBack); }, true, 0},
        SeriesCase{"Gaps", [] { return Walk(70000, Gaps); }, false, 0},
        SeriesCase{"ShakyClock", [] { return Walk(20000, ShakyClock); }, false, 0},
        SeriesCase{"ColourRuns", [] { return Walk(70000, Steady); }, false, 3000},
        SeriesCase{"ColourEveryFewPoints", [] { return test::Spikes(20000, kT0, 10, 2); }, false,
                   7},
        SeriesCase{"FourLevels", [] { return Walk(300000, Steady); }, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pom

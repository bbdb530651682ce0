// The zoom into the thinned past: with the points read back for its window,
// the chart draws what it would have drawn had it kept every point.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "plot/logic/PlotLayout.h"
#include "plot/logic/PlotModel.h"
#include "plot/logic/SeriesPixels.h"
#include "tests/plot/PlotTestData.h"

namespace pom {
namespace {

using test::Sample;

constexpr double kT0 = 45047.0;  // 2023-05-01 00:00

using Shape = std::vector<Sample> (*)(int n, double t0, double stepSec, std::uint32_t seed);

void Configure(PlotModel& m, double horizonDays, bool averaging) {
    m.SetPrecision(100);
    m.FullResolutionDays = horizonDays;
    m.Averaging = averaging;
    m.AvgWindow = 60.0 / 86400;
    m.Series(0).visible = true;
}

// What a read-back of the files gives: the samples after the seam before
// `from` up to the last save at `to`, added to the chart's seed; maybe
// averaged otherwise than the chart, as other rules would.
PlotModel SeededReadBack(const PlotModel& chart, const std::vector<Sample>& samples, double from,
                         double to, bool otherAveraging = false) {
    std::array<double, 11> after{};
    PlotModel m = SeedZoomPoints(chart, from, after);
    m.Averaging = m.Averaging != otherAveraging;
    for (const Sample& s : samples)
        if (s.t > after[0] && s.t < to) m.AddPoint(0, 0, s.v, s.t);
    return m;
}

// The pixels drawn, after the frame's ranges, so a wrong range fails too.
using Picture = std::tuple<double, double, double, double, std::vector<PixelPoint>>;

Picture Draw(const PlotModel& m, PixelReduction reduction = PixelReduction::ColumnExtremes) {
    const PlotFrame f = MakeFrame(1188, 702, 3, kPlotMargin, kPlotMargin, kPlotMargin, kPlotMargin,
                                  ComputeRanges(m));
    std::vector<PixelPoint> p;
    SeriesToPixels(f, m.Drawn(0), reduction, p);
    return {f.ranges.xmin, f.ranges.xmax, f.ranges.ymin, f.ranges.ymax, std::move(p)};
}

// Every point in `all`, the same thinned past the horizon in `thin`.
void Fill(PlotModel& all, PlotModel& thin, const std::vector<Sample>& samples, bool averaging) {
    Configure(all, 0, averaging);
    Configure(thin, 2, averaging);
    for (const Sample& s : samples) {
        all.AddPoint(0, 0, s.v, s.t);
        thin.AddPoint(0, 0, s.v, s.t);
    }
    // Thinning runs now and then as points come; here it catches up, and
    // the first six days are thinned again.
    const double newest = thin.Series(0).Bounds().xmax;
    thin.Series(0).ThinBefore(newest - 2, newest - 6);
}

struct ZoomCase {
    const char* name;
    Shape shape;
    double stepSec;
    bool averaging;
    double viewFrom;  // days after kT0
    double viewDays;
    double savedDays = 12;  // the files end there; the series' own points after it are whole
    // An incomplete read-back: it starts this many days after the view's
    // start, or is averaged otherwise.
    double readFrom = -1;
    bool otherAveraging = false;
};

class ZoomIntoThinned : public ::testing::TestWithParam<ZoomCase> {};

TEST_P(ZoomIntoThinned, DrawsWhatEveryPointWouldHaveDrawn) {
    const ZoomCase& c = GetParam();
    const std::vector<Sample> samples =
        c.shape(static_cast<int>(12 * 86400 / c.stepSec), kT0, c.stepSec, 7);
    PlotModel all, thin;
    Fill(all, thin, samples, c.averaging);
    ASSERT_GT(thin.Series(0).ThinnedCount(), 0);
    // A walk leaves points enough for thinned blocks to be thinned again.
    if (c.shape == test::RandomWalk) {
        ASSERT_GT(thin.Series(0).CoarseBlocks(), 0);
    }
    const TimeSpan view{kT0 + c.viewFrom, kT0 + c.viewFrom + c.viewDays};
    ASSERT_LT(view.from, *thin.ThinnedUntil());
    all.SetView(view);
    thin.SetView(view);
    // The thinned points alone draw another picture, or the test proves nothing.
    EXPECT_NE(Draw(thin, PixelReduction::None), Draw(all, PixelReduction::None));
    if (c.readFrom > 0 || c.otherAveraging) {
        // Files missing or damaged, or points added by other rules: the chart
        // keeps drawing its thinned points rather than a picture with a hole.
        const Picture before = Draw(thin);
        PlotModel part =
            SeededReadBack(thin, samples, view.from + c.readFrom, kT0 + 12, c.otherAveraging);
        EXPECT_EQ(thin.SetOverlay(std::move(part), {view.from - 1, view.to + 1}), 0);
        EXPECT_FALSE(thin.HasOverlay());
        EXPECT_EQ(Draw(thin), before);
        return;
    }

    const auto readBack = [&] {
        return SeededReadBack(thin, samples, view.from - 1, kT0 + c.savedDays);
    };
    PlotModel full = readBack();
    const TimeSpan cover{view.from - 1, std::min(view.to + 1, full.Series(0).Bounds().xmax)};
    ASSERT_EQ(thin.SetOverlay(std::move(full), cover), 1);
    EXPECT_EQ(Draw(thin), Draw(all));
    EXPECT_EQ(Draw(thin, PixelReduction::None), Draw(all, PixelReduction::None));

    // Narrower inside the cover: the points stay and still draw the same.
    const TimeSpan inner{view.from + c.viewDays / 4, view.to - c.viewDays / 4};
    all.SetView(inner);
    thin.SetView(inner);
    EXPECT_TRUE(thin.HasOverlay());
    EXPECT_EQ(Draw(thin), Draw(all));

    // Moved out of the cover: the full points go.
    thin.SetView({cover.from - 0.2, cover.from + 0.1});
    EXPECT_FALSE(thin.HasOverlay());
    // Back, then a later reading: drawn too.
    all.SetView(view);
    thin.SetView(view);
    ASSERT_EQ(thin.SetOverlay(readBack(), cover), 1);
    EXPECT_EQ(Draw(thin), Draw(all));
    all.AddPoint(0, 0, 99, kT0 + 11.99);
    thin.AddPoint(0, 0, 99, kT0 + 11.99);
    EXPECT_EQ(Draw(thin), Draw(all));
    // Out of the zoom: the full points go.
    thin.ClearView();
    EXPECT_FALSE(thin.HasOverlay());
    EXPECT_EQ(thin.Drawn(0).series, &thin.Series(0));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZoomIntoThinned,
    ::testing::Values(ZoomCase{"WalkOneDay", test::RandomWalk, 10, false, 3, 1},
                      ZoomCase{"SpikesThreeDays", test::Spikes, 30, false, 2, 3},
                      ZoomCase{"RunsTwoHours", test::FlatRuns, 10, false, 5.3, 2.0 / 24},
                      ZoomCase{"WalkAveragedEveryFiveSeconds", test::RandomWalk, 5, true, 6, 1},
                      // Into the thinned past and on into the whole points, saved or not.
                      ZoomCase{"AcrossTheHorizon", test::RandomWalk, 10, false, 8, 3},
                      ZoomCase{"OnIntoTheUnsavedPoints", test::RandomWalk, 10, false, 9, 3, 11},
                      // Refused: the files start too late, nothing read, other averaging.
                      ZoomCase{"FilesStartTooLate", test::RandomWalk, 10, false, 3, 1, 12, 0.5},
                      ZoomCase{"NothingRead", test::RandomWalk, 10, false, 3, 1, 12, 5},
                      ZoomCase{"OtherAveraging", test::RandomWalk, 10, false, 3, 1, 12, -1, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pom

// Chart speed and memory: full redraw of four long series (1 M and 10 M
// points) against drawing every point, the column reduction through the
// pyramid against a walk over every point, a million AddPoint calls on a
// visible series, bytes per point, and a year of readings with and without
// the thinning of points older than a week.
// `plot_bench --shot=FILE.png` instead saves a picture of a day of four channels,
// `--days-shot=N,FILE.png` one of the live chart after N days.

#include <QApplication>
#include <QPixmap>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "plot/logic/SeriesPixels.h"
#include "plot/ui/TPlotPanel.h"
#include "tests/plot/PlotTestData.h"

namespace {

constexpr double kT0 = 45047.5;  // 2023-05-01 12:00:00

// The main window's chart with a plot area of 1188 x 702 pixels.
std::unique_ptr<pom::TPlotPanel> FourLongSeries(bool fast, int pointsPerSeries) {
    auto p = std::make_unique<pom::TPlotPanel>();
    pom::ConfigureMainWindowChart(*p);
    p->SetFastDrawing(fast);
    p->SetPrecision(100);         // as the main window sets it
    p->SetFullResolutionDays(0);  // every point kept: 10 M at 1 s span months
    // Margins: left 22 grown by the labels, right 22, top and bottom 22 plus texts.
    p->resize(1200 + 44, 700 + 40 + 39);
    for (int s = 0; s < 4; ++s) {
        p->SetSeriesVisible(s, true);
        for (const auto& d : pom::test::RandomWalk(pointsPerSeries, kT0, 1, 100 + s))
            p->AddPoint(s, s, d.v + 3 * s, d.t);
    }
    p->Redraw();  // settle the left margin before timing
    p->Redraw();
    return p;
}

// state.range(0): points per series.
void Redraw(benchmark::State& state, bool fast) {
    auto p = FourLongSeries(fast, static_cast<int>(state.range(0)));
    for (auto _ : state) p->Redraw();
    long points = 0;
    std::size_t bytes = 0;
    for (int s = 0; s < 4; ++s) {
        points += p->PointCount(s);
        bytes += p->Model().Series(s).AllocatedBytes();
    }
    const QRect plot(QPoint(p->Frame().PlotLeft(), p->Frame().PlotTop()),
                     QPoint(p->Frame().PlotRight() - 1, p->Frame().PlotBottom() - 1));
    state.counters["points"] = static_cast<double>(points);
    state.counters["plot_w"] = plot.width();
    state.counters["plot_h"] = plot.height();
    state.counters["bytes_per_point"] = static_cast<double>(bytes) / static_cast<double>(points);
}

void BM_RedrawColumnExtremes(benchmark::State& state) {
    Redraw(state, true);
}
void BM_RedrawEveryPoint(benchmark::State& state) {
    Redraw(state, false);
}
BENCHMARK(BM_RedrawColumnExtremes)->Arg(250000)->Arg(2500000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawEveryPoint)
    ->Arg(250000)
    ->Arg(2500000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

// The reduction alone, four series as above: through the pyramid, and by the
// walk over every point that the chart did before it.
void ColumnExtremes(benchmark::State& state, pom::PixelReduction how) {
    auto p = FourLongSeries(true, static_cast<int>(state.range(0)));
    std::vector<pom::PixelPoint> out;
    std::size_t kept = 0;
    for (auto _ : state) {
        kept = 0;
        for (int s = 0; s < 4; ++s) {
            pom::SeriesToPixels(p->Frame(), p->Model().Series(s), how, out);
            kept += out.size();
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["pixel_points"] = static_cast<double>(kept);
}
void BM_ColumnExtremesPyramid(benchmark::State& state) {
    ColumnExtremes(state, pom::PixelReduction::ColumnExtremes);
}
void BM_ColumnExtremesByScan(benchmark::State& state) {
    ColumnExtremes(state, pom::PixelReduction::ColumnExtremesByScan);
}
BENCHMARK(BM_ColumnExtremesPyramid)->Arg(250000)->Arg(2500000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColumnExtremesByScan)->Arg(250000)->Arg(2500000)->Unit(benchmark::kMillisecond);

void BM_AddPointMillionVisible(benchmark::State& state) {
    const auto data = pom::test::RandomWalk(1000000, kT0, 1, 7);
    for (auto _ : state) {
        state.PauseTiming();
        auto p = std::make_unique<pom::TPlotPanel>();
        pom::ConfigureMainWindowChart(*p);
        p->resize(800, 500);
        p->SetPrecision(100);
        p->SetSeriesVisible(0, true);
        const int redrawsBefore = p->RedrawCount();
        state.ResumeTiming();
        for (const auto& d : data) p->AddPoint(0, 0, d.v, d.t);
        // The one redraw the burst asked for.
        QApplication::processEvents();
        benchmark::DoNotOptimize(p->PointCount(0));
        state.PauseTiming();
        state.counters["points"] = p->PointCount(0);
        state.counters["redraws"] = p->RedrawCount() - redrawsBefore;
        p.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AddPointMillionVisible)->Unit(benchmark::kMillisecond)->Iterations(3);

// state.range(0): points added (some merge by the run rule).
void BM_BytesPerPoint(benchmark::State& state) {
    pom::PlotModel m;
    m.SetPrecision(100);
    m.FullResolutionDays = 0;
    const auto data = pom::test::RandomWalk(static_cast<int>(state.range(0)), kT0, 1, 9);
    for (auto _ : state) {
        m.ClearPlot();
        for (const auto& d : data) m.AddPoint(0, 0, d.v, d.t);
    }
    const pom::PlotSeries& s = m.Series(0);
    state.counters["points"] = s.PointCount();
    state.counters["bytes_per_point"] = static_cast<double>(s.AllocatedBytes()) / s.PointCount();
    // Right after a growth the storage is twice the count: the worst case.
    pom::PlotModel fresh;
    for (int i = 0; i < 409600; ++i) fresh.AddPoint(0, 0, i, kT0 + i * 1e-5);
    state.counters["worst_bytes_per_point"] =
        static_cast<double>(fresh.Series(0).AllocatedBytes()) / fresh.Series(0).PointCount();
}
BENCHMARK(BM_BytesPerPoint)
    ->Arg(1000000)
    ->Arg(10000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// A year of one channel read every 10 s. state.range(0): days kept at full
// resolution, 0 for all of them.
void BM_YearOfReadings(benchmark::State& state) {
    const auto data = pom::test::RandomWalk(365 * 8640, kT0, 10, 10);
    std::size_t bytes = 0;
    int points = 0;
    int whole = 0;
    for (auto _ : state) {
        pom::PlotModel m;
        m.SetPrecision(100);
        m.FullResolutionDays = static_cast<double>(state.range(0));
        for (const auto& d : data) m.AddPoint(0, 0, d.v, d.t);
        const pom::PlotSeries& s = m.Series(0);
        bytes = s.AllocatedBytes();
        points = s.PointCount();
        whole = s.PointCount() - s.ThinnedCount();
    }
    state.counters["readings"] = static_cast<double>(data.size());
    state.counters["points"] = points;
    state.counters["whole_points"] = whole;
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["bytes_per_point"] = static_cast<double>(bytes) / points;
}
BENCHMARK(BM_YearOfReadings)->Arg(0)->Arg(7)->Unit(benchmark::kMillisecond)->Iterations(1);

// The live chart after state.range(0) days of four channels read every 10 s,
// the last week kept whole, the rest thinned. As the days gather, each pixel
// column holds more points: the redraw may grow with their logarithm only.
// The chart after `days` days, built once per size: google benchmark calls a
// case several times while it settles its iteration count.
pom::TPlotPanel& ChartAfterDays(int days) {
    static std::map<int, std::unique_ptr<pom::TPlotPanel>> charts;
    auto& p = charts[days];
    if (p) return *p;
    p = std::make_unique<pom::TPlotPanel>();
    pom::ConfigureMainWindowChart(*p);
    p->SetPrecision(100);
    p->SetFullResolutionDays(7);
    p->resize(1188 + 44, 702 + 40 + 39);
    for (int s = 0; s < 4; ++s) {
        p->SetSeriesVisible(s, true);
        // Daily swings with noise and drift, in hundredths, as a station's
        // thermometers send them.
        for (int d = 0; d < days; ++d)
            for (const auto& r : pom::test::DayOfChannel(s, kT0 + d, 10, 20 + d))
                p->AddPoint(s, s, r.v, r.t);
    }
    p->Redraw();
    p->Redraw();
    return *p;
}

void BM_RedrawAfterDays(benchmark::State& state) {
    pom::TPlotPanel& p = ChartAfterDays(static_cast<int>(state.range(0)));
    for (auto _ : state) p.Redraw();
    long points = 0;
    for (int s = 0; s < 4; ++s) points += p.PointCount(s);
    state.counters["points"] = static_cast<double>(points);
}
// The same chart's column reduction alone, without the drawing.
void BM_ReductionAfterDays(benchmark::State& state) {
    pom::TPlotPanel& p = ChartAfterDays(static_cast<int>(state.range(0)));
    std::vector<pom::PixelPoint> out;
    for (auto _ : state)
        for (int s = 0; s < 4; ++s) {
            pom::SeriesToPixels(p.Frame(), p.Model().Drawn(s), pom::PixelReduction::ColumnExtremes,
                                out);
            benchmark::DoNotOptimize(out.data());
        }
}
BENCHMARK(BM_ReductionAfterDays)
    ->Arg(14)
    ->Arg(49)
    ->Arg(120)
    ->Arg(365)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawAfterDays)->Arg(14)->Arg(49)->Arg(120)->Arg(365)->Unit(benchmark::kMillisecond);

int SaveDayOfFourChannels(const char* path) {
    pom::TPlotPanel p;
    pom::ConfigureMainWindowChart(p);
    p.resize(1000, 560);
    const char* names[] = {"A", "B", "C", ""};
    p.SetPrecision(100);
    p.SetSeriesCount(4);
    for (int s = 0; s < 4; ++s) {
        p.SetSeriesName(s, names[s]);
        p.SetSeriesVisible(s, true);
        for (const auto& d : pom::test::DayOfChannel(s, kT0 - 0.5, 10, 2023))
            p.AddPoint(s, s, d.v, d.t);
    }
    p.SetPodpis("4 kana\xb3y, 8640 odczyt\xf3w na kana\xb3");  // Windows-1250
    p.Redraw();
    p.Redraw();
    return p.grab().save(QString::fromLocal8Bit(path)) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--shot=", 7) == 0) return SaveDayOfFourChannels(argv[i] + 7);
        // The live chart after N days: `--days-shot=N,FILE.png`.
        if (std::strncmp(argv[i], "--days-shot=", 12) == 0) {
            char* file = nullptr;
            const long days = std::strtol(argv[i] + 12, &file, 10);
            if (days < 1 || *file != ',') return 2;
            return ChartAfterDays(static_cast<int>(days))
                           .grab()
                           .save(QString::fromLocal8Bit(file + 1))
                       ? 0
                       : 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

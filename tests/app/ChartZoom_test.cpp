// Zooming into the thinned past: the stretch's lines read back from the dated
// files on a worker give the picture the chart would draw with every point.
#include "app/logic/ChartZoom.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/logic/Readings.h"
#include "plot/logic/PlotLayout.h"
#include "plot/logic/SeriesPixels.h"
#include "serial/QueuedDispatcher.h"
#include "tests/support/FakeReadingsHost.h"
#include "tests/support/TestSupport.h"
#include "util/Clock.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

using ::testing::HasSubstr;

constexpr double kMay1 = 45047.0;  // 2023-05-01 00:00 as a day number
constexpr int kDays = 6;
constexpr int kStepSec = 20;

// The live path's plotting into a chart model.
class Feed final : public test::FakeReadingsHost {
public:
    explicit Feed(PlotModel& m) : model(m) {}
    void AddPoint(int series, int colorIndex, double time, double value) override {
        model.AddPoint(colorIndex, series, value, time);
    }
    PlotModel& model;
};

class Host final : public ChartZoomHost {
public:
    std::string Stamp() override { return "2023-05-09 12:00:00 "; }
    void AppendLog(std::string line) override { log.push_back(std::move(line)); }
    const PlotModel& ChartModel() const override { return chart; }
    int SetZoomPoints(PlotModel&& full, TimeSpan cover) override {
        return chart.SetOverlay(std::move(full), cover);
    }
    PlotModel chart;
    std::vector<std::string> log;
};

// Six days of readings of four channels; a file's text a day.
std::vector<std::string> Days() {
    std::mt19937 rng(5);
    std::normal_distribution<double> d(0, 0.3);
    std::uniform_int_distribution<int> stay(0, 3);
    double v[4] = {20, 5, 1000, 50};
    std::vector<std::string> days(kDays);
    char buf[64];
    for (int s = 0; s < kDays * 86400; s += kStepSec) {
        const std::string when = FormatStamp(FromDayNumber(kMay1 + s / 86400.0));
        for (double& x : v)
            if (stay(rng) != 0) x += d(rng);
        std::snprintf(buf, sizeof buf, "%.2f %.2f %.2f %.2f W4r:0\r\n", v[0], v[1], v[2], v[3]);
        days[static_cast<std::size_t>(s / 86400)] += when + "R:" + when + buf;
    }
    return days;
}

std::vector<PixelPoint> Pixels(const PlotModel& m, int series) {
    const PlotFrame f = MakeFrame(1188, 702, 3, kPlotMargin, kPlotMargin, kPlotMargin, kPlotMargin,
                                  ComputeRanges(m));
    std::vector<PixelPoint> out;
    SeriesToPixels(f, m.Drawn(series), PixelReduction::ColumnExtremes, out);
    return out;
}

enum class Damage { None, DayMissing, ZerosInDay, NoFolder };

struct ZoomCase {
    const char* name;
    bool averaging;
    double viewFrom;  // days after May 1
    double viewDays;
    Damage damage;
    bool read;           // the zoom reaches into the thinned points and reads
    const char* said;    // part of a line logged, or ""; else the full points are drawn
    bool leave = false;  // the zoom is left while the worker reads
};

class ZoomTable : public ::testing::TestWithParam<ZoomCase> {};

TEST_P(ZoomTable, ReadsTheThinnedStretchBackFromTheFiles) {
    const ZoomCase& c = GetParam();
    const bool full = c.read && !*c.said && !c.leave;
    test::TempDir dir;
    const std::string data = dir.path() + "/data";
    QueuedDispatcher main;
    Host host;
    const auto days = Days();
    PlotModel all;
    for (PlotModel* m : {&host.chart, &all}) {
        m->SetPrecision(100);
        m->Averaging = c.averaging;
        m->AvgWindow = 60.0 / 86400;
        m->FullResolutionDays = m == &all ? 0 : 1;
        for (int k = 0; k < 4; ++k) m->Series(k).visible = true;
        Feed feed(*m);
        StationValues values;
        Readings readings(feed, values);
        for (const std::string& day : days)
            for (std::size_t at = 0, end; (end = day.find('\r', at)) != std::string::npos;
                 at = end + 2) {
                int count = 0;
                readings.PlotReading(ReadingRecord(day.substr(at + 20, end - at - 20), count));
            }
    }
    for (int k = 0; k < 4; ++k)
        host.chart.Series(k).ThinBefore(host.chart.Series(k).Bounds().xmax - 1);
    ASSERT_GT(host.chart.Series(0).ThinnedCount(), 0);

    const int damaged = static_cast<int>(c.viewFrom);
    for (int day = 0; day < kDays && c.damage != Damage::NoFolder; ++day) {
        std::string text = days[static_cast<std::size_t>(day)];
        if (c.damage == Damage::DayMissing && day == damaged) continue;
        if (c.damage == Damage::ZerosInDay && day == damaged)
            text.replace(text.size() / 2, 4000, std::string(4000, '\0'));
        std::filesystem::create_directories(data);
        test::WriteFile(data + "/Ardu" + FormatStamp(FromDayNumber(kMay1 + day)).substr(0, 10) +
                            " 23_59_59.txt",
                        text);
    }

    const TimeSpan view{kMay1 + c.viewFrom, kMay1 + c.viewFrom + c.viewDays};
    host.chart.SetView(view);
    all.SetView(view);
    // The thinned points alone draw another picture, or the test proves nothing.
    if (c.read) {
        EXPECT_NE(Pixels(host.chart, 0), Pixels(all, 0));
    }
    ChartZoom zoom(host, main);
    zoom.ViewChanged(data, "YYYY-MM-DD hh_mm_ss", StationValues{}, true);
    if (c.leave) {
        host.chart.ClearView();
        zoom.ViewChanged(data, "YYYY-MM-DD hh_mm_ss", StationValues{}, true);
    }
    EXPECT_EQ(zoom.Running(), c.read && !c.leave);
    ASSERT_TRUE(main.PumpUntil([&] { return !zoom.Running(); }));
    main.Pump();

    EXPECT_EQ(host.chart.HasOverlay(), full);
    for (int k = 0; k < 4 && c.read; ++k)
        EXPECT_EQ(Pixels(host.chart, k) == Pixels(all, k), full) << "series " << k;
    std::string said;
    for (const std::string& l : host.log) said += l;
    EXPECT_EQ(said.empty(), !*c.said);
    EXPECT_THAT(said, HasSubstr(Cp(c.said)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZoomTable,
    ::testing::Values(ZoomCase{"AThinnedDay", false, 2, 1, Damage::None, true, ""},
                      ZoomCase{"TwoHoursAveraged", true, 1.5, 2.0 / 24, Damage::None, true, ""},
                      ZoomCase{"FirstDay", false, 0, 0.5, Damage::None, true, ""},
                      ZoomCase{"TheDaysFileMissing", false, 2.2, 0.5, Damage::DayMissing, true,
                               "nie mają wszystkich punktów"},
                      ZoomCase{"ZerosInTheDaysFile", false, 3, 1, Damage::ZerosInDay, true,
                               "niedozwolonymi bajtami"},
                      ZoomCase{"NoSavedFiles", false, 2, 1, Damage::NoFolder, true,
                               "brak zapisanych plików"},
                      // Within the whole points, or wider than a read-back pays for.
                      ZoomCase{"RecentHours", false, 5.2, 0.5, Damage::None, false, ""},
                      ZoomCase{"WholeSpan", false, 0, 40, Damage::None, false, ""},
                      ZoomCase{"LeftWhileReading", false, 2, 1, Damage::None, true, "", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pom

// Rebuilding the chart from a long data log ("odśwież Rys"): from the click to
// the end of the one paint, in the main window, for logs of 100 000 and
// 1 000 000 lines as a long run leaves them (readings, their announcements,
// the catch-up commands, barometer lines and status lines); and the log pass
// alone, into the chart's point model without a window.
#include <QApplication>
#include <QDate>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "app/logic/ChartRebuild.h"
#include "app/logic/DataLog.h"
#include "app/logic/Readings.h"
#include "app/ui/LogMemo.h"
#include "app/ui/TMonitorT.h"
#include "plot/logic/PlotModel.h"
#include "plot/ui/TPlotPanel.h"
#include "util/Clock.h"
#include "util/TdmUtil.h"

namespace {

constexpr pom::LocalDateTime kStart{2023, 5, 1, 0, 0, 0, 0};

// Ten lines a turn: three readings with their announcements, two catch-up
// commands, a barometer line and a status line, a second apart.
std::string LongRunLog(int lines) {
    std::string text;
    text.reserve(static_cast<std::size_t>(lines) * 70);
    char buf[160];
    for (int i = 0; i < lines; ++i) {
        const pom::LocalDateTime t = pom::AddSeconds(kStart, i);
        const pom::LocalDateTime st = pom::AddSeconds(kStart, i - 2);
        const std::string stamp = pom::FormatStamp(t);
        const std::string station = pom::FormatStamp(st).substr(0, 19);
        const int k = i % 10;
        const double v = 20 + (i % 317) * 0.01;
        switch (k) {
            case 0:
            case 3:
            case 6:
                std::snprintf(buf, sizeof buf, "A:%s %.2f %.2f 3.30 %.2f W4r:1", station.c_str(), v,
                              v - 0.6, v / 2);
                break;
            case 1:
            case 4:
                std::snprintf(buf, sizeof buf, "send command: R<");
                break;
            case 2:
            case 5:
            case 7:
                std::snprintf(buf, sizeof buf, "R:%s %.2f %.2f 3.30 %.2f W4r:0", station.c_str(), v,
                              i % 50 == 7 ? -888.0 : v - 0.6, v / 2);
                break;
            case 8:
                std::snprintf(buf, sizeof buf, "O:%.1f;%.1f;%.1f", 980 + v, v, 45 + v / 10);
                break;
            default:
                std::snprintf(buf, sizeof buf,
                              i % 20 == 9 ? "Open: ttyACM0: 57600" : "problem 160424 ccer:8");
                break;
        }
        text += stamp;
        text += buf;
        text += "\r\n";
    }
    return text;
}

// The log pass with the chart's own point model behind it.
class ModelHost final : public pom::ReadingsHost, public pom::ChartRebuildHost {
public:
    pom::PlotModel model;
    int valueCount = 4;

    std::string Stamp() override { return "2023-05-12 00:00:00 "; }
    void AppendLog(std::string) override {}
    int ValueCount() const override { return valueCount; }
    void SetValueCount(int n) override { valueCount = n; }
    int PostInterval() const override { return 300; }
    void AddPoint(int series, int colorIndex, double time, double value) override {
        model.AddPoint(colorIndex, series, value, time);
    }
    void SetMacText(const std::string&) override {}
    void ShiftSeries(int, int, int) override {}
    void SetStatusText(const std::string&) override {}
    void ShowBarometerLabels(const pom::BarometerLabels&) override {}
    void SetAllSeriesVisible(bool) override {}
    void ClearPlot() override { model.ClearPlot(); }
    void PausePort() override {}
    void ResumePort() override {}
    pom::LocalDateTime RebuildStartDate() const override { return kStart; }
    void AltitudeReply(const std::string&) override {}
    void TemperatureReply(const std::string&) override {}
    void ShowChannels() override {}
};

void BM_LogPassIntoPointModel(benchmark::State& state) {
    pom::DataLog log;
    log.SetText(LongRunLog(static_cast<int>(state.range(0))));
    ModelHost host;
    host.model.SetPrecision(100);
    host.model.Averaging = true;
    host.model.AvgWindow = 60 / 86400.0;
    pom::StationValues values;
    pom::Readings readings(host, values);
    for (auto _ : state) pom::RebuildChartFromLog(log, host, readings);
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["points_s0"] = host.model.Series(0).PointCount();
}
BENCHMARK(BM_LogPassIntoPointModel)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

struct ConfigHome {
    ConfigHome() {
        char tmpl[] = "/tmp/pom-chart-bench-XXXXXX";
        dir = mkdtemp(tmpl);
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    }
    ~ConfigHome() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string dir;
};

// From the click on "odśwież Rys" to the chart on the screen.
void BM_RebuildButtonToPaint(benchmark::State& state) {
    ConfigHome home;
    pom::TdmUtil util(pom::DefaultClock());
    pom::TMonitorT w(util, pom::MonitorOptions{});
    w.StartTimer().stop();  // no port opening in the middle of the measurement
    w.Channel(0).setChecked(true);
    w.Channel(1).setChecked(true);
    w.Channel(3).setChecked(true);
    w.StartDatePicker().setDate(QDate(kStart.year, kStart.month, kStart.day));
    w.Pages().setCurrentWidget(&w.ChartPage());
    w.resize(1280, 800);
    w.show();
    w.Log().SetText(LongRunLog(static_cast<int>(state.range(0))));
    QApplication::processEvents();
    const int redraws = w.Plot().RedrawCount();
    for (auto _ : state) {
        w.RebuildButton().click();
        w.InfoMemo().FlushPending();  // the "Active 1<" line
        w.Plot().repaint();           // the paint onto the screen
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    long points = 0;
    for (int s = 0; s < 4; ++s) points += w.Plot().PointCount(s);
    state.counters["points"] = static_cast<double>(points);
    state.counters["redraws_per_rebuild"] = static_cast<double>(w.Plot().RedrawCount() - redraws) /
                                            static_cast<double>(state.iterations());
}
BENCHMARK(BM_RebuildButtonToPaint)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

// Rebuilding the chart from a long data log ("odśwież Rys"): from the click to
// the end of the one paint, in the main window, for logs of 100 000 and
// 1 000 000 lines as a long run leaves them (readings, their announcements,
// the catch-up commands, barometer lines and status lines); and the log pass
// alone, into the chart's point model without a window; and the rebuild from
// a year of dated files (about 3 million lines, one line every 10 s) in a
// temporary data folder, read on the worker and plotted in batches into the
// point model, for daily files and for the five-minute files of the default
// periodic save.
#include <QApplication>
#include <QDate>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "app/logic/ChartFileRebuild.h"
#include "app/logic/ChartRebuild.h"
#include "app/logic/DataLog.h"
#include "app/logic/Readings.h"
#include "app/ui/LogMemo.h"
#include "app/ui/TMonitorT.h"
#include "plot/logic/PlotModel.h"
#include "plot/ui/TPlotPanel.h"
#include "serial/QueuedDispatcher.h"
#include "util/Clock.h"
#include "util/DateMask.h"
#include "util/TdmUtil.h"

namespace {

constexpr pom::LocalDateTime kStart{2023, 5, 1, 0, 0, 0, 0};

// Line i of a long run: ten lines a turn, three readings with their
// announcements, two catch-up commands, a barometer line and a status line.
std::string RunLine(int i, int stepSeconds) {
    char buf[160];
    const pom::LocalDateTime t = pom::AddSeconds(kStart, static_cast<long long>(i) * stepSeconds);
    const pom::LocalDateTime st = pom::AddSeconds(t, -2);
    const std::string station = pom::FormatStamp(st).substr(0, 19);
    const double v = 20 + (i % 317) * 0.01;
    switch (i % 10) {
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
    return pom::FormatStamp(t) + buf;
}

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

constexpr int kYearLines = 3153600;  // a year of one line every 10 s

// A year of saves in a temporary data folder, `perFile` lines each, named
// with the default mask at the second after their last line.
struct YearOfFiles {
    explicit YearOfFiles(int perFile) {
        char tmpl[] = "/tmp/pom-rebuild-bench-XXXXXX";
        folder = mkdtemp(tmpl);
        std::string text;
        for (int first = 0; first < kYearLines; first += perFile) {
            const int end = std::min(kYearLines, first + perFile);
            text.clear();
            for (int i = first; i < end; ++i) {
                text += RunLine(i, 10);
                text += "\r\n";
            }
            const pom::LocalDateTime saved = pom::AddSeconds(kStart, end * 10L + 1);
            const std::string name = folder + "/" +
                                     pom::FormatDateTimeMask("\"Ardu\"YYYY-MM-DD hh_mm_ss", saved) +
                                     ".txt";
            std::FILE* f = std::fopen(name.c_str(), "wb");
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
            ++files;
        }
    }
    ~YearOfFiles() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    std::string folder;
    int files = 0;
};

// From the start to the last batch plotted, the main thread taking the
// batches as they come.
void BM_RebuildFromAYearOfFiles(benchmark::State& state) {
    YearOfFiles year(static_cast<int>(state.range(0)));
    ModelHost host;
    host.model.SetPrecision(100);
    host.model.Averaging = true;
    host.model.AvgWindow = 60 / 86400.0;
    pom::StationValues values;
    pom::Readings readings(host, values);
    pom::QueuedDispatcher main;
    pom::DataLog memory;
    pom::ChartFileRebuild rebuild(host, readings, main);
    for (auto _ : state) {
        rebuild.Start(year.folder, "YYYY-MM-DD hh_mm_ss", memory);
        if (!main.PumpUntil([&] { return !rebuild.Running(); }, std::chrono::minutes(5)))
            state.SkipWithError("rebuild did not end");
    }
    state.SetItemsProcessed(state.iterations() * kYearLines);
    state.counters["lines_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kYearLines, benchmark::Counter::kIsRate);
    state.counters["files"] = year.files;
    state.counters["points_s0"] = host.model.Series(0).PointCount();
}
BENCHMARK(BM_RebuildFromAYearOfFiles)
    ->ArgName("lines_per_file")
    ->Arg(8640)
    ->Arg(30)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

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
        // The lines are plotted in batches the worker hands over.
        while (w.FileRebuild().Running()) QApplication::processEvents(QEventLoop::AllEvents, 5);
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

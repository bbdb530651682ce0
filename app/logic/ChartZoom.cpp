#include "app/logic/ChartZoom.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <functional>
#include <limits>
#include <utility>

#include "app/logic/ChartFileRebuild.h"
#include "app/logic/ChartRebuild.h"
#include "app/logic/Readings.h"
#include "util/Cp1250.h"

namespace pom {

namespace {

const std::string kRebuildSays = "odbudowa wykresu";

// The rebuild's plotting, pointed at the zoom's own model: the lines go in
// exactly as the rebuild puts them, and nothing of the window is touched.
class ZoomPlotting final : public ChartRebuildHost, public ReadingsHost {
public:
    ZoomPlotting(PlotModel& model, const std::array<double, PlotModel::kSlots>& after,
                 std::vector<std::string>& complaints)
        : model_(model), after_(after), complaints_(complaints) {}

    // Both hosts
    std::string Stamp() override { return {}; }
    void AppendLog(std::string line) override {
        // The rebuild's complaints, said as the zoom's.
        if (line.starts_with(kRebuildSays))
            line = Cp("powiększenie wykresu") + line.substr(kRebuildSays.size());
        complaints_.push_back(std::move(line));
    }
    int ValueCount() const override { return valueCount_; }
    void SetValueCount(int n) override { valueCount_ = n; }
    void SetStatusText(const std::string&) override {}

    // ChartRebuildHost
    void SetAllSeriesVisible(bool) override {}
    void ClearPlot() override {}
    void PausePort() override {}
    void ResumePort() override {}
    LocalDateTime RebuildStartDate() const override { return {}; }
    // The station's values of now reduce the barometer values.
    void AltitudeReply(const std::string&) override {}
    void TemperatureReply(const std::string&) override {}
    void ShowChannels() override {}

    // ReadingsHost
    int PostInterval() const override { return 300; }
    void AddPoint(int series, int colorIndex, double time, double value) override {
        // The points up to the seam are in the seed already.
        if (series < 0 || series >= PlotModel::kSlots) return;
        if (time <= after_[static_cast<std::size_t>(series)]) return;
        model_.AddPoint(colorIndex, series, value, time);
    }
    void ShiftSeries(int first, int count, int by) override {
        for (int i = first + count - 1; i >= first; --i) {
            const int to = i + by;
            if (to >= 0 && to < PlotModel::kSlots) {
                const bool visible = model_.Series(to).visible;
                model_.Series(to) = std::move(model_.Series(i));
                model_.Series(to).visible = visible;
            }
            model_.Series(i).Clear();
        }
    }
    void SetMacText(const std::string&) override {}
    void ShowBarometerLabels(const BarometerLabels&) override {}

private:
    PlotModel& model_;
    const std::array<double, PlotModel::kSlots>& after_;
    std::vector<std::string>& complaints_;
    int valueCount_ = 1;
};

}  // namespace

ChartZoom::ChartZoom(ChartZoomHost& host, CancellableDispatcher& main) : host_(host), main_(main) {}

ChartZoom::~ChartZoom() {
    Cancel();
}

void ChartZoom::ViewChanged(const std::string& folder, const std::string& mask,
                            const StationValues& values, bool readingsSeen) {
    const PlotModel& m = host_.ChartModel();
    if (!m.View()) {
        Cancel();
        return;
    }
    const TimeSpan v = *m.View();
    if (m.HasOverlay()) return;  // it covers the view, or the view dropped it
    if (Running() && reading_.from <= v.from && v.to <= reading_.to) return;
    Cancel();
    const std::optional<double> until = m.ThinnedUntil();
    if (folder.empty() || !until || v.from > *until || v.to - v.from > kMaxDays) return;

    Job job;
    job.folder = folder;
    job.mask = mask;
    job.view = v;
    job.cover = {v.from - kMarginDays, v.to + kMarginDays};
    job.seed = SeedZoomPoints(m, job.cover.from, job.after);
    job.values = values;
    job.readingsSeen = readingsSeen;
    reading_ = job.cover;
    finished_ = false;
    thread_ = std::thread([this, job = std::move(job)]() mutable {
        Run(job);
        finished_ = true;
    });
}

void ChartZoom::Cancel() {
    if (!thread_.joinable()) return;
    cancel_ = true;
    JoinDroppingCalls(thread_, finished_, main_);
    cancel_ = false;
}

ChartZoom::Result ChartZoom::Read(Job& job, const std::atomic<bool>& cancel) {
    Result r;
    r.full = std::move(job.seed);
    double readFrom = job.cover.from;
    for (double a : job.after)
        if (std::isfinite(a) && a < readFrom) readFrom = a;
    const std::string from = FormatRebuildDate(FromDayNumber(readFrom));
    // The names the rebuild complains of are its to say; a zoom reads what
    // it can.
    const RebuildFileList list = ListRebuildFiles(job.folder, job.mask, from);
    std::vector<RebuildFile> files;
    for (const RebuildFile& f : list.files) {
        files.push_back(f);
        if (ToDayNumber(f.latest) >= job.cover.to) break;
    }
    if (files.empty()) {
        r.complaints.push_back(Cp("powiększenie wykresu: brak zapisanych plików od ") + from +
                               Cp(", zostają punkty przerzedzone"));
        return r;
    }
    ZoomPlotting plotting(r.full, job.after, r.complaints);
    Readings readings(plotting, job.values);
    if (job.readingsSeen) readings.NoteReadingsSeen(false);
    RebuildPlotter plotter(plotting, readings);
    RebuildScanner scanner(from, [&plotter](RebuildBatch&& b) { plotter.Apply(b); });
    std::size_t unreadable = 0;
    ScanRebuildFiles(files, scanner, cancel, {}, &unreadable);
    scanner.Flush();
    if (unreadable > 0)
        r.complaints.push_back(Cp("powiększenie wykresu: nie wszystkie pliki od ") + from +
                               Cp(" dały się odczytać, zostają punkty przerzedzone"));
    r.complete = unreadable == 0 && !cancel;
    // After the files' last line the chart's own points are the ones from
    // memory, not thinned: the cover ends there.
    r.cover = job.cover;
    double last = -std::numeric_limits<double>::infinity();
    for (int i = 0; i < PlotModel::kSlots; ++i)
        if (r.full.Series(i).PointCount() > 0)
            last = std::max(last, r.full.Series(i).Bounds().xmax);
    if (last < r.cover.to) r.cover.to = last;
    return r;
}

void ChartZoom::Run(Job& job) {
    Result r;
    try {
        r = Read(job, cancel_);
    } catch (const std::exception& e) {
        r.complete = false;
        r.complaints.push_back(Cp("powiększenie wykresu przerwane: ") + e.what());
    }
    if (cancel_) return;
    const std::function<void()> finish = [this, &r] {
        if (cancel_) return;
        for (const std::string& c : r.complaints) host_.AppendLog(host_.Stamp() + c);
        const PlotModel& m = host_.ChartModel();
        // The user zoomed elsewhere meanwhile, or left the zoom.
        if (!r.complete || !m.View() || !m.CoverServes(r.cover, *m.View())) return;
        if (host_.SetZoomPoints(std::move(r.full), r.cover) == 0)
            host_.AppendLog(host_.Stamp() +
                            Cp("powiększenie wykresu: zapisane pliki nie mają wszystkich "
                               "punktów wykresu z tego okresu, zostają punkty przerzedzone"));
    };
    main_.SyncCall(finish);
}

}  // namespace pom

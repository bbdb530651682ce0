#pragma once

#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/logic/ReceivePath.h"
#include "plot/logic/PlotModel.h"
#include "serial/CancellableDispatcher.h"

namespace pom {

// What the zoom's read-back needs from the window. Texts are Windows-1250.
class ChartZoomHost {
public:
    virtual ~ChartZoomHost() = default;
    // "yyyy-mm-dd hh:mm:ss " of the PC's current local time.
    virtual std::string Stamp() = 0;
    // One line into the data log.
    virtual void AppendLog(std::string line) = 0;
    // The chart's points, rules and view as they are now.
    virtual const PlotModel& ChartModel() const = 0;
    // Full-resolution points for the view (PlotModel::SetOverlay), drawn at
    // once; returns how many series took them.
    virtual int SetZoomPoints(PlotModel&& full, TimeSpan cover) = 0;
};

// Zooming into the thinned past reads that stretch's lines back from the
// station's dated files, on a worker, through the same filter and plotting
// as the rebuild, and shows them at full resolution while the zoom lasts.
// Files that cannot be read, or that miss points the chart kept, leave the
// thinned points as they are, said in the log. Main thread only.
class ChartZoom {
public:
    // A wider zoom shows the thinned points: its columns hold many blocks
    // each, and reading it back would cost the memory the thinning saved.
    static constexpr double kMaxDays = 31;
    // Read beyond the view on both sides, so the lines into and out of it
    // and a small pan stay at full resolution.
    static constexpr double kMarginDays = 1;

    ChartZoom(ChartZoomHost& host, CancellableDispatcher& main);
    ~ChartZoom();
    ChartZoom(const ChartZoom&) = delete;
    ChartZoom& operator=(const ChartZoom&) = delete;

    // The chart's view changed. When it reaches into the thinned past and
    // the chart has no full-resolution points for it, they are read from the
    // files in `folder` (named through `mask`); a read-back under way for
    // another view is given up. `values` are the station's values the
    // barometer lines are reduced with; `readingsSeen` as Readings says.
    void ViewChanged(const std::string& folder, const std::string& mask,
                     const StationValues& values, bool readingsSeen);
    // Stops the worker and waits for it.
    void Cancel();
    bool Running() const { return thread_.joinable() && !finished_; }

private:
    struct Job {
        std::string folder, mask;
        TimeSpan view, cover;
        PlotModel seed;
        std::array<double, PlotModel::kSlots> after{};
        StationValues values;
        bool readingsSeen = false;
    };
    struct Result {
        PlotModel full;
        TimeSpan cover;
        std::vector<std::string> complaints;
        bool complete = false;
    };

    void Run(Job& job);
    static Result Read(Job& job, const std::atomic<bool>& cancel);

    ChartZoomHost& host_;
    CancellableDispatcher& main_;
    std::thread thread_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> finished_{false};
    TimeSpan reading_;  // the cover of the read-back under way
};

}  // namespace pom

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "util/Clock.h"

namespace pom {

// Point times are day numbers: days since 1899-12-30, the fraction being the
// time of day. The chart rebuild and the live path both use them.
double ToDayNumber(const LocalDateTime& t);
LocalDateTime FromDayNumber(double days);

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool operator==(const Rgb&) const = default;
};

// The seven series colours, indexed by colour index modulo 7.
inline constexpr std::array<Rgb, 7> kSeriesColors = {{
    {0, 128, 0},    // green
    {0, 0, 255},    // blue
    {255, 0, 0},    // red
    {0, 0, 128},    // navy
    {255, 0, 255},  // fuchsia
    {0, 255, 255},  // aqua
    {255, 255, 0},  // yellow
}};

// Palette slot of a colour index, also for negative indexes.
int SeriesColorSlot(int colorIndex);

struct PlotPoint {
    double x = 0;  // day number
    double y = 0;
};

// A run of points sharing one colour, from `start` to the next run's start.
// Points almost never change colour, so one run per series is the usual case
// and a point costs its 16 bytes only.
struct ColorRun {
    std::uint32_t start = 0;
    std::uint8_t slot = 0;  // index into kSeriesColors
};

class PlotSeries {
public:
    static constexpr std::size_t kInitialCapacity = 200;

    PlotSeries();

    int PointCount() const { return static_cast<int>(points_.size()); }
    std::size_t Capacity() const { return capacity_; }
    const std::vector<PlotPoint>& Points() const { return points_; }
    const PlotPoint& Point(int i) const { return points_[static_cast<std::size_t>(i)]; }
    const std::vector<ColorRun>& ColorRuns() const { return runs_; }
    int ColorSlotAt(int i) const;
    // Bytes held by the point storage (capacity, not count).
    std::size_t AllocatedBytes() const;

    void Append(PlotPoint p, int slot);
    void ReplaceLast(PlotPoint p, int slot);
    void Clear();

    std::string name;  // Windows-1250, drawn as the series' legend mark
    bool visible = false;

private:
    void SetLastColor(int slot);

    std::vector<PlotPoint> points_;
    std::vector<ColorRun> runs_;
    std::size_t capacity_ = kInitialCapacity;
};

// The chart's points and the rules for adding them: rounding, run
// compression and the averaging of close points.
class PlotModel {
public:
    static constexpr int kSlots = 11;

    enum class AddResult {
        Rejected,  // series out of range or a value/time that is not a finite number
        Replaced,  // the last point took the new time and value
        Appended,
    };

    int SeriesCount = 0;  // for the owner; the chart does not read it
    bool Averaging = false;
    double AvgWindow = 0;  // days

    PlotSeries& Series(int i) { return series_.at(static_cast<std::size_t>(i)); }
    const PlotSeries& Series(int i) const { return series_.at(static_cast<std::size_t>(i)); }

    int Precision() const { return precision_; }
    // Values below 1 become 1: the rounding divides by it.
    void SetPrecision(int p) { precision_ = p < 1 ? 1 : p; }

    // Palette slot of the last point added (the pen colour).
    int PenSlot() const { return penSlot_; }
    bool LayerOption = false;

    AddResult AddPoint(int colorIndex, int series, double value, double time);
    void ClearPlot();

    double RoundToPrecision(double v) const;

private:
    std::array<PlotSeries, kSlots> series_;
    int precision_ = 1;
    int penSlot_ = 0;
};

}  // namespace pom

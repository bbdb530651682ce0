#include "plot/logic/PlotModel.h"

#include <cmath>

namespace pom {

namespace {
constexpr double kUnixEpochDay = 25569.0;  // 1970-01-01 as a day number
constexpr double kMsPerDay = 86400000.0;
// Times come from whole-second stamps; this keeps a gap of exactly one window
// from being merged because of the day numbers' binary fractions.
constexpr double kWindowSlack = 1e-9;
}  // namespace

double ToDayNumber(const LocalDateTime& t) {
    LocalDateTime midnight = t;
    midnight.hour = midnight.minute = midnight.second = midnight.msec = 0;
    const double day = std::floor(static_cast<double>(ToCalendarSeconds(midnight)) / 86400.0);
    const double ms = ((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + t.msec;
    return kUnixEpochDay + day + ms / kMsPerDay;
}

LocalDateTime FromDayNumber(double days) {
    // A negative day number keeps its time of day as a positive fraction.
    const double whole = std::trunc(days);
    double ms = std::round(std::fabs(days - whole) * kMsPerDay);
    double dayPart = whole;
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        dayPart += days < 0 ? -1 : 1;
    }
    const auto secs = static_cast<std::time_t>(dayPart - kUnixEpochDay) * 86400;
    LocalDateTime t = FromCalendarSeconds(secs);
    const auto msi = static_cast<long long>(ms);
    t.hour = static_cast<int>(msi / 3600000);
    t.minute = static_cast<int>(msi / 60000 % 60);
    t.second = static_cast<int>(msi / 1000 % 60);
    t.msec = static_cast<int>(msi % 1000);
    return t;
}

int SeriesColorSlot(int colorIndex) {
    const int n = static_cast<int>(kSeriesColors.size());
    return ((colorIndex % n) + n) % n;
}

PlotSeries::PlotSeries() {
    points_.reserve(capacity_);
}

int PlotSeries::ColorSlotAt(int i) const {
    int slot = 0;
    for (const ColorRun& r : runs_) {
        if (static_cast<int>(r.start) > i) break;
        slot = r.slot;
    }
    return slot;
}

std::size_t PlotSeries::AllocatedBytes() const {
    return points_.capacity() * sizeof(PlotPoint) + runs_.capacity() * sizeof(ColorRun);
}

void PlotSeries::Append(PlotPoint p, int slot) {
    points_.push_back(p);
    if (points_.size() >= capacity_) {
        capacity_ = 2 * points_.size();
        points_.reserve(capacity_);
    }
    const auto idx = static_cast<std::uint32_t>(points_.size() - 1);
    if (runs_.empty() || runs_.back().slot != slot)
        runs_.push_back({idx, static_cast<std::uint8_t>(slot)});
}

void PlotSeries::ReplaceLast(PlotPoint p, int slot) {
    points_.back() = p;
    SetLastColor(slot);
}

void PlotSeries::SetLastColor(int slot) {
    const auto idx = static_cast<std::uint32_t>(points_.size() - 1);
    if (runs_.back().slot == slot) return;
    if (runs_.back().start == idx) {
        runs_.back().slot = static_cast<std::uint8_t>(slot);
        // The last point may now match the run before it again.
        if (runs_.size() >= 2 && runs_[runs_.size() - 2].slot == slot) runs_.pop_back();
    } else {
        runs_.push_back({idx, static_cast<std::uint8_t>(slot)});
    }
}

void PlotSeries::Clear() {
    // A fresh vector gives the memory of a long series back.
    std::vector<PlotPoint>().swap(points_);
    std::vector<ColorRun>().swap(runs_);
    capacity_ = kInitialCapacity;
    points_.reserve(capacity_);
}

double PlotModel::RoundToPrecision(double v) const {
    // nearbyint rounds half to even in the default rounding mode.
    return std::nearbyint(v * precision_) / precision_;
}

PlotModel::AddResult PlotModel::AddPoint(int colorIndex, int series, double value, double time) {
    if (series < 0 || series >= kSlots) return AddResult::Rejected;
    // An infinite or NaN value would poison the ranges and the pixel mapping.
    if (!std::isfinite(value) || !std::isfinite(time)) return AddResult::Rejected;
    penSlot_ = SeriesColorSlot(colorIndex);
    PlotSeries& s = series_[static_cast<std::size_t>(series)];
    const int n = s.PointCount();

    if (n >= 3) {
        value = RoundToPrecision(value);
        const double a = s.Point(n - 2).y;
        const double b = s.Point(n - 1).y;
        if (std::fabs(a - value) <= 1e-6 ||
            (std::fabs(a - b) <= 1e-5 && std::fabs(value - b) <= 1e-6)) {
            s.ReplaceLast({time, value}, penSlot_);
            return AddResult::Replaced;
        }
    }

    LayerOption = false;
    if (Averaging && n >= 2) {
        // A clock set back must not make every later reading merge into one
        // point, so the gap counts in either direction.
        const double d = n >= 3 ? std::fabs(time - s.Point(n - 2).x) : 1.0;
        if (d < AvgWindow - kWindowSlack) {
            value = RoundToPrecision((s.Point(n - 1).y + value) / 2);
            s.ReplaceLast({time, value}, penSlot_);
            return AddResult::Replaced;
        }
    }
    s.Append({time, value}, penSlot_);
    return AddResult::Appended;
}

void PlotModel::ClearPlot() {
    for (PlotSeries& s : series_) {
        s.visible = false;
        s.Clear();
    }
    SeriesCount = 0;
}

}  // namespace pom

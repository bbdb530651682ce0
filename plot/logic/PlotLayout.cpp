#include "plot/logic/PlotLayout.h"

#include <cmath>
#include <cstdlib>

#include "plot/logic/PlotFormat.h"

namespace pom {

namespace {

// A grid or label walk never needs more steps than this; it stops a walk
// whose step no longer moves a huge coordinate.
constexpr int kMaxGridSteps = 100000;

int RoundHalfEven(double v) {
    return ClampToPixel(std::nearbyint(v));
}

struct TimeRow {
    double aboveSeconds;
    double stepSeconds;
    const char* format;
};

constexpr double kDay = 86400;
constexpr TimeRow kTimeSteps[] = {
    {10, 10, "hh:nn:ss"},
    {15, 15, "hh:nn:ss"},
    {30, 30, "hh:nn:ss"},
    {60, 60, "hh:nn"},
    {300, 300, "hh:nn"},
    {600, 600, "hh:nn"},
    {1800, 1800, "hh:nn"},
    {3600, 3600, "hh:"},
    {7200, 7200, "hh:"},
    {3 * 3600, 3 * 3600, "hh:"},
    {6 * 3600, 6 * 3600, "hh"},
    {kDay, kDay, "mm.dd"},
    {7 * kDay, 7 * kDay, "mm.dd"},
    {30 * kDay, 30 * kDay, "YYYY.mm"},
    {60 * kDay, 60 * kDay, "YY.mm"},
    {180 * kDay, 180 * kDay, "YYYY.mm"},
    {360 * kDay, 360 * kDay, "YYYY"},
};

}  // namespace

int ClampToPixel(double v) {
    if (std::isnan(v)) return 0;
    if (v > kPixelLimit) return kPixelLimit;
    if (v < -kPixelLimit) return -kPixelLimit;
    return static_cast<int>(v);
}

DataRanges ComputeRanges(const PlotModel& model) {
    DataRanges r;
    for (int i = 0; i < PlotModel::kSlots; ++i) {
        const PlotSeries& s = model.Series(i);
        if (!s.visible) continue;
        if (s.PointCount() == 0) continue;
        // The series' summary holds the earliest of equal extremes, so this
        // gives the numbers a walk over every point would.
        const PointExtent e = s.Bounds();
        r.xmin = e.xmin < r.xmin ? e.xmin : r.xmin;
        r.xmax = e.xmax > r.xmax ? e.xmax : r.xmax;
        r.ymin = e.ymin < r.ymin ? e.ymin : r.ymin;
        r.ymax = e.ymax > r.ymax ? e.ymax : r.ymax;
    }
    if (std::fabs(r.xmax - r.xmin) < 2e-8) r.xmax = r.xmin + 2e-7;
    if (std::fabs(r.ymax - r.ymin) < 2e-8) r.ymax = r.ymin + 2e-7;
    return r;
}

bool PlotFrame::PixelToValue(int x, int y, double& value, double& time) const {
    if (xscale == 0 || yscale == 0) return false;  // nothing drawn yet
    time = (x - left - 2.0 * penWidth) / xscale + ranges.xmin;
    value = (height - bottom - 4.0 * penWidth - y) / yscale + ranges.ymin;
    return ranges.ymin <= value && value <= ranges.ymax && ranges.xmin <= time &&
           time <= ranges.xmax;
}

PlotFrame MakeFrame(int width, int height, int penWidth, int left, int right, int top, int bottom,
                    const DataRanges& ranges) {
    PlotFrame f;
    f.width = width;
    f.height = height;
    f.penWidth = penWidth;
    f.left = left;
    f.right = right;
    f.top = top;
    f.bottom = bottom;
    f.ranges = ranges;
    f.xscale = (width - 4.0 * penWidth - left - right) / (ranges.xmax - ranges.xmin);
    f.yscale = (height - 8.0 * penWidth - top - bottom) / (ranges.ymax - ranges.ymin);
    return f;
}

TimeStep ChooseTimeStep(double q) {
    TimeStep s{5 / kDay, "hh:nn:ss"};
    for (const TimeRow& row : kTimeSteps) {
        // A span of exactly n thresholds, read from whole-second stamps, must
        // not tip over by the last bit of its day numbers.
        if (q > row.aboveSeconds / kDay * (1 + 1e-9)) s = {row.stepSeconds / kDay, row.format};
    }
    return s;
}

double ChooseValueStep(double b) {
    double lg = std::log10(b);
    if (!std::isfinite(lg)) lg = lg > 0 ? 300 : -2;
    int k = static_cast<int>(std::nearbyint(std::fmin(lg, 300.0)));
    if (k < -2) k = -2;
    const double f = std::pow(10.0, k);
    double m = 1;
    if (b / f > 1) m = 2;
    if (b / f > 2) m = 2.5;
    if (b / f > 4) m = 5;
    if (b / f > 7) m = 10;
    return m * f;
}

TimeGrid ComputeTimeGrid(const PlotFrame& f) {
    TimeGrid g;
    if (f.ranges.Empty()) return g;
    int n = RoundHalfEven((f.width - f.left - f.right) / 150.0);
    if (n < 1) n = 1;
    const TimeStep ts = ChooseTimeStep((f.ranges.xmax - f.ranges.xmin) / n);
    g.step = ts.step;
    g.format = ts.format;
    g.first = std::floor(f.ranges.xmin / g.step) * g.step;
    // A plot no wider than its insets maps later times to the same or earlier
    // columns: the walk would never pass the right edge.
    if (!(f.xscale > 0)) return g;
    double t = g.first;
    for (int i = 0; i < kMaxGridSteps; ++i) {
        const double next = t + g.step;
        if (next == t) break;
        t = next;
        const int b = f.Px(t);
        if (b > f.PlotRight()) break;
        g.columns.push_back(b);
    }
    return g;
}

ValueGrid ComputeValueGrid(const PlotFrame& f) {
    ValueGrid g;
    if (f.ranges.Empty()) return g;
    int n = RoundHalfEven(f.height / 30.0);
    if (n < 1) n = 1;
    g.step = ChooseValueStep((f.ranges.ymax - f.ranges.ymin) / n);
    g.first = std::floor(f.ranges.ymin / g.step) * g.step;
    double v = g.first;
    for (int i = 0; i < kMaxGridSteps; ++i) {
        if (f.ranges.ymin - v <= 0.001 && v - f.ranges.ymax <= 0.001) g.rows.push_back(f.Py(v));
        const double next = v + g.step;
        if (next == v) break;
        v = next;
        if (v - g.step > f.ranges.ymax + 0.001) break;
    }
    return g;
}

std::vector<TextItem> TimeLabels(const PlotFrame& f, double first, double interval,
                                 const std::string& format, const TextWidthFn& width) {
    std::vector<TextItem> out;
    if (f.ranges.xmax < -1e9 || !(interval > 0)) return out;
    double t = first;
    for (int i = 0; i < kMaxGridSteps; ++i) {
        const double next = t + interval;
        if (next == t) break;
        t = next;
        std::string text;
        if (!format.empty()) {
            text = FormatDateTime(format, t);
        } else {
            text = t >= 1000 ? FormatExp2(t, 1) : FormatFixed2(t);
        }
        const int tw = width(text);
        out.push_back({text, f.Px(t) - tw / 2, f.height - f.bottom + 3});
        if (t > f.ranges.xmax - interval) break;
    }
    return out;
}

ValueLabels ComputeValueLabels(const PlotFrame& f, double first, double interval,
                               const TextWidthFn& width, int textHeight) {
    ValueLabels out;
    out.left = f.left;
    if (!(interval > 0)) return out;
    double v = first;
    for (int i = 0; i < kMaxGridSteps; ++i) {
        if (v >= f.ranges.ymin - 0.001 && v <= f.ranges.ymax + 0.001) {
            const std::string text = v >= 10000 ? FormatExp2(v, 2) : FormatFixed2(v);
            const int tw = width(text);
            if (tw + 9 > out.left) out.left = tw + 8;
            out.items.push_back({text, out.left - tw - 4, f.Py(v) - textHeight / 2});
        }
        const double next = v + interval;
        if (next == v) break;
        v = next;
        if (v - interval > f.ranges.ymax) break;
    }
    return out;
}

int TopMargin(bool hasTitle, int titleHeight) {
    return hasTitle ? kPlotMargin + std::abs(titleHeight) + 2 : kPlotMargin;
}

int BottomMargin(bool xMarks, int xMarksFontHeight) {
    return xMarks ? kPlotMargin + std::abs(xMarksFontHeight) + 4 : kPlotMargin;
}

}  // namespace pom

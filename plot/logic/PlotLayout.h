#pragma once

#include <functional>
#include <string>
#include <vector>

#include "plot/logic/PlotModel.h"

namespace pom {

// Everything the chart computes from its points and its size before painting:
// data ranges, scales, the pixel mapping, grid steps and label positions.

inline constexpr int kPlotMargin = 22;

struct DataRanges {
    double xmin = 1e10;
    double xmax = -1e10;
    double ymin = 1e10;
    double ymax = -1e10;
    // No visible point: the ranges stay inverted.
    bool Empty() const { return xmin > xmax; }
};

// Over every point of every visible series, degenerate spans widened by 2e-7.
DataRanges ComputeRanges(const PlotModel& model);

// Pixel coordinates are clamped to this, so no mapping overflows an int.
inline constexpr int kPixelLimit = 1 << 24;
int ClampToPixel(double v);
inline int ClampToPixel(int v) {
    return v > kPixelLimit ? kPixelLimit : v < -kPixelLimit ? -kPixelLimit : v;
}

// Rounds half to even and clamps to the pixel limit; NaN gives 0. Inline and
// without a library call: it runs for every point of every redraw.
inline int RoundToPixel(double v) {
    if (!(v >= -kPixelLimit)) return v != v ? 0 : -kPixelLimit;
    if (v > kPixelLimit) return kPixelLimit;
    // Adding 1.5 * 2^52 leaves no fraction bits, so the sum is rounded in the
    // current (to nearest, ties to even) mode.
    constexpr double kRound = 6755399441055744.0;
    return static_cast<int>((v + kRound) - kRound);
}

struct PlotFrame {
    int width = 0;
    int height = 0;
    int penWidth = 1;
    int left = kPlotMargin;
    int right = kPlotMargin;
    int top = kPlotMargin;
    int bottom = kPlotMargin;
    DataRanges ranges;
    double xscale = 0;  // pixels per day
    double yscale = 0;  // pixels per value unit

    int PlotLeft() const { return left; }
    int PlotTop() const { return top; }
    int PlotRight() const { return width - right; }
    int PlotBottom() const { return height - bottom; }

    int Px(double x) const {
        return ClampToPixel(left + 2 * penWidth + RoundToPixel((x - ranges.xmin) * xscale));
    }
    int Py(double y) const {
        return ClampToPixel(height - bottom - 4 * penWidth -
                            RoundToPixel((y - ranges.ymin) * yscale));
    }
    // Time and value under a pixel; true only inside the data ranges.
    bool PixelToValue(int x, int y, double& value, double& time) const;
};

// Ranges and scales for a control of the given size and margins.
PlotFrame MakeFrame(int width, int height, int penWidth, int left, int right, int top, int bottom,
                    const DataRanges& ranges);

struct TimeStep {
    double step = 0;  // days
    const char* format = "";
};
// Step and label format for q days per interval.
TimeStep ChooseTimeStep(double daysPerInterval);

// Value step for a span b per interval: 1, 2, 2.5, 5 or 10 times a power of ten.
double ChooseValueStep(double perInterval);

struct TimeGrid {
    double step = 0;
    std::string format;
    double first = 0;          // the grid time before the first line
    std::vector<int> columns;  // x of the vertical lines
};
// Empty (step 0) when the ranges are empty.
TimeGrid ComputeTimeGrid(const PlotFrame& f);

struct ValueGrid {
    double step = 0;
    double first = 0;
    std::vector<int> rows;  // y of the horizontal lines
};
ValueGrid ComputeValueGrid(const PlotFrame& f);

struct TextItem {
    std::string text;
    int x = 0;
    int y = 0;  // top of the text
    bool operator==(const TextItem&) const = default;
};

using TextWidthFn = std::function<int(const std::string&)>;

// Time labels under the plot, from the grid time `first` every `interval`.
std::vector<TextItem> TimeLabels(const PlotFrame& f, double first, double interval,
                                 const std::string& format, const TextWidthFn& width);

struct ValueLabels {
    std::vector<TextItem> items;
    int left = 0;  // the left margin, widened where a label needed room
};
ValueLabels ComputeValueLabels(const PlotFrame& f, double first, double interval,
                               const TextWidthFn& width, int textHeight);

// Top and bottom margins for the title and the time labels.
int TopMargin(bool hasTitle, int titleHeight);
int BottomMargin(bool xMarks, int xMarksFontHeight);

}  // namespace pom

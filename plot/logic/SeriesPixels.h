#pragma once

#include <cstdint>
#include <vector>

#include "plot/logic/PlotLayout.h"
#include "plot/logic/PlotModel.h"

namespace pom {

struct PixelPoint {
    int x = 0;
    int y = 0;
    int slot = 0;  // colour slot of the point
    bool operator==(const PixelPoint&) const = default;
};

enum class PixelReduction {
    None,            // every point
    ColumnExtremes,  // per column and colour: first, min, max, last point (lines, bars)
    Duplicates,      // consecutive points on the same pixel drawn once (dots)
    // The same points as ColumnExtremes, found by visiting every point; it
    // stays as the yardstick the pyramid search is checked and timed against.
    ColumnExtremesByScan,
};

// The pixel positions of a series' points in drawing order. A line through
// the reduced points covers the same pixels as one through all of them: in a
// column the zigzag of many points fills exactly the span from the lowest to
// the highest, and the segments entering and leaving the column keep their
// end points. Bars from the zero row likewise cover the same span.
// ColumnExtremes finds each column's points through the series' pyramid: its
// cost follows the columns drawn, not the points held.
void SeriesToPixels(const PlotFrame& f, const PlotSeries& s, PixelReduction reduction,
                    std::vector<PixelPoint>& out);
// The same for a stretch of a series' points (PlotModel::Drawn).
void SeriesToPixels(const PlotFrame& f, const DrawnPoints& d, PixelReduction reduction,
                    std::vector<PixelPoint>& out);

// Smallest and largest value of the points [from, to), from < to, through
// the pyramid.
void ValueRange(const PlotSeries& s, std::size_t from, std::size_t to, double& lo, double& hi);

// The first point from `from` on whose time is at least `x` (or, with
// `after`, later than `x`); the point count when there is none. It climbs
// the pyramid, so it costs the levels, not the points passed over.
std::size_t FirstPointAt(const PlotSeries& s, std::size_t from, double x, bool after = false);

}  // namespace pom

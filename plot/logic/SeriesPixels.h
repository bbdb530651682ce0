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

}  // namespace pom

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "plot/logic/SeriesPixels.h"

namespace pom {

// A 32-bit pixel buffer the series are drawn into (a QImage's bits).
struct RasterTarget {
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;  // pixels per row
};

// Lines with a round brush, written straight into the pixels: a wide pen's
// joins cost the painter far more than the pixels themselves. The brush of
// width w covers the pixels whose centres lie within w/2 of its centre; width
// 1 is a single pixel. Segments include both end pixels; anything outside the
// target is cut off.
class LineRaster {
public:
    LineRaster(RasterTarget target, int brushWidth);

    // The polyline through the points; consecutive equal points are fine and
    // fewer than two points draw nothing.
    void Polyline(const PixelPoint* pts, std::size_t n, std::uint32_t color);
    void Segment(int x0, int y0, int x1, int y1, std::uint32_t color);

private:
    void Line(int x0, int y0, int x1, int y1);
    // A vertical run of line pixels, widened by the brush.
    void Run(int x, int y0, int y1);
    // The runs of one call are gathered per column and each pixel written
    // once: a brush wider than a pixel reaches into the next columns, where a
    // dense series paints the same rows again.
    void Gather(int x, int top, int bottom);
    void Fill(int x, int top, int bottom);
    void Flush();

    RasterTarget t_;
    int r_ = 0;
    std::vector<int> reach_;  // rows the brush reaches above and below, per column offset
    std::uint32_t color_ = 0;
    std::vector<int> top_, bottom_;  // the rows gathered in each column; top > bottom: none
    std::vector<int> gathered_;      // the columns holding rows
};

}  // namespace pom

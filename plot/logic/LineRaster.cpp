#include "plot/logic/LineRaster.h"

#include <algorithm>
#include <cstdlib>

namespace pom {

LineRaster::LineRaster(RasterTarget target, int brushWidth) : t_(target) {
    const int w = std::max(1, brushWidth);
    r_ = w / 2;
    for (int dx = -r_; dx <= r_; ++dx) {
        int reach = -1;
        for (int dy = 0; dy <= r_; ++dy)
            if (4 * (dx * dx + dy * dy) <= w * w) reach = dy;
        reach_.push_back(reach);
    }
    const auto columns = static_cast<std::size_t>(std::max(0, t_.width));
    top_.assign(columns, 1);
    bottom_.assign(columns, 0);
}

void LineRaster::Run(int x, int y0, int y1) {
    if (y0 > y1) std::swap(y0, y1);
    for (int dx = -r_; dx <= r_; ++dx) {
        const int reach = reach_[static_cast<std::size_t>(dx + r_)];
        const int cx = x + dx;
        if (reach < 0 || cx < 0 || cx >= t_.width) continue;
        const int top = std::max(0, y0 - reach);
        const int bottom = std::min(t_.height - 1, y1 + reach);
        if (top <= bottom) Gather(cx, top, bottom);
    }
}

void LineRaster::Gather(int x, int top, int bottom) {
    int& t = top_[static_cast<std::size_t>(x)];
    int& b = bottom_[static_cast<std::size_t>(x)];
    if (t > b) {
        gathered_.push_back(x);
    } else if (top <= b + 1 && bottom >= t - 1) {
        t = std::min(t, top);
        b = std::max(b, bottom);
        return;
    } else {
        Fill(x, t, b);  // apart from the rows held: those go first
    }
    t = top;
    b = bottom;
}

void LineRaster::Fill(int x, int top, int bottom) {
    std::uint32_t* p = t_.pixels + static_cast<std::ptrdiff_t>(top) * t_.stride + x;
    for (int y = top; y <= bottom; ++y, p += t_.stride) *p = color_;
}

void LineRaster::Flush() {
    for (int x : gathered_) {
        auto& t = top_[static_cast<std::size_t>(x)];
        auto& b = bottom_[static_cast<std::size_t>(x)];
        Fill(x, t, b);
        t = 1;
        b = 0;
    }
    gathered_.clear();
}

void LineRaster::Segment(int x0, int y0, int x1, int y1, std::uint32_t color) {
    color_ = color;
    Line(x0, y0, x1, y1);
    Flush();
}

void LineRaster::Line(int x0, int y0, int x1, int y1) {
    // Bresenham, gathering the pixels of one column into a vertical run. The
    // walk always goes left to right (bottom to top for vertical lines) so a
    // segment covers the same pixels whichever way it was given.
    if (x0 > x1 || (x0 == x1 && y0 > y1)) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    // Nothing of a segment entirely off the target can show.
    const int pad = r_ + 1;
    if (x1 < -pad || x0 >= t_.width + pad || std::max(y0, y1) < -pad ||
        std::min(y0, y1) >= t_.height + pad)
        return;
    const long long dx = x1 - x0;
    const long long dy = std::llabs(static_cast<long long>(y1) - y0);
    const int sy = y0 < y1 ? 1 : -1;
    if (dx == 0) {
        Run(x0, y0, y1);
        return;
    }
    long long err = dx - dy;
    int x = x0;
    int y = y0;
    int runStart = y0;
    for (;;) {
        if (x == x1 && y == y1) break;
        const long long e2 = 2 * err;
        bool stepX = false;
        if (e2 > -dy) {
            err -= dy;
            stepX = true;
        }
        if (e2 < dx) {
            err += dx;
            if (stepX) {
                Run(x, runStart, y);
                ++x;
                y += sy;
                runStart = y;
                continue;
            }
            y += sy;
            continue;
        }
        Run(x, runStart, y);
        ++x;
        runStart = y;
        if (x > t_.width + pad) return;  // the rest is off the target
    }
    Run(x, runStart, y);
}

void LineRaster::Polyline(const PixelPoint* pts, std::size_t n, std::uint32_t color) {
    color_ = color;
    // A lone point starts a line and draws nothing, as a move does.
    for (std::size_t i = 1; i < n; ++i) Line(pts[i - 1].x, pts[i - 1].y, pts[i].x, pts[i].y);
    Flush();
}

}  // namespace pom

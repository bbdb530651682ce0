#include "plot/logic/SeriesPixels.h"

#include <algorithm>

namespace pom {

namespace {

// Collects one column's points and writes first, min, max, last in the order
// they came.
class ColumnGroup {
public:
    void Start(int index, PixelPoint p) {
        first_ = last_ = min_ = max_ = {index, p};
        active_ = true;
    }
    bool Active() const { return active_; }
    bool Takes(const PixelPoint& p) const { return p.x == first_.p.x && p.slot == first_.p.slot; }
    void Add(int index, PixelPoint p) {
        last_ = {index, p};
        if (p.y < min_.p.y) min_ = {index, p};
        if (p.y > max_.p.y) max_ = {index, p};
    }
    // A group known by its four points at once.
    void Set(int first, int min, int max, int last, int x, int slot, const PlotFrame& f,
             const PlotSeries& s) {
        const auto at = [&](int i) {
            return Entry{i, {x, f.Py(s.At(static_cast<std::size_t>(i)).y), slot}};
        };
        first_ = at(first);
        min_ = at(min);
        max_ = at(max);
        last_ = at(last);
        active_ = true;
    }
    void Flush(std::vector<PixelPoint>& out) {
        if (!active_) return;
        active_ = false;
        out.push_back(first_.p);
        Entry a = min_.index <= max_.index ? min_ : max_;
        Entry b = min_.index <= max_.index ? max_ : min_;
        int prev = first_.index;
        for (const Entry& e : {a, b, last_}) {
            if (e.index == prev) continue;
            out.push_back(e.p);
            prev = e.index;
        }
    }

private:
    struct Entry {
        int index = 0;
        PixelPoint p;
    };
    Entry first_, last_, min_, max_;
    bool active_ = false;
};

// The first point in [from, limit) that passes `pointTest`, or `limit`.
// `blockTest` must say exactly whether a block holds such a point: the search
// climbs the pyramid past blocks that hold none and goes down into the first
// one that does.
template <class PointTest, class BlockTest>
std::size_t FindFirst(const PlotSeries& s, std::size_t from, std::size_t limit,
                      const PointTest& pointTest, const BlockTest& blockTest) {
    const int levels = s.SummaryLevels();
    const auto passes = [&](int level, std::size_t j) {
        return level == 0 ? pointTest(s.At(j)) : blockTest(s.Block(level, j));
    };
    std::size_t j = from;
    int level = 0;
    for (;;) {
        const std::size_t count = s.LevelSize(level);
        // The rest of this block's siblings; on the top level, all of it.
        const std::size_t stop =
            level < levels ? std::min(count, (j | (PlotSeries::kFan - 1)) + 1) : count;
        for (; j < stop; ++j) {
            if ((j << (PlotSeries::kFanBits * level)) >= limit) return limit;
            if (!passes(level, j)) continue;
            while (level > 0) {
                --level;
                j <<= PlotSeries::kFanBits;
                const std::size_t end = std::min(s.LevelSize(level), j + PlotSeries::kFan);
                while (j + 1 < end && !passes(level, j)) ++j;
            }
            return std::min(j, limit);
        }
        if (level == levels || stop == count) return limit;
        j = stop >> PlotSeries::kFanBits;
        ++level;
    }
}

// Smallest and largest value of the points [from, to), to != from.
void ValueSpan(const PlotSeries& s, std::size_t from, std::size_t to, double& lo, double& hi) {
    lo = hi = s.At(from).y;
    const int levels = s.SummaryLevels();
    int level = 0;
    const auto take = [&](std::size_t a, std::size_t b) {
        for (std::size_t j = a; j < b; ++j) {
            if (level == 0) {
                const double y = s.At(j).y;
                lo = std::min(lo, y);
                hi = std::max(hi, y);
            } else {
                const PointExtent& e = s.Block(level, j);
                lo = std::min(lo, e.ymin);
                hi = std::max(hi, e.ymax);
            }
        }
    };
    std::size_t a = from;
    std::size_t b = to;
    while (a < b) {
        const std::size_t up = (a + PlotSeries::kFan - 1) & ~(PlotSeries::kFan - 1);
        const std::size_t down = b & ~(PlotSeries::kFan - 1);
        if (level == levels || up >= down) {
            take(a, b);
            return;
        }
        take(a, up);
        take(down, b);
        a = up >> PlotSeries::kFanBits;
        b = down >> PlotSeries::kFanBits;
        ++level;
    }
}

void ColumnExtremesBySummaries(const PlotFrame& f, const PlotSeries& s,
                               std::vector<PixelPoint>& out) {
    const std::vector<ColorRun>& runs = s.ColorRuns();
    const auto n = static_cast<std::size_t>(s.PointCount());
    std::size_t run = 0;
    int slot = 0;
    ColumnGroup group;
    std::size_t i = 0;
    while (i < n) {
        while (run < runs.size() && runs[run].start <= i) slot = runs[run++].slot;
        std::size_t next = run;
        while (next < runs.size() && runs[next].slot == slot) ++next;
        const std::size_t runEnd = next < runs.size() ? runs[next].start : n;
        // The mappings only ever keep or reverse the order of their input, so
        // a block's pixels lie between those of its extremes.
        const int x = f.Px(s.At(i).x);
        const std::size_t end = FindFirst(
            s, i + 1, runEnd, [&](const PlotPoint& p) { return f.Px(p.x) != x; },
            [&](const PointExtent& e) { return f.Px(e.xmin) != x || f.Px(e.xmax) != x; });
        double lo = 0;
        double hi = 0;
        ValueSpan(s, i, end, lo, hi);
        const int top = std::min(f.Py(lo), f.Py(hi));
        const int bottom = std::max(f.Py(lo), f.Py(hi));
        const std::size_t atTop = FindFirst(
            s, i, end, [&](const PlotPoint& p) { return f.Py(p.y) <= top; },
            [&](const PointExtent& e) { return std::min(f.Py(e.ymin), f.Py(e.ymax)) <= top; });
        const std::size_t atBottom = FindFirst(
            s, i, end, [&](const PlotPoint& p) { return f.Py(p.y) >= bottom; },
            [&](const PointExtent& e) { return std::max(f.Py(e.ymin), f.Py(e.ymax)) >= bottom; });
        group.Set(static_cast<int>(i), static_cast<int>(atTop), static_cast<int>(atBottom),
                  static_cast<int>(end - 1), x, slot, f, s);
        group.Flush(out);
        i = end;
    }
}

}  // namespace

void SeriesToPixels(const PlotFrame& f, const PlotSeries& s, PixelReduction reduction,
                    std::vector<PixelPoint>& out) {
    out.clear();
    if (reduction == PixelReduction::ColumnExtremes) {
        ColumnExtremesBySummaries(f, s, out);
        return;
    }
    const std::vector<ColorRun>& runs = s.ColorRuns();
    const int n = s.PointCount();
    if (reduction == PixelReduction::None) out.reserve(static_cast<std::size_t>(n));

    std::size_t run = 0;
    int slot = 0;
    ColumnGroup group;
    for (int i = 0; i < n; ++i) {
        while (run < runs.size() && static_cast<int>(runs[run].start) <= i) slot = runs[run++].slot;
        const PlotPoint& pt = s.Point(i);
        const PixelPoint p{f.Px(pt.x), f.Py(pt.y), slot};
        switch (reduction) {
            case PixelReduction::None:
                out.push_back(p);
                break;
            case PixelReduction::Duplicates:
                if (out.empty() || !(out.back() == p)) out.push_back(p);
                break;
            case PixelReduction::ColumnExtremes:
            case PixelReduction::ColumnExtremesByScan:
                if (group.Active() && group.Takes(p)) {
                    group.Add(i, p);
                } else {
                    group.Flush(out);
                    group.Start(i, p);
                }
                break;
        }
    }
    group.Flush(out);
}

}  // namespace pom

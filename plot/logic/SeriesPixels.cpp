#include "plot/logic/SeriesPixels.h"

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

}  // namespace

void SeriesToPixels(const PlotFrame& f, const PlotSeries& s, PixelReduction reduction,
                    std::vector<PixelPoint>& out) {
    out.clear();
    const std::vector<PlotPoint>& pts = s.Points();
    const std::vector<ColorRun>& runs = s.ColorRuns();
    const int n = static_cast<int>(pts.size());
    if (reduction == PixelReduction::None) out.reserve(pts.size());

    std::size_t run = 0;
    int slot = 0;
    ColumnGroup group;
    for (int i = 0; i < n; ++i) {
        while (run < runs.size() && static_cast<int>(runs[run].start) <= i) slot = runs[run++].slot;
        const PixelPoint p{f.Px(pts[static_cast<std::size_t>(i)].x),
                           f.Py(pts[static_cast<std::size_t>(i)].y), slot};
        switch (reduction) {
            case PixelReduction::None:
                out.push_back(p);
                break;
            case PixelReduction::Duplicates:
                if (out.empty() || !(out.back() == p)) out.push_back(p);
                break;
            case PixelReduction::ColumnExtremes:
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

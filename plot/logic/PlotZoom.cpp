// The zoom of the chart model: the view, the full-resolution points read back
// for it and the points the chart draws inside it.
#include <algorithm>
#include <limits>
#include <vector>

#include "plot/logic/PlotModel.h"
#include "plot/logic/SeriesPixels.h"

namespace pom {

namespace {

struct Segment {
    const PlotSeries* s;
    std::size_t from;
    std::size_t to;
};

// Copies points [from, to) of a segment with their colours.
void CopyPoints(const Segment& seg, std::size_t from, std::size_t to, PlotSeries& out) {
    const std::vector<ColorRun>& runs = seg.s->ColorRuns();
    auto run = static_cast<std::size_t>(
        std::upper_bound(runs.begin(), runs.end(), from,
                         [](std::size_t i, const ColorRun& r) { return i < r.start; }) -
        runs.begin());
    int slot = run > 0 ? runs[run - 1].slot : 0;
    for (std::size_t i = from; i < to; ++i) {
        while (run < runs.size() && runs[run].start <= i) slot = runs[run++].slot;
        out.Append(seg.s->At(i), slot);
    }
}

void Widen(std::optional<PointExtent>& e, const PlotPoint& p) {
    if (!e) {
        e = PointExtent{p.x, p.x, p.y, p.y};
        return;
    }
    e->xmin = p.x < e->xmin ? p.x : e->xmin;
    e->xmax = p.x > e->xmax ? p.x : e->xmax;
    e->ymin = p.y < e->ymin ? p.y : e->ymin;
    e->ymax = p.y > e->ymax ? p.y : e->ymax;
}

// Whether every point of `own` in `cover` is also one of `full`'s there: the
// thinned points are points the full series had, so a complete read-back
// holds them all.
bool HoldsEveryPoint(const PlotSeries& own, const PlotSeries& full, TimeSpan cover) {
    const std::size_t a = FirstPointAt(own, 0, cover.from);
    const std::size_t b = FirstPointAt(own, a, cover.to, true);
    if (a == b) return true;
    const std::size_t fa = FirstPointAt(full, 0, cover.from);
    const std::size_t fb = FirstPointAt(full, fa, cover.to, true);
    // The thinned points are a subsequence of the full ones: one walk over
    // both finds them, as long as the times only go forward.
    std::size_t j = fa;
    bool found = true;
    for (std::size_t i = a; i < b && found; ++i) {
        const PlotPoint& p = own.At(i);
        if (i > a && p.x < own.At(i - 1).x) break;  // a clock set back: sorted below
        while (j < fb && !(full.At(j).x == p.x && full.At(j).y == p.y)) ++j;
        found = j < fb;
        if (found) ++j;
        if (i + 1 == b && found) return true;
    }
    const auto less = [](const PlotPoint& p, const PlotPoint& q) {
        return p.x != q.x ? p.x < q.x : p.y < q.y;
    };
    std::vector<PlotPoint> have;
    have.reserve(fb - fa);
    for (std::size_t i = fa; i < fb; ++i) have.push_back(full.At(i));
    std::sort(have.begin(), have.end(), less);
    for (std::size_t i = a; i < b; ++i) {
        const PlotPoint& p = own.At(i);
        const auto it = std::lower_bound(have.begin(), have.end(), p, less);
        if (it == have.end() || it->x != p.x || it->y != p.y) return false;
    }
    return true;
}

}  // namespace

PlotModel SeedZoomPoints(const PlotModel& m, double x, std::array<double, 11>& after) {
    static_assert(PlotModel::kSlots == 11);
    PlotModel seed;
    seed.SetPrecision(m.Precision());
    seed.Averaging = m.Averaging;
    seed.AvgWindow = m.AvgWindow;
    seed.FullResolutionDays = 0;
    for (int i = 0; i < PlotModel::kSlots; ++i) {
        const PlotSeries& own = m.Series(i);
        PlotSeries& s = seed.Series(i);
        s.name = own.name;
        s.visible = own.visible;
        after[static_cast<std::size_t>(i)] = -std::numeric_limits<double>::infinity();
        const std::optional<std::size_t> seam = own.SeamBefore(x);
        if (!seam) continue;
        // The run and averaging rules look at the last two points and at
        // whether there are three.
        for (std::size_t k = *seam - 2; k <= *seam; ++k)
            s.Append(own.At(k), own.ColorSlotAt(static_cast<int>(k)));
        after[static_cast<std::size_t>(i)] = own.At(*seam).x;
    }
    return seed;
}

bool PlotModel::CoverServes(TimeSpan cover, TimeSpan view) const {
    if (!(cover.from <= view.from)) return false;
    if (view.to <= cover.to) return true;
    // Past the files' last line the series' own points are whole.
    const std::optional<double> until = ThinnedUntil();
    return !until || *until <= cover.to;
}

void PlotModel::SetView(TimeSpan view) {
    if (view.to < view.from) std::swap(view.from, view.to);
    if (view_ && *view_ == view) return;
    view_ = view;
    if (cover_ && !CoverServes(*cover_, view)) {
        cover_.reset();
        overlaySeries_ = 0;
        for (PlotSeries& s : overlay_) s.Clear();
    }
    ++generation_;
}

void PlotModel::ClearView() {
    view_.reset();
    cover_.reset();
    overlaySeries_ = 0;
    for (PlotSeries& s : overlay_) s.Clear();
    for (DrawnCache& c : drawn_) c.points.Clear();
    ++generation_;
}

std::optional<double> PlotModel::ThinnedUntil() const {
    std::optional<double> until;
    for (const PlotSeries& s : series_) {
        if (!s.visible || s.ThinnedCount() == 0) continue;
        const double x = s.Point(s.ThinnedCount() - 1).x;
        if (!until || x > *until) until = x;
    }
    return until;
}

int PlotModel::SetOverlay(PlotModel&& full, TimeSpan cover) {
    if (!view_ || !CoverServes(cover, *view_)) return 0;
    cover_ = cover;
    overlaySeries_ = 0;
    int taken = 0;
    for (int i = 0; i < kSlots; ++i) {
        auto& mine = overlay_[static_cast<std::size_t>(i)];
        PlotSeries& theirs = full.series_[static_cast<std::size_t>(i)];
        mine.Clear();
        const PlotSeries& own = series_[static_cast<std::size_t>(i)];
        if (own.ThinnedCount() == 0 || !HoldsEveryPoint(own, theirs, cover)) continue;
        mine = std::move(theirs);
        overlaySeries_ |= 1u << i;
        ++taken;
    }
    if (taken == 0) cover_.reset();
    ++generation_;
    return taken;
}

DrawnPoints PlotModel::Drawn(int i) const {
    const PlotSeries& own = Series(i);
    const auto n = static_cast<std::size_t>(own.PointCount());
    if (!view_) return {&own, 0, n};
    if (!cover_ || (overlaySeries_ & (1u << i)) == 0) {
        // The series' own points in the view and one on either side.
        const std::size_t a = FirstPointAt(own, 0, view_->from);
        const std::size_t b = FirstPointAt(own, a, view_->to, true);
        return {&own, a > 0 ? a - 1 : 0, std::min(n, b + 1)};
    }
    DrawnCache& c = drawn_.at(static_cast<std::size_t>(i));
    const int lastSlot = n > 0 ? own.ColorSlotAt(static_cast<int>(n) - 1) : -1;
    const PlotPoint last = n > 0 ? own.At(n - 1) : PlotPoint{};
    if (c.generation != generation_ || c.count != n ||
        c.thinned != static_cast<std::size_t>(own.ThinnedCount()) ||
        c.runs != own.ColorRuns().size() || c.lastSlot != lastSlot || c.last.x != last.x ||
        c.last.y != last.y) {
        BuildDrawn(i, c);
        c.generation = generation_;
        c.count = n;
        c.thinned = static_cast<std::size_t>(own.ThinnedCount());
        c.runs = own.ColorRuns().size();
        c.lastSlot = lastSlot;
        c.last = last;
    }
    return {&c.points, 0, static_cast<std::size_t>(c.points.PointCount())};
}

std::optional<PointExtent> PlotModel::DrawnInView(int i) const {
    if (!view_) return std::nullopt;
    if (!cover_ || (overlaySeries_ & (1u << i)) == 0) {
        const PlotSeries& own = Series(i);
        const std::size_t a = FirstPointAt(own, 0, view_->from);
        const std::size_t b = FirstPointAt(own, a, view_->to, true);
        if (a >= b) return std::nullopt;
        PointExtent e{own.At(a).x, own.At(b - 1).x, 0, 0};
        ValueRange(own, a, b, e.ymin, e.ymax);
        return e;
    }
    Drawn(i);
    return drawn_.at(static_cast<std::size_t>(i)).inView;
}

void PlotModel::BuildDrawn(int i, DrawnCache& c) const {
    c.points.Clear();
    c.inView.reset();
    const PlotSeries& own = Series(i);
    const auto n = static_cast<std::size_t>(own.PointCount());
    // The points in time order: the series' own, with the full-resolution
    // ones in place of those inside the cover.
    std::vector<Segment> segs;
    if (cover_ && (overlaySeries_ & (1u << i)) != 0) {
        const PlotSeries& full = overlay_[static_cast<std::size_t>(i)];
        const std::size_t a = FirstPointAt(own, 0, cover_->from);
        const std::size_t b = FirstPointAt(own, a, cover_->to, true);
        const std::size_t fa = FirstPointAt(full, 0, cover_->from);
        const std::size_t fb = FirstPointAt(full, fa, cover_->to, true);
        segs = {{&own, 0, a}, {&full, fa, fb}, {&own, b, n}};
    } else {
        segs = {{&own, 0, n}};
    }
    // Inside the view, and the point on either side, so the lines in and out
    // of it run as they would over every point.
    const TimeSpan v = *view_;
    std::optional<Segment> before;  // its `from` is the point
    bool started = false;
    for (const Segment& seg : segs) {
        if (seg.from >= seg.to) continue;
        const std::size_t a = std::min(seg.to, FirstPointAt(*seg.s, seg.from, v.from));
        if (a == seg.to) {
            if (!started) before = Segment{seg.s, seg.to - 1, seg.to};
            continue;
        }
        if (!started && a > seg.from) before = Segment{seg.s, a - 1, a};
        if (!started && before) CopyPoints(*before, before->from, before->to, c.points);
        started = true;
        const std::size_t b = std::min(seg.to, FirstPointAt(*seg.s, a, v.to, true));
        CopyPoints(seg, a, b, c.points);
        for (std::size_t k = a; k < b; ++k) Widen(c.inView, seg.s->At(k));
        if (b < seg.to) {
            CopyPoints(seg, b, b + 1, c.points);
            return;
        }
    }
    if (!started && before) CopyPoints(*before, before->from, before->to, c.points);
}

}  // namespace pom

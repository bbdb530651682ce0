#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "util/Clock.h"

namespace pom {

// Point times are day numbers: days since 1899-12-30, the fraction being the
// time of day. The chart rebuild and the live path both use them.
double ToDayNumber(const LocalDateTime& t);
LocalDateTime FromDayNumber(double days);

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool operator==(const Rgb&) const = default;
};

// The seven series colours, indexed by colour index modulo 7.
inline constexpr std::array<Rgb, 7> kSeriesColors = {{
    {0, 128, 0},    // green
    {0, 0, 255},    // blue
    {255, 0, 0},    // red
    {0, 0, 128},    // navy
    {255, 0, 255},  // fuchsia
    {0, 255, 255},  // aqua
    {255, 255, 0},  // yellow
}};

// Palette slot of a colour index, also for negative indexes.
int SeriesColorSlot(int colorIndex);

struct PlotPoint {
    double x = 0;  // day number
    double y = 0;
};

// A run of points sharing one colour, from `start` to the next run's start.
// Points almost never change colour, so one run per series is the usual case
// and a point costs its 16 bytes only.
struct ColorRun {
    std::uint32_t start = 0;
    std::uint8_t slot = 0;  // index into kSeriesColors
};

// The smallest and largest time and value of a block of points. Ties keep the
// earliest point's number, as a walk over the points in order would.
struct PointExtent {
    double xmin = 0;
    double xmax = 0;
    double ymin = 0;
    double ymax = 0;
};

class PlotSeries;

// The points of a series in order, as a range for loops and copies.
class PointsView {
public:
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = PlotPoint;
        using difference_type = std::ptrdiff_t;
        using pointer = const PlotPoint*;
        using reference = const PlotPoint&;
        Iterator() = default;
        Iterator(const PlotSeries* s, int i) : s_(s), i_(i) {}
        const PlotPoint& operator*() const;
        const PlotPoint* operator->() const { return &**this; }
        Iterator& operator++() {
            ++i_;
            return *this;
        }
        Iterator operator++(int) {
            Iterator t = *this;
            ++i_;
            return t;
        }
        bool operator==(const Iterator& o) const { return i_ == o.i_; }

    private:
        const PlotSeries* s_ = nullptr;
        int i_ = 0;
    };

    explicit PointsView(const PlotSeries& s) : s_(&s) {}
    Iterator begin() const { return {s_, 0}; }
    Iterator end() const;
    std::size_t size() const;
    bool empty() const { return size() == 0; }
    const PlotPoint& operator[](std::size_t i) const;
    const PlotPoint& front() const { return (*this)[0]; }
    const PlotPoint& back() const { return (*this)[size() - 1]; }
    std::vector<PlotPoint> ToVector() const { return {begin(), end()}; }
    operator std::vector<PlotPoint>() const { return ToVector(); }  // NOLINT: copies read well

private:
    const PlotSeries* s_;
};

// A series' points with a pyramid of extents over them: level 1 sums up
// blocks of 8 points, level 2 blocks of 8 level-1 blocks, and so on, kept
// up to date as points are added or the last one replaced. Drawing asks the
// pyramid which points matter in a pixel column instead of visiting them all.
// The points are kept in chunks of 4096, so a long series neither copies
// itself when it grows nor holds twice the memory it needs.
class PlotSeries {
public:
    static constexpr std::size_t kInitialCapacity = 200;
    // 8 entries per summary block: a pixel column visits at most about
    // 2 x 8 entries on each level, so its cost hardly grows with its points
    // (with blocks of 64 it grew with them up to a hundred or so); the
    // summaries take about 5 bytes a point.
    static constexpr int kFanBits = 3;
    static constexpr std::size_t kFan = std::size_t{1} << kFanBits;
    // Points thinned out together, of which four stay.
    static constexpr std::size_t kThinBlock = 64;
    // Thinned blocks thinned again together, further back.
    static constexpr std::size_t kThinAgain = 8;
    static constexpr int kChunkBits = 12;
    static constexpr std::size_t kChunk = std::size_t{1} << kChunkBits;

    PlotSeries();

    int PointCount() const { return static_cast<int>(count_); }
    // The doubling count of the original point array, still reported for
    // owners that watch it; the storage itself grows in chunks.
    std::size_t Capacity() const { return capacity_; }
    PointsView Points() const { return PointsView(*this); }
    const PlotPoint& Point(int i) const { return At(static_cast<std::size_t>(i)); }
    const PlotPoint& At(std::size_t i) const { return chunks_[i >> kChunkBits][i & (kChunk - 1)]; }
    const std::vector<ColorRun>& ColorRuns() const { return runs_; }
    int ColorSlotAt(int i) const;
    // Bytes held by the points, their summaries and colour runs (capacity, not count).
    std::size_t AllocatedBytes() const;

    // Summary levels above the points (0 for an empty series).
    int SummaryLevels() const { return static_cast<int>(levels_.size()); }
    // Entries at a level: the points at level 0, blocks above.
    std::size_t LevelSize(int level) const {
        return level == 0 ? count_ : levels_[static_cast<std::size_t>(level - 1)].size();
    }
    // The extent of block j at level >= 1: points [j * 8^level, (j + 1) * 8^level).
    const PointExtent& Block(int level, std::size_t j) const {
        return levels_[static_cast<std::size_t>(level - 1)][j];
    }
    // Over every point; meaningless for an empty series.
    PointExtent Bounds() const;

    void Append(PlotPoint p, int slot);
    void ReplaceLast(PlotPoint p, int slot);
    void Clear();

    // Points kept whole before them that were thinned out: each block of 64
    // older than the horizon keeps only its first, lowest, highest and last
    // point, so the chart still shows its span at a fraction of the memory.
    // Older still, kThinAgain such blocks keep four points between them.
    int ThinnedCount() const { return static_cast<int>(thinned_); }
    // Thinned blocks that hold kThinAgain * 64 points as they came.
    int CoarseBlocks() const { return static_cast<int>(coarse_); }
    // Thins the blocks of whole points, oldest first, while all of a block's
    // times lie before `cutoff`; the newest 64 points always stay whole.
    // Thinned blocks whose kept times all lie before `coarseCutoff` are
    // thinned again kThinAgain at a time, oldest first. Point numbers after the
    // thinned ones move down. Returns the points removed.
    std::size_t ThinBefore(double cutoff, double coarseCutoff = -1e300);
    // Whether enough points came since the last ThinBefore for another to pay.
    bool ThinningDue() const { return count_ >= nextThinning_; }
    // The last point before time `x` that, with the one before it, were
    // neighbours among the points as they came (a thinned block's first and
    // the last of the block before, or the first whole point and the last
    // thinned one), with a third point before them; nothing if none is.
    // Points added after these two with the same rules come out as they did.
    std::optional<std::size_t> SeamBefore(double x) const;

    std::string name;  // Windows-1250, drawn as the series' legend mark
    bool visible = false;

private:
    void SetLastColor(int slot);
    void WidenTail(PlotPoint p);
    void RebuildTail();
    // Drops the points from n on, keeping the summaries of those before.
    void TruncateTo(std::size_t n);

    std::vector<std::vector<PlotPoint>> chunks_;
    std::size_t count_ = 0;
    std::vector<std::vector<PointExtent>> levels_;
    std::vector<ColorRun> runs_;
    std::size_t capacity_ = kInitialCapacity;
    std::size_t thinned_ = 0;
    std::size_t coarse_ = 0;  // leading entries of blockFirst_ that are coarse
    std::size_t nextThinning_ = kChunk;
    std::vector<std::uint32_t> blockFirst_;  // the thinned blocks' first points
};

inline const PlotPoint& PointsView::Iterator::operator*() const {
    return s_->Point(i_);
}
inline PointsView::Iterator PointsView::end() const {
    return {s_, s_->PointCount()};
}
inline std::size_t PointsView::size() const {
    return static_cast<std::size_t>(s_->PointCount());
}
inline const PlotPoint& PointsView::operator[](std::size_t i) const {
    return s_->At(i);
}

// A stretch of time in day numbers, both ends included.
struct TimeSpan {
    double from = 0;
    double to = 0;
    bool Contains(double x) const { return from <= x && x <= to; }
    bool operator==(const TimeSpan&) const = default;
};

class PlotModel;

// The stretch of a series' points the chart draws: [from, to) of `series`.
struct DrawnPoints {
    const PlotSeries* series = nullptr;
    std::size_t from = 0;
    std::size_t to = 0;
    std::size_t Count() const { return to - from; }
};

// An empty model with `m`'s rules, keeping every point, whose thinned series
// start with the three points before their seam before `x` (SeamBefore):
// the readings after `after[i]` added to it give series i's points as they
// came. `after[i]` is -infinity for a series without a seam (every reading).
PlotModel SeedZoomPoints(const PlotModel& m, double x, std::array<double, 11>& after);

// The chart's points and the rules for adding them: rounding, run
// compression and the averaging of close points.
//
// A zoom (SetView) shows one stretch of time. Inside it the chart can draw
// full-resolution points read back for the thinned past (SetOverlay) in place
// of the thinned ones; they last as long as the zoom, so memory stays bounded.
class PlotModel {
public:
    static constexpr int kSlots = 11;

    enum class AddResult {
        Rejected,  // series out of range or a value/time that is not a finite number
        Replaced,  // the last point took the new time and value
        Appended,
    };

    int SeriesCount = 0;  // for the owner; the chart does not read it
    bool Averaging = false;
    double AvgWindow = 0;  // days
    // Points further back than this from a series' newest time are thinned
    // (see PlotSeries::ThinBefore); not above 0 keeps every point.
    double FullResolutionDays = 7;
    // Thinned points further back than this many horizons are thinned again,
    // so a long history costs the chart few points per pixel column: at a
    // year's span a column holds over seven hours, a coarse block of readings
    // every 10 s under an hour and a half.
    static constexpr double kCoarseAfter = 8;

    PlotSeries& Series(int i) { return series_.at(static_cast<std::size_t>(i)); }
    const PlotSeries& Series(int i) const { return series_.at(static_cast<std::size_t>(i)); }

    int Precision() const { return precision_; }
    // Values below 1 become 1: the rounding divides by it.
    void SetPrecision(int p) { precision_ = p < 1 ? 1 : p; }

    // Palette slot of the last point added (the pen colour).
    int PenSlot() const { return penSlot_; }
    bool LayerOption = false;

    AddResult AddPoint(int colorIndex, int series, double value, double time);
    void ClearPlot();

    double RoundToPrecision(double v) const;

    // --- zoom
    // Shows only [from, to]; the value range follows the points inside it.
    // Full-resolution points that do not cover the new view are dropped.
    void SetView(TimeSpan view);
    // Back to every point; the full-resolution points go too.
    void ClearView();
    const std::optional<TimeSpan>& View() const { return view_; }
    // The newest time among the thinned points of the visible series, or
    // nothing when none of them was thinned.
    std::optional<double> ThinnedUntil() const;
    // `full` holds every point of `cover` (and maybe more around it), added
    // with this model's rules. A series whose own points in `cover` are not
    // all among them (a file missing or damaged, other averaging) keeps its
    // thinned points. Returns the series that took them. Ignored (0) without
    // a view or when the cover does not serve it (CoverServes).
    int SetOverlay(PlotModel&& full, TimeSpan cover);
    bool HasOverlay() const { return overlaySeries_ != 0; }
    // Whether full-resolution points read back for `cover` serve `view`:
    // they start before it, and end after it or after the thinned points.
    bool CoverServes(TimeSpan cover, TimeSpan view) const;
    const std::optional<TimeSpan>& OverlayCover() const { return cover_; }
    // What the chart draws of series i: every point without a zoom; with one,
    // the points inside the view and one on either side of it, the
    // full-resolution ones in place of the thinned ones where there are any
    // (then from a copy bounded by the cover, else from the series itself).
    DrawnPoints Drawn(int i) const;
    // The value range of Drawn(i)'s points inside the view; nothing when none
    // lies inside (or without a zoom).
    std::optional<PointExtent> DrawnInView(int i) const;

private:
    struct DrawnCache {
        PlotSeries points;
        std::optional<PointExtent> inView;
        // What it was built from; any change builds it again.
        std::size_t count = 0;
        std::size_t thinned = 0;
        std::size_t runs = 0;
        PlotPoint last;
        int lastSlot = -1;
        std::uint64_t generation = 0;
    };
    void BuildDrawn(int i, DrawnCache& c) const;

    std::array<PlotSeries, kSlots> series_;
    std::optional<TimeSpan> view_;
    std::optional<TimeSpan> cover_;
    std::array<PlotSeries, kSlots> overlay_;
    unsigned overlaySeries_ = 0;    // bit i: series i draws overlay_[i] inside cover_
    std::uint64_t generation_ = 1;  // changes with the view and the overlay
    mutable std::array<DrawnCache, kSlots> drawn_;
    int precision_ = 1;
    int penSlot_ = 0;
};

}  // namespace pom

#include "plot/logic/PlotModel.h"

#include <algorithm>
#include <cmath>

namespace pom {

namespace {
constexpr double kUnixEpochDay = 25569.0;  // 1970-01-01 as a day number
constexpr double kMsPerDay = 86400000.0;
// Times come from whole-second stamps; this keeps a gap of exactly one window
// from being merged because of the day numbers' binary fractions.
constexpr double kWindowSlack = 1e-9;
}  // namespace

double ToDayNumber(const LocalDateTime& t) {
    LocalDateTime midnight = t;
    midnight.hour = midnight.minute = midnight.second = midnight.msec = 0;
    const double day = std::floor(static_cast<double>(ToCalendarSeconds(midnight)) / 86400.0);
    const double ms = ((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + t.msec;
    return kUnixEpochDay + day + ms / kMsPerDay;
}

LocalDateTime FromDayNumber(double days) {
    // A negative day number keeps its time of day as a positive fraction.
    const double whole = std::trunc(days);
    double ms = std::round(std::fabs(days - whole) * kMsPerDay);
    double dayPart = whole;
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        dayPart += days < 0 ? -1 : 1;
    }
    const auto secs = static_cast<std::time_t>(dayPart - kUnixEpochDay) * 86400;
    LocalDateTime t = FromCalendarSeconds(secs);
    const auto msi = static_cast<long long>(ms);
    t.hour = static_cast<int>(msi / 3600000);
    t.minute = static_cast<int>(msi / 60000 % 60);
    t.second = static_cast<int>(msi / 1000 % 60);
    t.msec = static_cast<int>(msi % 1000);
    return t;
}

int SeriesColorSlot(int colorIndex) {
    const int n = static_cast<int>(kSeriesColors.size());
    return ((colorIndex % n) + n) % n;
}

namespace {

// Strict comparisons keep the earliest of equal numbers (a +0 before a -0),
// so the extents are the very numbers a walk over the points finds.
void Widen(PointExtent& e, const PointExtent& by) {
    e.xmin = by.xmin < e.xmin ? by.xmin : e.xmin;
    e.xmax = by.xmax > e.xmax ? by.xmax : e.xmax;
    e.ymin = by.ymin < e.ymin ? by.ymin : e.ymin;
    e.ymax = by.ymax > e.ymax ? by.ymax : e.ymax;
}

PointExtent ExtentOf(PlotPoint p) {
    return {p.x, p.x, p.y, p.y};
}

// Whether an extent stays right by widening it with the new number alone
// when the number `was` in it is replaced by `now`.
bool WidenSuffices(double was, double now, double lo, double hi) {
    if (lo < was && was < hi) return true;
    if (was == hi && was > lo && now > was) return true;
    return was == lo && was < hi && now < was;
}

}  // namespace

PlotSeries::PlotSeries() {
    chunks_.emplace_back().reserve(capacity_);
}

int PlotSeries::ColorSlotAt(int i) const {
    int slot = 0;
    for (const ColorRun& r : runs_) {
        if (static_cast<int>(r.start) > i) break;
        slot = r.slot;
    }
    return slot;
}

std::size_t PlotSeries::AllocatedBytes() const {
    std::size_t bytes = chunks_.capacity() * sizeof(std::vector<PlotPoint>) +
                        levels_.capacity() * sizeof(std::vector<PointExtent>) +
                        runs_.capacity() * sizeof(ColorRun) +
                        blockFirst_.capacity() * sizeof(std::uint32_t);
    for (const auto& c : chunks_) bytes += c.capacity() * sizeof(PlotPoint);
    for (const auto& l : levels_) bytes += l.capacity() * sizeof(PointExtent);
    return bytes;
}

PointExtent PlotSeries::Bounds() const {
    PointExtent e;
    if (levels_.empty()) return e;
    const std::vector<PointExtent>& top = levels_.back();
    e = top.front();
    for (std::size_t j = 1; j < top.size(); ++j) Widen(e, top[j]);
    return e;
}

void PlotSeries::Append(PlotPoint p, int slot) {
    if (chunks_.back().size() == kChunk) chunks_.emplace_back().reserve(kChunk);
    std::vector<PlotPoint>& chunk = chunks_.back();
    // The first chunk grows by half, so a short series wastes little.
    if (chunk.size() == chunk.capacity())
        chunk.reserve(std::min(kChunk, std::max(kInitialCapacity, chunk.size() * 3 / 2)));
    chunk.push_back(p);
    ++count_;
    if (count_ >= capacity_) capacity_ = 2 * count_;
    WidenTail(p);
    const auto idx = static_cast<std::uint32_t>(count_ - 1);
    if (runs_.empty() || runs_.back().slot != slot)
        runs_.push_back({idx, static_cast<std::uint8_t>(slot)});
}

void PlotSeries::WidenTail(PlotPoint p) {
    const std::size_t idx = count_ - 1;
    for (std::size_t k = 0; k < levels_.size(); ++k) {
        std::vector<PointExtent>& level = levels_[k];
        const std::size_t j = idx >> (kFanBits * static_cast<int>(k + 1));
        if (j == level.size())
            level.push_back(ExtentOf(p));
        else
            Widen(level[j], ExtentOf(p));
    }
    if (levels_.empty()) {
        levels_.push_back({ExtentOf(p)});
        return;
    }
    // A top level of more than one block gets a level above it.
    if (levels_.back().size() > kFan) {
        const std::vector<PointExtent>& top = levels_.back();
        std::vector<PointExtent> up;
        for (std::size_t j = 0; j < top.size(); ++j) {
            if (j % kFan == 0)
                up.push_back(top[j]);
            else
                Widen(up.back(), top[j]);
        }
        levels_.push_back(std::move(up));
    }
}

void PlotSeries::RebuildTail() {
    std::size_t last = count_ - 1;
    std::size_t j = last >> kFanBits;
    PointExtent e = ExtentOf(At(j << kFanBits));
    for (std::size_t i = (j << kFanBits) + 1; i <= last; ++i) Widen(e, ExtentOf(At(i)));
    levels_[0][j] = e;
    for (std::size_t k = 1; k < levels_.size(); ++k) {
        const std::vector<PointExtent>& below = levels_[k - 1];
        last = j;
        j = last >> kFanBits;
        e = below[j << kFanBits];
        for (std::size_t i = (j << kFanBits) + 1; i <= last; ++i) Widen(e, below[i]);
        levels_[k][j] = e;
    }
}

void PlotSeries::ReplaceLast(PlotPoint p, int slot) {
    PlotPoint& last = chunks_.back().back();
    const PlotPoint was = last;
    last = p;
    // Only a point that held an edge of its block, and now moves inwards,
    // makes the blocks above it be summed up again.
    const PointExtent& block = levels_[0][(count_ - 1) >> kFanBits];
    if (WidenSuffices(was.x, p.x, block.xmin, block.xmax) &&
        WidenSuffices(was.y, p.y, block.ymin, block.ymax)) {
        for (std::size_t k = 0; k < levels_.size(); ++k)
            Widen(levels_[k][(count_ - 1) >> (kFanBits * static_cast<int>(k + 1))], ExtentOf(p));
    } else {
        RebuildTail();
    }
    SetLastColor(slot);
}

std::size_t PlotSeries::ThinBefore(double cutoff, double coarseCutoff) {
    nextThinning_ = count_ + kChunk;
    // The run rules read the last points; they stay whole.
    const std::size_t whole = count_ > kThinBlock ? count_ - kThinBlock : 0;
    std::size_t end = thinned_;
    while (end + kThinBlock <= whole) {
        bool old = true;
        for (std::size_t i = end; i < end + kThinBlock && old; ++i) old = At(i).x < cutoff;
        if (!old) break;
        end += kThinBlock;
    }
    // Then runs of kThinAgain thinned blocks all before `coarseCutoff` become one.
    const std::size_t blocks = blockFirst_.size();
    const auto blockStart = [&](std::size_t k) { return k < blocks ? blockFirst_[k] : thinned_; };
    std::size_t coarseEnd = coarse_;
    while (coarseEnd + kThinAgain <= blocks) {
        bool old = true;
        for (std::size_t i = blockFirst_[coarseEnd]; i < blockStart(coarseEnd + kThinAgain) && old;
             ++i)
            old = At(i).x < coarseCutoff;
        if (!old) break;
        coarseEnd += kThinAgain;
    }
    if (end == thinned_ && coarseEnd == coarse_) return 0;

    // What follows the first block that changes is gathered, cut off and
    // added again: the points before it keep their numbers and summaries.
    const std::size_t start = coarseEnd > coarse_ ? blockFirst_[coarse_] : thinned_;
    struct Kept {
        PlotPoint p;
        int slot;
    };
    std::vector<Kept> kept;
    kept.reserve((end - thinned_) / 16 + (count_ - end) + (thinned_ - start));
    auto run = static_cast<std::size_t>(
        std::upper_bound(runs_.begin(), runs_.end(), start,
                         [](std::size_t i, const ColorRun& r) { return i < r.start; }) -
        runs_.begin());
    int slot = run > 0 ? runs_[run - 1].slot : 0;
    const auto keep = [&](std::size_t i) {
        while (run < runs_.size() && runs_[run].start <= i) slot = runs_[run++].slot;
        kept.push_back({At(i), slot});
    };
    std::vector<std::uint32_t> firsts(
        blockFirst_.begin(),
        blockFirst_.begin() + static_cast<std::ptrdiff_t>(coarseEnd > coarse_ ? coarse_ : blocks));
    // A block of points [a, b) keeps its first, lowest, highest and last in
    // their order, each once.
    const auto thin = [&](std::size_t a, std::size_t b) {
        firsts.push_back(static_cast<std::uint32_t>(start + kept.size()));
        std::size_t lo = a;
        std::size_t hi = a;
        for (std::size_t i = a + 1; i < b; ++i) {
            if (At(i).y < At(lo).y) lo = i;
            if (At(i).y > At(hi).y) hi = i;
        }
        const std::size_t picks[] = {a, std::min(lo, hi), std::max(lo, hi), b - 1};
        std::size_t prev = count_;
        for (std::size_t i : picks) {
            if (i == prev) continue;
            keep(i);
            prev = i;
        }
    };
    // The extremes of thinned blocks are those of their points, so thinning
    // them again gives what thinning all their points at once would.
    for (std::size_t k = coarse_; k < coarseEnd; k += kThinAgain)
        thin(blockFirst_[k], blockStart(k + kThinAgain));
    if (coarseEnd > coarse_) {
        for (std::size_t k = coarseEnd; k < blocks; ++k) {
            firsts.push_back(static_cast<std::uint32_t>(start + kept.size()));
            for (std::size_t i = blockFirst_[k]; i < blockStart(k + 1); ++i) keep(i);
        }
    }
    for (std::size_t b = thinned_; b < end; b += kThinBlock) thin(b, b + kThinBlock);
    const std::size_t thinnedNow = start + kept.size();
    for (std::size_t i = end; i < count_; ++i) keep(i);

    const std::size_t removed = count_ - start - kept.size();
    TruncateTo(start);
    for (const Kept& k : kept) Append(k.p, k.slot);
    thinned_ = thinnedNow;
    coarse_ += (coarseEnd - coarse_) / kThinAgain;
    blockFirst_ = std::move(firsts);
    // Each pass costs the whole points once; spacing the passes by half of
    // them keeps that to a couple of copies per point added.
    nextThinning_ = count_ + std::max(4 * kChunk, (count_ - thinned_) / 2);
    return removed;
}

std::optional<std::size_t> PlotSeries::SeamBefore(double x) const {
    // The first whole point follows the last thinned one as it came.
    if (thinned_ >= 2 && thinned_ < count_ && At(thinned_).x < x) return thinned_;
    auto it = std::upper_bound(blockFirst_.begin(), blockFirst_.end(), x,
                               [this](double t, std::uint32_t i) { return t <= At(i).x; });
    while (it != blockFirst_.begin()) {
        --it;
        if (*it >= 2) return *it;
    }
    return std::nullopt;
}

void PlotSeries::TruncateTo(std::size_t n) {
    if (n == 0) {
        const std::size_t capacity = capacity_;
        Clear();
        capacity_ = capacity;
        return;
    }
    chunks_.resize(((n - 1) >> kChunkBits) + 1);
    chunks_.back().resize(n - ((chunks_.size() - 1) << kChunkBits));
    for (std::size_t k = 0; k < levels_.size(); ++k) {
        const int bits = kFanBits * static_cast<int>(k + 1);
        levels_[k].resize(((n - 1) >> bits) + 1);
    }
    while (!runs_.empty() && runs_.back().start >= n) runs_.pop_back();
    count_ = n;
    RebuildTail();
}

void PlotSeries::SetLastColor(int slot) {
    const auto idx = static_cast<std::uint32_t>(count_ - 1);
    if (runs_.back().slot == slot) return;
    if (runs_.back().start == idx) {
        runs_.back().slot = static_cast<std::uint8_t>(slot);
        // The last point may now match the run before it again.
        if (runs_.size() >= 2 && runs_[runs_.size() - 2].slot == slot) runs_.pop_back();
    } else {
        runs_.push_back({idx, static_cast<std::uint8_t>(slot)});
    }
}

void PlotSeries::Clear() {
    // Fresh vectors give the memory of a long series back.
    std::vector<std::vector<PlotPoint>>().swap(chunks_);
    std::vector<std::vector<PointExtent>>().swap(levels_);
    std::vector<ColorRun>().swap(runs_);
    std::vector<std::uint32_t>().swap(blockFirst_);
    count_ = 0;
    thinned_ = 0;
    coarse_ = 0;
    nextThinning_ = kChunk;
    capacity_ = kInitialCapacity;
    chunks_.emplace_back().reserve(capacity_);
}

double PlotModel::RoundToPrecision(double v) const {
    // nearbyint rounds half to even in the default rounding mode.
    return std::nearbyint(v * precision_) / precision_;
}

PlotModel::AddResult PlotModel::AddPoint(int colorIndex, int series, double value, double time) {
    if (series < 0 || series >= kSlots) return AddResult::Rejected;
    // An infinite or NaN value would poison the ranges and the pixel mapping.
    if (!std::isfinite(value) || !std::isfinite(time)) return AddResult::Rejected;
    penSlot_ = SeriesColorSlot(colorIndex);
    PlotSeries& s = series_[static_cast<std::size_t>(series)];
    const int n = s.PointCount();

    if (n >= 3) {
        value = RoundToPrecision(value);
        const double a = s.Point(n - 2).y;
        const double b = s.Point(n - 1).y;
        if (std::fabs(a - value) <= 1e-6 ||
            (std::fabs(a - b) <= 1e-5 && std::fabs(value - b) <= 1e-6)) {
            s.ReplaceLast({time, value}, penSlot_);
            return AddResult::Replaced;
        }
    }

    LayerOption = false;
    if (Averaging && n >= 2) {
        // A clock set back must not make every later reading merge into one
        // point, so the gap counts in either direction.
        const double d = n >= 3 ? std::fabs(time - s.Point(n - 2).x) : 1.0;
        if (d < AvgWindow - kWindowSlack) {
            value = RoundToPrecision((s.Point(n - 1).y + value) / 2);
            s.ReplaceLast({time, value}, penSlot_);
            return AddResult::Replaced;
        }
    }
    s.Append({time, value}, penSlot_);
    if (FullResolutionDays > 0 && s.ThinningDue())
        s.ThinBefore(s.Bounds().xmax - FullResolutionDays,
                     s.Bounds().xmax - kCoarseAfter * FullResolutionDays);
    return AddResult::Appended;
}

void PlotModel::ClearPlot() {
    for (PlotSeries& s : series_) {
        s.visible = false;
        s.Clear();
    }
    SeriesCount = 0;
    ClearView();
}

}  // namespace pom

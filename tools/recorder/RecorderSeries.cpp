#include "tools/recorder/RecorderSeries.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <tuple>

namespace pom::recorder {
namespace {

constexpr std::int64_t kDay = 86400;
constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
// Rows read again to place gaps hidden inside summary cells; past this the
// remaining suspect cells are shown whole.
constexpr std::int64_t kRefineRowBudget = 20000;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's method).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = FloorDiv(y, 400);
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

std::string Format(std::int64_t t, char sep) {
    const std::int64_t days = FloorDiv(t, kDay);
    const std::int64_t sec = t - days * kDay;
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    const auto s = static_cast<unsigned>(sec);  // 0 .. 86399
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u%c%02u:%02u:%02u", static_cast<long long>(y), m,
                  d, sep, s / 3600, s / 60 % 60, s % 60);
    return buf;
}

// Walks readings (or cells of them) in time order and collects the spans
// without one.
class GapFinder {
public:
    explicit GapFinder(std::optional<std::int64_t> interval) : interval_(interval) {}
    bool on() const { return interval_.has_value(); }

    void Span(std::int64_t first, std::int64_t last) {
        if (!on()) return;
        if (have_ && Wide(first - last_)) gaps.emplace_back(last_, first);
        if (!have_ || last > last_) last_ = last;
        have_ = true;
    }
    bool Wide(std::int64_t spacing) const { return 2 * spacing > 3 * *interval_; }
    // A cell whose rows may not follow each other at the usual spacing: its
    // span cannot hold its rows without a wide step, or holds fewer rows than
    // regular readings would give.
    bool Suspect(const Cell& c) const {
        if (!on() || c.rows < 2) return false;
        const std::int64_t span = c.last - c.first;
        return 2 * span > 3 * *interval_ * (c.rows - 1) || span >= *interval_ * c.rows;
    }

    std::vector<std::pair<std::int64_t, std::int64_t>> gaps;

private:
    std::optional<std::int64_t> interval_;
    bool have_ = false;
    std::int64_t last_ = 0;
};

class Builder {
public:
    Builder(const SeriesRequest& req, std::int64_t level, Series& out)
        : req_(req), level_(level), span_(req.to - req.from + 1), out_(out) {
        if (req.points > 0) buckets_.resize(static_cast<std::size_t>(req.points));
    }

    void Row(const recorder::Row& r, std::int64_t t) {
        const std::size_t day = DayIndex(t);
        if (day < present_.size()) ++present_[day];
        if (req_.points == 0) {
            out_.t.push_back(t);
            for (int c = 0; c < kChannels; ++c) {
                if (!req_.channels[static_cast<std::size_t>(c)]) continue;
                const auto& v = r.values[static_cast<std::size_t>(c)];
                const bool ok = v && IsReading(*v);
                out_.values[static_cast<std::size_t>(c)].push_back(ok ? *v : kNone);
                if (ok) out_.stats[static_cast<std::size_t>(c)].Add(*v, t);
            }
            return;
        }
        auto& bucket = buckets_[Bucket(FloorDiv(t, level_) * level_)];
        for (std::size_t c = 0; c < kChannels; ++c) {
            const auto& v = r.values[c];
            if (!req_.channels[c] || !v || !IsReading(*v)) continue;
            bucket[c].Add(*v, t);
            out_.stats[c].Add(*v, t);
        }
    }

    void Take(const Cell& cell) {
        const std::size_t day = DayIndex(cell.start);
        if (day < present_.size()) present_[day] += cell.rows;
        auto& bucket = buckets_[Bucket(cell.start)];
        for (std::size_t c = 0; c < kChannels; ++c) {
            if (!req_.channels[c]) continue;
            bucket[c].Merge(cell.ch[c]);
            out_.stats[c].Merge(cell.ch[c]);
        }
    }

    void Days(std::int64_t lo, std::int64_t hi) {
        dayLo_ = lo;
        dayHi_ = hi;
        if (lo <= hi)
            present_.assign(static_cast<std::size_t>(FloorDiv(hi, kDay) - FloorDiv(lo, kDay) + 1),
                            0);
    }

    void Finish(std::optional<std::int64_t> interval) {
        if (req_.points > 0) Points();
        if (!interval) return;
        for (std::size_t i = 0; i < present_.size(); ++i) {
            const std::int64_t day = (FloorDiv(dayLo_, kDay) + static_cast<std::int64_t>(i)) * kDay;
            const std::int64_t lo = std::max(day, dayLo_), hi = std::min(day + kDay - 1, dayHi_);
            out_.days.push_back({day, (hi - lo) / *interval + 1, present_[i]});
        }
    }

private:
    std::size_t DayIndex(std::int64_t t) const {
        if (present_.empty() || t < dayLo_) return present_.size();
        return static_cast<std::size_t>(FloorDiv(t, kDay) - FloorDiv(dayLo_, kDay));
    }
    // Buckets are unions of whole cells: a cell (or a row, by the cell it
    // falls in) belongs to the bucket its start lies in, so each bucket's
    // extremes are exact and buckets differ in width by at most one cell.
    std::size_t Bucket(std::int64_t cellStart) const {
        const std::int64_t at = std::max(cellStart, req_.from) - req_.from;
        const std::int64_t k = at * req_.points / span_;
        return static_cast<std::size_t>(std::min<std::int64_t>(k, req_.points - 1));
    }

    // Each bucket's minimum and maximum in time order, once when they are
    // the same reading; t is the union of their times.
    void Points() {
        std::vector<std::tuple<std::int64_t, int, double>> pts;
        for (const auto& bucket : buckets_)
            for (std::size_t c = 0; c < kChannels; ++c) {
                const Aggregate& a = bucket[c];
                if (a.count == 0) continue;
                const int ch = static_cast<int>(c);
                if (a.minT == a.maxT) {
                    pts.emplace_back(a.minT, ch, a.min);
                } else {
                    pts.emplace_back(a.minT, ch, a.min);
                    pts.emplace_back(a.maxT, ch, a.max);
                }
            }
        std::sort(pts.begin(), pts.end(),
                  [](const auto& a, const auto& b) { return std::get<0>(a) < std::get<0>(b); });
        for (const auto& [t, ch, v] : pts) {
            if (out_.t.empty() || out_.t.back() != t) {
                out_.t.push_back(t);
                for (std::size_t c = 0; c < kChannels; ++c)
                    if (req_.channels[c]) out_.values[c].push_back(kNone);
            }
            out_.values[static_cast<std::size_t>(ch)].back() = v;
        }
    }

    const SeriesRequest& req_;
    std::int64_t level_;
    std::int64_t span_;
    Series& out_;
    std::vector<std::array<Aggregate, kChannels>> buckets_;
    std::int64_t dayLo_ = 0, dayHi_ = -1;
    std::vector<std::int64_t> present_;
};

}  // namespace

std::optional<std::int64_t> StampSeconds(std::string_view s) {
    if (!IsStamp(s)) return std::nullopt;
    const auto num = [&](std::size_t at, std::size_t len) {
        int v = 0;
        for (std::size_t i = at; i < at + len; ++i) v = v * 10 + (s[i] - '0');
        return v;
    };
    return DaysFromCivil(num(0, 4), static_cast<unsigned>(num(5, 2)),
                         static_cast<unsigned>(num(8, 2))) *
               kDay +
           num(11, 2) * 3600 + num(14, 2) * 60 + num(17, 2);
}

std::string StampText(std::int64_t t) {
    return Format(t, ' ');
}

std::string IsoText(std::int64_t t) {
    return Format(t, 'T');
}

bool IsReading(double v) {
    return std::isfinite(v) && v > -888.0;
}

void Aggregate::Add(double v, std::int64_t t) {
    if (count == 0 || v < min || (v == min && t < minT)) min = v, minT = t;
    if (count == 0 || v > max || (v == max && t < maxT)) max = v, maxT = t;
    ++count;
    sum += v;
}

void Aggregate::Merge(const Aggregate& o) {
    if (o.count == 0) return;
    if (count == 0 || o.min < min || (o.min == min && o.minT < minT)) min = o.min, minT = o.minT;
    if (count == 0 || o.max > max || (o.max == max && o.maxT < maxT)) max = o.max, maxT = o.maxT;
    count += o.count;
    sum += o.sum;
}

void Cell::Add(std::int64_t t, const Values& values) {
    if (rows == 0 || t < first) first = t;
    if (rows == 0 || t > last) last = t;
    ++rows;
    for (std::size_t c = 0; c < kChannels; ++c)
        if (values[c] && IsReading(*values[c])) ch[c].Add(*values[c], t);
}

std::optional<std::int64_t> UsualInterval(const std::vector<Row>& newest) {
    std::vector<std::int64_t> spacing;
    std::optional<std::int64_t> later;
    for (const Row& r : newest) {
        const auto t = StampSeconds(r.stamp);
        if (!t) continue;
        if (later && *later > *t) spacing.push_back(*later - *t);
        later = t;
    }
    if (spacing.empty()) return std::nullopt;
    const auto mid = spacing.begin() + static_cast<long>(spacing.size() / 2);
    std::nth_element(spacing.begin(), mid, spacing.end());
    return *mid;
}

std::int64_t ChooseLevel(std::int64_t from, std::int64_t to, int points) {
    if (points <= 0 || to < from) return 1;
    const std::int64_t bucket = (to - from + 1) / points;
    std::int64_t level = 1;
    for (std::int64_t l : kLevels)
        if (l <= bucket) level = l;
    return level;
}

Series BuildSeries(ReadingsView& view, const TableFacts& facts,
                   std::optional<std::int64_t> interval, const SeriesRequest& req) {
    Series out;
    if (req.to < req.from) return out;
    std::int64_t level = facts.summarised ? ChooseLevel(req.from, req.to, req.points) : 1;
    // Whole cells cover [a, b); the rows at either end are read as rows.
    std::int64_t a = 0, b = 0;
    std::vector<Cell> cells;
    if (level > 1) {
        a = FloorDiv(req.from + level - 1, level) * level;
        b = FloorDiv(req.to + 1, level) * level;
        auto got = a < b ? view.Cells(req.table, level, a, b, req.channels) : std::nullopt;
        if (got)
            cells = std::move(*got);
        else
            level = 1;
    }
    out.level = level;

    Builder build(req, level, out);
    const auto firstT = StampSeconds(facts.first), lastT = StampSeconds(facts.last);
    if (firstT && lastT) build.Days(std::max(req.from, *firstT), std::min(req.to, *lastT));

    GapFinder gaps(interval);
    const auto [before, after] =
        gaps.on() ? view.Around(req.table, StampText(req.from), StampText(req.to))
                  : std::pair<std::string, std::string>();
    if (const auto t = StampSeconds(before)) gaps.Span(*t, *t);
    const auto rows = [&](std::int64_t from, std::int64_t to) {
        if (from > to) return;
        view.EachRow(req.table, StampText(from), StampText(to), [&](const Row& r) {
            if (const auto t = StampSeconds(r.stamp)) {
                build.Row(r, *t);
                gaps.Span(*t, *t);
            }
        });
    };
    if (level == 1) {
        rows(req.from, req.to);
    } else {
        rows(req.from, a - 1);
        // A cell's inside is looked at again, row by row, only when its
        // counts say a wide step may hide in it: a hole narrower than a cell
        // in irregular readings can go unseen, and past the row budget a
        // suspect cell is shown as one gap (at cell resolution).
        std::vector<const Cell*> suspects;
        for (const Cell& c : cells) {
            build.Take(c);
            gaps.Span(c.first, c.last);
            if (gaps.Suspect(c)) suspects.push_back(&c);
        }
        rows(b, req.to);
        std::int64_t budget = kRefineRowBudget;
        for (const Cell* c : suspects) {
            if (c->rows > budget) {
                gaps.gaps.emplace_back(c->first, c->last);
                continue;
            }
            budget -= c->rows;
            GapFinder inside(interval);
            view.EachRow(req.table, StampText(c->first), StampText(c->last), [&](const Row& r) {
                if (const auto t = StampSeconds(r.stamp)) inside.Span(*t, *t);
            });
            gaps.gaps.insert(gaps.gaps.end(), inside.gaps.begin(), inside.gaps.end());
        }
    }
    if (const auto t = StampSeconds(after)) gaps.Span(*t, *t);
    build.Finish(interval);
    out.gaps = std::move(gaps.gaps);
    std::sort(out.gaps.begin(), out.gaps.end());
    return out;
}

}  // namespace pom::recorder

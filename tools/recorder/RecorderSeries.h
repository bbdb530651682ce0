#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/recorder/RecorderInput.h"

// What the dashboard's answers are made of: a table's facts, a range cut
// into time buckets with each bucket's true minimum and maximum, the gaps and
// the per-day completeness. Plain C++ over a small store-neutral interface,
// so SQLite and any later store answer the same way.
namespace pom::recorder {

struct Row {
    std::string stamp;
    Values values;
};

// Seconds since 1970-01-01 00:00:00 of a stored wall-clock stamp taken as if
// it were UTC: no zone, no DST ambiguity. nullopt for a malformed stamp.
std::optional<std::int64_t> StampSeconds(std::string_view stamp);
std::string StampText(std::int64_t t);  // "YYYY-MM-DD HH:MM:SS"
std::string IsoText(std::int64_t t);    // "YYYY-MM-DDTHH:MM:SS"

// -888 marks a channel without a reading, -999 an empty slot.
bool IsReading(double v);

// Minimum and maximum with the time of each (the earlier one on a tie),
// count and sum of one channel's valid values.
struct Aggregate {
    std::int64_t count = 0;
    double sum = 0;
    double min = 0;
    std::int64_t minT = 0;
    double max = 0;
    std::int64_t maxT = 0;

    void Add(double v, std::int64_t t);
    void Merge(const Aggregate& o);
};

// The summary of the rows whose time lies in [start, start + level).
struct Cell {
    std::int64_t start = 0;
    std::int64_t rows = 0;
    std::int64_t first = 0;  // the earliest and the latest row's time
    std::int64_t last = 0;
    std::array<Aggregate, kChannels> ch{};

    void Add(std::int64_t t, const Values& values);
};

// Cell widths the stores keep summaries for, finest first; each divides a day.
// Steps of at most 6 keep a range's cells read within 6 per bucket: 24 h at
// 1600 points reads rows, 30 d 20-minute cells, a year 4-hour cells.
inline constexpr std::array<std::int64_t, 5> kLevels = {600, 1200, 3600, 14400, 86400};

// What a readings table looks like now, cheap to ask for.
struct TableFacts {
    std::string name;
    std::int64_t rows = 0;
    std::string first, last;  // stamps, empty when there are no rows
    std::vector<Row> newest;  // up to kNewestRows, newest first
    std::string legendsText;
    std::array<bool, kChannels> hasData{};  // a valid value anywhere in the table
    bool summarised = false;                // Cells can answer
};
inline constexpr int kNewestRows = 50;

// What the answers need from a store. Table names passed in are those the
// store itself returned (FindTable / TableNames).
class ReadingsView {
public:
    virtual ~ReadingsView() = default;
    // Changes after every committed write; equal versions mean equal answers.
    virtual std::uint64_t Version() const = 0;
    virtual std::vector<std::string> TableNames() = 0;
    virtual std::optional<std::string> FindTable(const std::string& name) = 0;
    virtual std::optional<TableFacts> Facts(const std::string& table) = 0;
    // Hands over the rows with from <= Data <= to (stamps), oldest first, one
    // at a time: an export of a year need not sit in memory as rows.
    virtual void EachRow(const std::string& table, const std::string& from, const std::string& to,
                         const std::function<void(const Row&)>& visit) = 0;
    // The level's cells with from <= start < to, oldest first, holding the
    // chosen channels (the others left empty); nullopt when the table has no
    // summaries.
    virtual std::optional<std::vector<Cell>> Cells(const std::string& table, std::int64_t level,
                                                   std::int64_t from, std::int64_t to,
                                                   const std::array<bool, kChannels>& channels) = 0;
    // The newest stamp before `from` and the oldest after `to`, empty when none.
    virtual std::pair<std::string, std::string> Around(const std::string& table,
                                                       const std::string& from,
                                                       const std::string& to) = 0;
};

// The median spacing of rows given newest first, in seconds; nullopt with
// fewer than two rows of valid stamps.
std::optional<std::int64_t> UsualInterval(const std::vector<Row>& newest);

struct DayShare {
    std::int64_t day = 0;  // its 00:00:00
    std::int64_t expected = 0;
    std::int64_t present = 0;
};

struct SeriesRequest {
    std::string table;
    std::int64_t from = 0, to = 0;  // inclusive
    int points = 0;                 // 0: every row
    std::array<bool, kChannels> channels{};
};

struct Series {
    std::int64_t level = 1;  // 1: read from the rows, else the cell width used
    std::vector<std::int64_t> t;
    // Per chosen channel, aligned with t; NaN (never a reading) where that
    // time has no value sent.
    std::array<std::vector<double>, kChannels> values;
    std::array<Aggregate, kChannels> stats{};
    std::vector<std::pair<std::int64_t, std::int64_t>> gaps;
    std::vector<DayShare> days;
};

// The finest summary level whose cell fits in one bucket of the range, or 1
// (rows) when none does or every row is wanted.
std::int64_t ChooseLevel(std::int64_t from, std::int64_t to, int points);

// `facts` of req.table, `interval` its usual one (gaps and days need it).
Series BuildSeries(ReadingsView& view, const TableFacts& facts,
                   std::optional<std::int64_t> interval, const SeriesRequest& req);

}  // namespace pom::recorder

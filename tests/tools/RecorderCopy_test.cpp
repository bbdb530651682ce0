// --copy between two stores: every row and legends text once, the target's
// own rows kept, a second run adding nothing.
#include "tools/recorder/RecorderCopy.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "tools/recorder/RecorderApi.h"
#include "tools/recorder/RecorderSeries.h"

namespace pom::recorder {
namespace {

constexpr std::array<bool, kChannels> kAll = {true, true, true, true, true, true,
                                              true, true, true, true, true};
const std::int64_t kStart = *StampSeconds("2025-12-30 23:00:00");

// Two days at 60 s across a new year, an hour missing on each, a channel
// that comes and goes; a station of every channel; one of a single row.
std::vector<Reading> Seed() {
    std::vector<Reading> out;
    for (std::int64_t t = kStart; t < kStart + 2 * 86400; t += 60) {
        const std::int64_t s = (t - kStart) % 86400;
        if (s >= 7200 && s < 10800) continue;
        out.push_back({"alfa", StampText(t), {-12.5 + static_cast<double>(s % 97) / 10}});
        if (s % 7 != 0) out.back().values[1] = 1013.25;
    }
    for (int i = 0; i < 300; ++i) {
        out.push_back({"Beta", StampText(kStart + 300 * i), {}});
        for (auto& v : out.back().values) v = i / 3.0;
    }
    out.push_back({"gamma", StampText(kStart), {}});
    return out;
}

// The target holds a row of its own at a time the source has too, legends of
// its own, and a table that refuses rows: the copy stops there, keeping what it
// did, and a second run copies the rest and adds nothing else.
TEST(RecorderCopy, EveryRowOnceTheTargetsOwnKeptAndARefusedRowStopsTillTheNextRun) {
    test::TempDir dir;
    SqliteStore from(dir.file("from.sqlite")), to(dir.file("to.sqlite"));
    const std::vector<Reading> seed = Seed();
    for (Outcome o : from.AddReadings(seed)) ASSERT_NE(o, Outcome::Failed);
    ASSERT_TRUE(from.SetLegends({"alfa",
                                 "T [\xC2\xB0"
                                 "C];P [hPa]"}));
    ASSERT_TRUE(from.SetLegends({"Beta", "U1 [V]"}));
    Reading own{"alfa", StampText(kStart + 60), {}};
    own.values[5] = 42;
    ASSERT_EQ(to.AddReading(own), Outcome::CreatedTable);
    ASSERT_TRUE(to.SetLegends({"alfa", "own"}));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.file("to.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE gamma (x INTEGER)", nullptr, nullptr, nullptr),
              SQLITE_OK);

    std::vector<std::string> lines;
    std::string error;
    const auto copy = [&] {
        lines.clear();
        return CopyStore(
            from, to, [&](const std::string& l) { lines.push_back(l); }, error, 1000);
    };
    EXPECT_FALSE(copy().has_value());
    EXPECT_EQ(error.rfind("gamma " + StampText(kStart), 0), 0u) << error;
    // A line for each table, then one per thousand rows.
    EXPECT_EQ(lines.front(), "Beta: 300 rows");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "alfa: 1024 / 2760 rows"), lines.end());
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE gamma", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    const auto sum = copy();
    ASSERT_TRUE(sum.has_value()) << error;
    EXPECT_EQ(sum->tables, 3);
    EXPECT_EQ(sum->copied, 1) << "gamma's row";
    EXPECT_EQ(sum->present, static_cast<std::int64_t>(seed.size()) - 1);
    EXPECT_EQ(sum->legendsCopied, 0);
    EXPECT_EQ(sum->legendsKept, 1);
    EXPECT_EQ(to.LegendsText("alfa"), "own");
    EXPECT_EQ(to.LegendsText("Beta"), "U1 [V]");
    EXPECT_EQ(to.FindTable("beta"), "Beta") << "the name as it was";
    for (const char* t : {"Beta", "gamma"}) {
        EXPECT_EQ(CsvOf(to, t, "", "9999-12-31 23:59:59", kAll),
                  CsvOf(from, t, "", "9999-12-31 23:59:59", kAll))
            << t;
    }
    const auto want = from.Rows("alfa", "", "9999"), got = to.Rows("alfa", "", "9999");
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].stamp, want[i].stamp);
        EXPECT_EQ(got[i].values, want[i].stamp == own.stamp ? own.values : want[i].values) << i;
    }
}

}  // namespace
}  // namespace pom::recorder

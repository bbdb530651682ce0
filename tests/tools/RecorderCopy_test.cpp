// --copy between two stores: every row and legends text once, the target's
// own rows kept, a second run adding nothing.
#include "tools/recorder/RecorderCopy.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
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

class RecorderCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        from = std::make_unique<SqliteStore>(dir.file("from.sqlite"));
        to = std::make_unique<SqliteStore>(dir.file("to.sqlite"));
        const std::vector<Reading> rows = Seed();
        for (Outcome o : from->AddReadings(rows)) ASSERT_NE(o, Outcome::Failed);
        total = static_cast<std::int64_t>(rows.size());
        ASSERT_TRUE(from->SetLegends({"alfa",
                                      "T [\xC2\xB0"
                                      "C];P [hPa]"}));
        ASSERT_TRUE(from->SetLegends({"Beta", "U1 [V]"}));
    }

    std::optional<CopySummary> Copy() {
        lines.clear();
        error.clear();
        return CopyStore(
            *from, *to, [&](const std::string& l) { lines.push_back(l); }, error, 1000);
    }

    void ExpectSameCsv() {
        for (const char* t : {"alfa", "Beta", "gamma"}) {
            const std::string csv = CsvOf(*from, t, "", "9999-12-31 23:59:59", kAll);
            EXPECT_EQ(CsvOf(*to, t, "", "9999-12-31 23:59:59", kAll), csv) << t;
        }
    }

    test::TempDir dir;
    std::unique_ptr<Store> from, to;
    std::int64_t total = 0;
    std::vector<std::string> lines;
    std::string error;
};

TEST_F(RecorderCopyTest, TwoRunsGiveTheSameCsvAndTheSecondAddsNothing) {
    const auto first = Copy();
    ASSERT_TRUE(first.has_value()) << error;
    EXPECT_EQ(first->tables, 3);
    EXPECT_EQ(first->copied, total);
    EXPECT_EQ(first->present, 0);
    EXPECT_EQ(first->legendsCopied, 2);
    ExpectSameCsv();
    EXPECT_EQ(to->LegendsText("alfa"), from->LegendsText("alfa"));
    EXPECT_EQ(to->FindTable("beta"), "Beta") << "the name as it was";
    // A line for each table, then one per thousand rows.
    EXPECT_EQ(lines.front(), "Beta: 300 rows");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "alfa: 1024 / 2760 rows"), lines.end());

    const auto second = Copy();
    ASSERT_TRUE(second.has_value()) << error;
    EXPECT_EQ(second->copied, 0);
    EXPECT_EQ(second->present, total);
    EXPECT_EQ(second->legendsCopied + second->legendsKept, 0);
    ExpectSameCsv();
}

TEST_F(RecorderCopyTest, TheTargetsOwnRowsStayAndARefusedRowStopsTheCopyTillTheNextRun) {
    Reading own{"alfa", StampText(kStart + 60), {}};
    own.values[5] = 42;
    ASSERT_EQ(to->AddReading(own), Outcome::CreatedTable);
    ASSERT_TRUE(to->SetLegends({"alfa", "own"}));
    // A table of that name made by something else, without our columns.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.file("to.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE gamma (x INTEGER)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_FALSE(Copy().has_value());
    EXPECT_EQ(error.rfind("gamma " + StampText(kStart), 0), 0u) << error;
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE gamma", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    const auto sum = Copy();
    ASSERT_TRUE(sum.has_value()) << error;
    EXPECT_EQ(sum->copied, 1) << "gamma's row";
    EXPECT_EQ(sum->present, total - 1);
    EXPECT_EQ(sum->legendsKept, 1);
    EXPECT_EQ(to->LegendsText("alfa"), "own");
    const auto rows = to->Rows("alfa", own.stamp, own.stamp);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].values, own.values);
    EXPECT_EQ(to->Rows("alfa", "", "9999").size(), from->Rows("alfa", "", "9999").size());
}

}  // namespace
}  // namespace pom::recorder

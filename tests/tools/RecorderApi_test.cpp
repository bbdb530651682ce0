// The dashboard's data: buckets with true extremes, gaps and day shares on
// seeded holes, the summaries kept by the writer, and the JSON over HTTP.
#include "tools/recorder/RecorderApi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "tests/tools/RecorderClient.h"
#include "tests/tools/RecorderStores.h"
#include "tools/recorder/RecorderServer.h"
#include "tools/recorder/RecorderStore.h"

namespace pom::recorder {
namespace {

using ::testing::HasSubstr;

const std::int64_t kStart = *StampSeconds("2026-03-01 00:00:00");
constexpr std::int64_t kDay = 86400;

// Three days at 60 s from 00:03 (not at a cell's start), holes: day 1
// 10:00-10:29 (30 readings), day 2 12:07 (one, inside any cell), day 3
// 05:00-06:59 (120).
bool Missing(std::int64_t t) {
    const std::int64_t d = (t - kStart) / kDay, s = (t - kStart) % kDay;
    return (d == 0 && s < 180) || (d == 0 && s >= 36000 && s < 37800) || (d == 1 && s == 43620) ||
           (d == 2 && s >= 18000 && s < 25200);
}
const std::vector<std::pair<std::int64_t, std::int64_t>> kHoles = {
    {kStart + 35940, kStart + 37800},
    {kStart + kDay + 43560, kStart + kDay + 43680},
    {kStart + 2 * kDay + 17940, kStart + 2 * kDay + 25200}};

std::vector<Reading> Seed(const std::string& table) {
    std::vector<Reading> out;
    unsigned x = 12345;
    for (std::int64_t t = kStart; t < kStart + 3 * kDay; t += 60) {
        if (Missing(t)) continue;
        x = x * 1103515245 + 12345;
        Reading r{table, StampText(t), {}};
        r.values[0] = static_cast<int>(x >> 16 & 0x3ff) / 10.0 - 40;  // -40 .. 62.3
        r.values[1] = 1000 + (t / 60) % 7;                            // ties: earliest wins
        r.values[2] = -888;                                           // never sent
        out.push_back(std::move(r));
    }
    return out;
}

// The same readings in four tables whose summaries came about in four ways:
// kept by the writer row by row in order, or out of order (a station's buffer,
// a resent queue); lost in part or whole by an older database, built at start.
constexpr std::array<const char*, 4> kTables = {"seeded", "shuffled", "lost_cells", "no_cells"};

struct Range {
    const char* name;
    std::int64_t from, to;
    int points;
    std::int64_t level;
};

// The database of the four tables, made once.
std::string Seeded() {
    static test::StoreMaker maker(test::Kind::Sqlite);
    static const bool seeded = [] {
        maker.Ready(nullptr);
        for (const char* table : kTables) {
            auto rows = Seed(table);
            if (table == kTables[1])
                for (std::size_t i = rows.size() - 1; i > 0; --i)
                    std::swap(rows[i], rows[(i * 7919 + 13) % (i + 1)]);
            for (Outcome o : maker.Open()->AddReadings(rows)) EXPECT_NE(o, Outcome::Failed);
        }
        return maker.Exec(
            "DELETE FROM \"pomiarnik:zbiorcze:lost_cells\" WHERE start % 7200 = 0;"
            "DROP TABLE \"pomiarnik:zbiorcze:no_cells\"");
    }();
    EXPECT_TRUE(seeded);
    return maker.db();
}

class SeededRanges : public ::testing::TestWithParam<Range> {};

// On every table, whatever the level read: each bucket holds its true
// extremes, in time order, as worked out here from the raw rows with buckets
// made of whole cells of the level used; the seeded holes come out exactly as
// gaps and day shares.
TEST_P(SeededRanges, BucketsHoldTheTrueExtremesAndTheHolesShowAsGapsAndDayShares) {
    const Range& r = GetParam();
    const std::int64_t span = r.to - r.from + 1, L = r.level;
    const std::int64_t points = r.points ? r.points : span;  // 0: every row
    std::vector<std::pair<std::int64_t, std::int64_t>> holes;
    for (const auto& h : kHoles)
        if (h.first < r.to && h.second > r.from) holes.push_back(h);
    // Days count only between the table's first and last reading.
    const std::int64_t from = std::max(r.from, kStart + 180),
                       to = std::min(r.to, kStart + 3 * kDay - 60);
    SqliteStore store(Seeded());  // builds the summaries missing
    for (const char* table : kTables) {
        SCOPED_TRACE(table);
        const auto facts = store.Facts(table);
        ASSERT_TRUE(facts && facts->summarised);
        SeriesRequest req{table, r.from, r.to, r.points, {}};
        req.channels[0] = req.channels[1] = req.channels[2] = true;
        const Series s = BuildSeries(store, *facts, UsualInterval(facts->newest), req);
        EXPECT_EQ(s.level, r.level);

        std::map<std::pair<std::int64_t, std::size_t>, Aggregate> buckets;
        std::array<Aggregate, kChannels> stats{};
        for (const Row& row : store.Rows(table, StampText(r.from), StampText(r.to))) {
            const std::int64_t t = *StampSeconds(row.stamp);
            const std::int64_t cell = std::max(t - t % L, r.from);
            const std::int64_t k =
                std::min<std::int64_t>((cell - r.from) * points / span, points - 1);
            for (std::size_t c = 0; c < 2; ++c) {
                buckets[{k, c}].Add(*row.values[c], t);
                stats[c].Add(*row.values[c], t);
            }
        }
        std::map<std::int64_t, std::map<std::size_t, double>> expected, got;
        for (const auto& [key, a] : buckets) {
            expected[a.minT][key.second] = a.min;
            expected[a.maxT][key.second] = a.max;
        }
        EXPECT_EQ(std::ranges::adjacent_find(s.t, std::greater_equal{}), s.t.end());
        for (std::size_t i = 0; i < s.t.size(); ++i)
            for (std::size_t c = 0; c < 3; ++c)
                if (const double v = s.values[c].at(i); !std::isnan(v)) got[s.t[i]][c] = v;
        EXPECT_EQ(got, expected);
        for (std::size_t c = 0; c < 2; ++c) {
            const Aggregate &a = s.stats[c], &e = stats[c];
            EXPECT_EQ(std::tie(a.count, a.min, a.minT, a.max, a.maxT),
                      std::tie(e.count, e.min, e.minT, e.max, e.maxT));
            EXPECT_NEAR(a.sum, e.sum, 1e-6);
        }
        EXPECT_EQ(s.stats[2].count, 0);  // -888 is no reading

        EXPECT_EQ(s.gaps, holes);
        ASSERT_EQ(s.days.size(),
                  static_cast<std::size_t>((to - kStart) / kDay - (from - kStart) / kDay + 1));
        for (const DayShare& d : s.days) {
            const std::int64_t lo = std::max(d.day, from), hi = std::min(d.day + kDay - 1, to);
            std::int64_t present = 0;
            for (std::int64_t t = lo + (60 - (lo - kStart) % 60) % 60; t <= hi; t += 60)
                present += !Missing(t);
            EXPECT_EQ(d.expected, (hi - lo) / 60 + 1) << StampText(d.day);
            EXPECT_EQ(d.present, present) << StampText(d.day);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, SeededRanges,
    // "rows" has a reading or none per bucket: each is sent once.
    ::testing::Values(Range{"rows", kStart + 3600, kStart + kDay + 7199, 1600, 1},
                      Range{"all_rows", kStart, kStart + 3 * kDay - 60, 0, 1},
                      Range{"rows_bucketed", kStart, kStart + 3 * kDay - 60, 4000, 1},
                      Range{"ten_minutes", kStart + 3333, kStart + 3 * kDay - 1, 300, 600},
                      Range{"hours_unaligned", kStart + 1234, kStart + 3 * kDay - 777, 40, 3600},
                      Range{"four_hours", kStart + 7000, kStart + 3 * kDay - 1, 15, 14400},
                      Range{"day", kStart, kStart + 3 * kDay - 1, 2, 86400},
                      Range{"one_point", kStart, kStart + 3 * kDay - 1, 1, 86400},
                      Range{"inside_a_hole", kStart + 36100, kStart + 2 * kDay + 20000, 10, 14400},
                      Range{"past_ends", kStart - 2 * kDay + 77, kStart + 5 * kDay, 300, 1200}),
    [](const auto& info) { return std::string(info.param.name); });

// Accepted: "FROM TO POINTS" as taken ("-" for a bound not given); refused:
// how the error starts.
TEST(RecorderApiParse, BoundsPointsAndChannels) {
    const std::vector<std::pair<Params, std::string>> cases = {
        {{{"from", "2026-12-08T18:00:00"}, {"to", "2026-12-08 19:00"}},
         "2026-12-08T18:00:00 2026-12-08T19:00:00 0"},
        // A day alone reaches to its end.
        {{{"from", "2026-12-08"}, {"to", "2026-12-08"}},
         "2026-12-08T00:00:00 2026-12-08T23:59:59 0"},
        {{{"from", ""}, {"points", "0"}}, "- - 0"},
        {{{"to", ""}, {"points", "10000"}, {"channels", "sonda0,Sonda10"}}, "- - 10000"},
        {{{"from", "2026-02-30"}}, "from: zła data"},
        {{{"to", "2026-12-08T25:00:00"}}, "to: zła data"},
        {{{"from", "2026-12-08T18:00:00'--"}}, "from: zła data"},
        {{{"from", "2026-12-09"}, {"to", "2026-12-08"}}, "from jest późniejsze"},
        {{{"points", "-1"}}, "points:"},
        {{{"points", "10001"}}, "points:"},
        {{{"points", "12abc"}}, "points:"},
        {{{"channels", "sonda11"}}, "channels:"},
        {{{"channels", "sonda0,,sonda1"}}, "channels:"},
        {{{"channels", "Sonda0); DROP TABLE x"}}, "channels:"},
    };
    for (const auto& [params, want] : cases) {
        SCOPED_TRACE(params.begin()->second);
        const auto r = ParseTableQuery(params);
        if (const auto* q = std::get_if<TableQuery>(&r)) {
            EXPECT_EQ((q->from ? IsoText(*q->from) : "-") + " " + (q->to ? IsoText(*q->to) : "-") +
                          " " + std::to_string(q->points),
                      want);
        } else {
            EXPECT_TRUE(std::get<std::string>(r).starts_with(want)) << std::get<std::string>(r);
        }
    }
}

// JSON and CSV of what is asked for, named and with units, under a tag
// that holds until a reading arrives; bad queries get a JSON error.
TEST(RecorderApiHttp, AnswersOfWhatIsAskedWithATagThatHoldsUntilAReadingArrives) {
    test::TempDir dir;
    auto store = std::make_unique<SqliteStore>(dir.file("pomiary.sqlite"));
    auto server = std::make_unique<Server>(*store, ServerConfig{"127.0.0.1", 0, "", 4});
    std::string error;
    const int port = server->Start(&error);
    ASSERT_GT(port, 0) << error;
    const auto Post = [&](const std::string& stamp, const std::string& v0, const char* v1) {
        const test::Fields f = {{"Miasto", "Sonda"},
                                {"Data", stamp},
                                {"Sonda0", v0},
                                {"Sonda1", v1},
                                {"Sonda2", "-888"}};
        EXPECT_EQ(test::PostMultipart(port, "/Zapisz2Pomiary.php", f).status, 200) << stamp;
    };
    // No answer: status -1.
    const auto Get = [&](const std::string& path, const std::string& tag = "") {
        httplib::Client c("127.0.0.1", port);
        const auto r = tag.empty() ? c.Get(path) : c.Get(path, {{"If-None-Match", tag}});
        return r ? *r : httplib::Response{};
    };
    Post("2026-12-08 17:58:00", "21.25", "3.3");
    Post("2026-12-08 17:59:00", "21.5", "-888");
    test::PostMultipart(
        port, "/Zapisz2Pomiaryopisy.php",
        {{"Miasto", "Sondaopisy"}, {"Data", "pomT0;\u00B0C;Tz;Tz)(pomT1;V;U\"1;U1"}});
    for (const char* path : {"/api/stations", "/api/table/sonda?points=100"}) {
        const auto first = Get(path);
        EXPECT_EQ(first.status, 200) << path;
        EXPECT_EQ(first.get_header_value("Content-Type"), "application/json; charset=utf-8");
        EXPECT_EQ(first.get_header_value("Cache-Control"), "no-cache");
        const std::string tag = first.get_header_value("ETag");
        EXPECT_TRUE(tag.starts_with("\"v")) << tag;
        EXPECT_THAT(first.body, HasSubstr("{\"key\":\"sonda0\",\"column\":\"Sonda0\",\"index\":0,"
                                          "\"name\":\"Tz\",\"unit\":\"\u00B0C\"}"));
        EXPECT_THAT(first.body, HasSubstr("\"name\":\"U\\\"1\",\"unit\":\"V\""));
        EXPECT_EQ(first.body.find("-888"), std::string::npos);
        const auto again = Get(path, tag);
        EXPECT_EQ(again.status, 304) << path;
        EXPECT_TRUE(again.body.empty());
        Post(std::string("2026-12-08 18:0") + (path[5] == 's' ? "0" : "1") + ":00", "22", "3.2");
        const auto changed = Get(path, tag);
        EXPECT_EQ(changed.status, 200) << path;
        EXPECT_NE(changed.get_header_value("ETag"), tag);
    }
    const auto stations = Get("/api/stations");
    EXPECT_THAT(stations.body,
                HasSubstr("\"table\":\"Sonda\",\"rows\":4,\"first\":\"2026-12-08T17:58:00\","
                          "\"last\":\"2026-12-08T18:01:00\""));
    const std::int64_t last = *StampSeconds("2026-12-08 18:01:00");
    for (const auto& [age, stale] : {std::pair{180, "false"}, std::pair{181, "true"}})
        EXPECT_THAT(StationsReply(*store, "", last + age).body,
                    HasSubstr("\"interval\":60,\"ageSeconds\":" + std::to_string(age) +
                              ",\"stale\":" + stale));
    EXPECT_THAT(stations.body, HasSubstr("\"latest\":{\"sonda0\":22,\"sonda1\":3.2}"));
    const auto table = Get("/api/table/Sonda?from=2026-12-08T17:58&to=2026-12-08T17:59:00");
    EXPECT_THAT(table.body,
                HasSubstr("\"t\":[1796752680,1796752740],\"values\":{\"sonda0\":[21.25,21.5],"
                          "\"sonda1\":[3.3,null]}"));
    EXPECT_THAT(table.body,
                HasSubstr("\"sonda0\":{\"min\":21.25,\"minTime\":\"2026-12-08T17:58:00\","
                          "\"max\":21.5,\"maxTime\":\"2026-12-08T17:59:00\",\"mean\":21.375,"
                          "\"count\":2}"));
    // Without points: every row; only the channels asked for.
    EXPECT_THAT(Get("/api/table/Sonda?channels=sonda1").body,
                HasSubstr("\"channels\":[{\"key\":\"sonda1\",\"column\":\"Sonda1\",\"index\":1,"
                          "\"name\":\"U\\\"1\",\"unit\":\"V\"}],\"t\":[1796752680,1796752740,"
                          "1796752800,1796752860],\"values\":{\"sonda1\":[3.3,null,3.2,3.2]},"));
    EXPECT_EQ(Get("/table/Sonda.csv?to=2026-12-08T17:58:00&channels=sonda1,sonda0").body,
              "Data,Sonda0,Sonda1\r\n2026-12-08 17:58:00,21.25,3.3\r\n");
    for (const auto& [path, status] : std::vector<std::pair<std::string, int>>{
             {"/api/table/nope", 404},
             {"/api/table/x%22%3B%20DROP%20TABLE%20Sonda", 404},
             {"/api/table/Sonda?from=wczoraj", 400},
             {"/table/Sonda.csv?channels=sonda99", 400}}) {
        const auto r = Get(path);
        EXPECT_EQ(r.status, status) << path;
        EXPECT_EQ(r.body.starts_with("{\"error\":\""), path.starts_with("/api")) << path << r.body;
    }
    // Stopped, the database file alone holds every reading, none lost to
    // those queries, none left behind in the write-ahead log.
    server.reset();
    store.reset();
    EXPECT_FALSE(std::filesystem::exists(dir.file("pomiary.sqlite-wal")));
    std::filesystem::copy_file(dir.file("pomiary.sqlite"), dir.file("copy.sqlite"));
    EXPECT_EQ(SqliteStore(dir.file("copy.sqlite")).Rows("Sonda", "", "9999").size(), 4u);
}

}  // namespace
}  // namespace pom::recorder

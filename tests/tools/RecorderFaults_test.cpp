// A store failure that persists: told once a minute, and a full disk whose
// space comes back is written to again.
#include "tools/recorder/RecorderFaults.h"

#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "tools/recorder/RecorderSeries.h"
#include "tools/recorder/RecorderStore.h"

namespace pom::recorder {
namespace {

TEST(RecorderFaultReport, FirstFailureAtOnceThenALineAMinute) {
    struct Event {
        long long advance;  // seconds before it
        bool failed;
        std::int64_t count = 1;
    };
    const Event F{0, true}, S{0, false}, FLater{60, true}, SLater{60, false};
    const std::vector<std::pair<std::vector<Event>, std::vector<std::string>>> cases = {
        {{S, F, Event{0, true, 5}, Event{59, true}, FLater},
         {"full", "full (7 failed writes since the last report)"}},
        {{F, S, S}, {"full", "writes succeed again"}},
        // A disk that takes a row now and then: two lines a minute, not two a post.
        {{F, S, F, S, F, S, SLater},
         {"full", "writes succeed again",
          "writes succeed again; 2 failed since the last report, the latest: full"}}};
    for (const auto& [events, expected] : cases) {
        std::chrono::steady_clock::time_point now{};
        std::vector<std::string> lines;
        FaultReport report([&](const std::string& l) { lines.push_back(l); }, [&] { return now; });
        for (const Event& e : events) {
            now += std::chrono::seconds(e.advance);
            e.failed ? report.Failed("full", e.count) : report.Succeeded();
        }
        EXPECT_EQ(lines, expected);
    }
}

// Files may not grow past a size while it lives: their writes fail (EFBIG),
// as they do on a full disk, instead of the signal ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        handler_ = signal(SIGXFSZ, SIG_IGN);
        Set(bytes);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, handler_);
    }
    void Set(rlim_t bytes) {
        rlimit l = old_;
        l.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &l);
    }

private:
    rlimit old_{};
    sighandler_t handler_{};
};

Reading At(int i) {
    Reading r{"pelny", StampText(*StampSeconds("2026-01-01 00:00:00") + 60 * i), {}};
    for (std::size_t c = 0; c < 8; ++c) r.values[c] = 20.0 + static_cast<double>(c) + i % 7;
    return r;
}

// The log cannot grow past the limit long before the database file reaches
// it. Folding the log into the file gives its space back, so posts go on
// until the readings themselves fill it; every failure after that is told
// in one line, and with space again the next post is stored. Once the writer
// is idle its log is folded too: the disk holds the rows, not a log.
TEST(RecorderStoreFullDisk, TheLogsSpaceIsUsedAgainAndTheFailureToldOnce) {
    constexpr rlim_t kLimit = 64 * 1024;
    constexpr int kFailuresInARow = 100, kMaxPosts = 5000;
    test::TempDir dir;
    SqliteStore store(dir.file("p.sqlite"));
    std::vector<std::string> stored;
    int firstFailure = -1, storedAfterIt = 0, inARow = 0, i = 0;
    std::string told;
    {
        FileSizeLimit limit(kLimit);
        ::testing::internal::CaptureStderr();
        for (; i < kMaxPosts && inARow < kFailuresInARow; ++i) {
            const Outcome o = store.AddReading(At(i));
            if (o == Outcome::Failed) {
                if (firstFailure < 0) firstFailure = i;
                ++inARow;
                continue;
            }
            inARow = 0;
            stored.push_back(At(i).stamp);
            if (firstFailure >= 0) ++storedAfterIt;
        }
        told = ::testing::internal::GetCapturedStderr();
        limit.Set(RLIM_INFINITY);
        EXPECT_EQ(store.AddReading(At(i)), Outcome::Stored) << "space again";
        stored.push_back(At(i).stamp);
    }
    ASSERT_GE(firstFailure, 0) << "the limit was never reached";
    EXPECT_EQ(inARow, kFailuresInARow) << "the readings never filled the file";
    // The log's share: a few hundred bytes a row in the file, kilobytes in the log.
    EXPECT_GT(storedAfterIt, 10 * firstFailure)
        << "rows before the first failure " << firstFailure << ", after it " << storedAfterIt;
    EXPECT_LE(std::count(told.begin(), told.end(), '\n'), 2) << told;
    EXPECT_EQ(told.rfind("pomiarnik-recorder: COMMIT: ", 0), 0u) << told;
    EXPECT_TRUE(test::WaitFor([&] {
        return std::filesystem::file_size(dir.file("p.sqlite-wal")) == 0;
    })) << "the idle writer's log";

    // Every post answered as stored is there, and nothing else.
    std::vector<std::string> rows;
    for (const Row& row : store.Rows("pelny", "", "9999")) rows.push_back(row.stamp);
    EXPECT_EQ(rows, stored);
}

}  // namespace
}  // namespace pom::recorder

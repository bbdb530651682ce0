#include "web/UploadQueue.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <set>

#include "tests/support/TestSupport.h"

namespace pom {
namespace {

using ::testing::ElementsAre;
using Clock = UploadQueue::Clock;

std::string Entry(int i) {
    return "2023-05-01 12:00:00 " + std::to_string(i) + "; ";
}

TEST(UploadQueueTest, EveryEntryIsInTheFileWhenAppendReturns) {
    test::TempDir dir;
    const std::string path = dir.file("niewyslane.txt");
    UploadQueue q;
    ASSERT_TRUE(q.Load(path));
    q.Append(Entry(1));
    EXPECT_EQ(test::ReadFile(path), Entry(1) + "\r\n");
    q.Append(Entry(2));
    EXPECT_EQ(test::ReadFile(path), Entry(1) + "\r\n" + Entry(2) + "\r\n");
}

TEST(UploadQueueTest, RemovalsReachTheFileAtMostOnceEveryFewSeconds) {
    test::TempDir dir;
    const std::string path = dir.file("niewyslane.txt");
    UploadQueue q;
    q.Load(path);
    for (int i = 1; i <= 4; ++i) q.Append(Entry(i));
    const Clock::time_point t0 = Clock::now();
    q.PopFront();
    q.FlushIfDue(t0);
    EXPECT_EQ(test::ReadFile(path), Entry(2) + "\r\n" + Entry(3) + "\r\n" + Entry(4) + "\r\n");
    q.PopFront();
    q.FlushIfDue(t0 + std::chrono::seconds(1));
    // Not yet: the file still has the removed entry, which a crash would
    // only send again.
    EXPECT_EQ(test::ReadFile(path).substr(0, Entry(2).size()), Entry(2));
    // An entry appended meanwhile lands after the right ones.
    q.Append(Entry(5));
    EXPECT_EQ(test::ReadFile(path), Entry(3) + "\r\n" + Entry(4) + "\r\n" + Entry(5) + "\r\n");
    q.PopFront();
    q.FlushIfDue(t0 + UploadQueue::kRewriteEvery);
    EXPECT_EQ(test::ReadFile(path), Entry(4) + "\r\n" + Entry(5) + "\r\n");
    // The station attaches again: what was removed stays removed.
    q.PopFront();
    ASSERT_TRUE(q.Load(path));
    EXPECT_THAT(q.Entries(), ElementsAre(Entry(5)));
    q.PopFront();
    EXPECT_FALSE(q.PopFront());
    q.Flush();
    EXPECT_EQ(test::ReadFile(path), "");
}

TEST(UploadQueueTest, LoadTakesAnyLineEndAndKeepsAnUnreadableFile) {
    test::TempDir dir;
    const std::string path = dir.file("niewyslane.txt");
    test::WriteFile(path, "a\r\nb\nc");
    UploadQueue q;
    q.Append("in memory before the station was known");
    ASSERT_TRUE(q.Load(path));
    // "c" has no line end: a write that was cut short, not an entry.
    EXPECT_THAT(q.Entries(), ElementsAre("a", "b", "in memory before the station was known"));
    EXPECT_EQ(q.CutLine(), "c");
    q.Flush();
    EXPECT_EQ(test::ReadFile(path), "a\r\nb\nin memory before the station was known\r\n");

    // A folder where the file should be: reported, never written over.
    const std::string folder = dir.file("folder");
    std::filesystem::create_directory(folder);
    std::string why;
    UploadQueue bad;
    EXPECT_FALSE(bad.Load(folder, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_TRUE(bad.Unreadable());
    bad.Append("x");
    bad.PopFront();
    bad.Flush();
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

TEST(UploadQueueTest, RefusedAppendKeepsTheEntryForTheNextRewrite) {
    test::TempDir dir;
    const std::string sub = dir.file("ro");
    std::filesystem::create_directory(sub);
    const std::string path = sub + "/niewyslane.txt";
    UploadQueue q;
    q.Load(path);
    q.Append(Entry(1));
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    std::filesystem::permissions(
        sub, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    EXPECT_THROW(q.Append(Entry(2)), std::runtime_error);
    EXPECT_EQ(q.Size(), 2u);
    std::filesystem::permissions(sub, std::filesystem::perms::owner_all);
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    q.Flush();
    EXPECT_EQ(test::ReadFile(path), Entry(1) + "\r\n" + Entry(2) + "\r\n");
}

// A child appends and removes entries, telling the parent over a pipe each
// entry it has appended; the parent kills it at a random moment. Every
// entry told must be in the file afterwards, in order, and nothing else
// than entries that were appended.
TEST(UploadQueueTest, KillAtAnyMomentLosesNoQueuedEntry) {
    std::mt19937 rng(20261208);
    for (int trial = 0; trial < 40; ++trial) {
        test::TempDir dir;
        const std::string path = dir.file("niewyslane.txt");
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            UploadQueue q;
            q.Load(path);
            for (int i = 0;; ++i) {
                q.Append(Entry(i));
                const int told = i;
                if (::write(fds[1], &told, sizeof told) != sizeof told) ::_exit(1);
                // The sender drains the front now and then.
                if (i % 3 == 2) {
                    q.PopFront();
                    q.Flush();
                }
            }
        }
        ::close(fds[1]);
        std::uniform_int_distribution<int> wait(1, 30000);
        ::usleep(static_cast<useconds_t>(wait(rng)));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        std::vector<int> told;
        int v = 0;
        while (::read(fds[0], &v, sizeof v) == sizeof v) told.push_back(v);
        ::close(fds[0]);

        UploadQueue after;
        ASSERT_TRUE(after.Load(path));
        std::set<std::string> inFile(after.Entries().begin(), after.Entries().end());
        // Removed entries are the oldest: the child removed at most one per
        // three appended, so the last two thirds of what it told must be there.
        const std::size_t keep = told.size() - told.size() / 3;
        for (std::size_t k = told.size() - keep; k < told.size(); ++k)
            EXPECT_TRUE(inFile.count(Entry(told[k]))) << "trial " << trial << " entry " << told[k];
        for (const std::string& e : after.Entries())
            EXPECT_TRUE(e.starts_with("2023-05-01 12:00:00 ") && e.ends_with("; ")) << e;
    }
}

// Runs a write of the queue; false when the disk refused it.
bool Wrote(const std::function<void()>& write) {
    try {
        write();
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

// A station-kind change: the other kind's entries stay in its file only;
// an entry its file refused comes along, or it would be lost.
TEST(UploadQueueAttach, EntriesNoFileHoldsComeAlongAndNoEntryLandsInTwoFiles) {
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused);
        test::TempDir dir;
        const std::string other = dir.file("DS3231"), mine = dir.file("niewyslane.txt");
        std::filesystem::create_directory(other);
        test::WriteFile(mine, "f1\r\n");
        UploadQueue q;
        ASSERT_TRUE(q.Load(other + "/niewyslane.txt"));
        q.Append("a1");
        // A folder gone refuses every write, also root's.
        if (refused) std::filesystem::remove_all(other);
        Wrote([&] { q.Append("a2"); });
        ASSERT_TRUE(q.Load(mine));
        q.Flush();
        const std::string expected = refused ? "f1\r\na2\r\n" : "f1\r\n";
        EXPECT_EQ(q.Text(), expected);
        EXPECT_EQ(test::ReadFile(mine), expected);
        if (!refused) {
            EXPECT_EQ(test::ReadFile(other + "/niewyslane.txt"), "a1\r\na2\r\n");
        }
    }
}

// A file cut inside an entry (the disk filled mid-append, then a crash):
// the cut part is no entry, is said, and leaves the file; what is appended
// next starts a line of its own.
TEST(UploadQueueDiskFull, CutLastLineIsNeverAnEntry) {
    for (const std::string& cut : {std::string("2023-05-01 12:0"), Entry(2), Entry(2) + "\r"}) {
        SCOPED_TRACE(cut);
        test::TempDir dir;
        const std::string path = dir.file("niewyslane.txt");
        test::WriteFile(path, Entry(1) + "\r\n" + cut);
        UploadQueue q;
        ASSERT_TRUE(q.Load(path));
        EXPECT_THAT(q.Entries(), ElementsAre(Entry(1)));
        EXPECT_EQ(q.CutLine(), Entry(2).substr(0, cut.size()));
        q.Append(Entry(3));
        EXPECT_EQ(test::ReadFile(path), Entry(1) + "\r\n" + Entry(3) + "\r\n");
    }
}

// This process's file size limit while it lives, SIGXFSZ ignored: a write
// past it is cut short or fails with EFBIG, as on a full disk. Lift() gives
// the room back; the limit the process had comes back at the end.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &before_);
        Set(bytes);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &before_); }
    void Lift() { Set(before_.rlim_cur); }

private:
    void Set(rlim_t bytes) {
        rlimit r = before_;
        r.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &r);
    }
    rlimit before_{};
};

// The limit falls inside the second entry: at its start, in the date, in
// the value, before CR LF, between CR and LF.
class ShortAppend : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ShortAppend, IsUndoneAndTheEntryReachesTheFileWhenThereIsRoomAgain) {
    test::TempDir dir;
    const std::string path = dir.file("niewyslane.txt");
    UploadQueue q;
    ASSERT_TRUE(q.Load(path));
    q.Append(Entry(1));
    FileSizeLimit limit(Entry(1).size() + 2 + GetParam());
    // Refused twice while full: both wait, no part in the file.
    EXPECT_FALSE(Wrote([&] { q.Append(Entry(2)); }));
    EXPECT_FALSE(Wrote([&] { q.Append(Entry(3)); }));
    EXPECT_EQ(test::ReadFile(path), Entry(1) + "\r\n");
    EXPECT_TRUE(q.Size() == 3 && q.Unsaved() == 2 && q.CannotPersist());
    EXPECT_NE(q.LastError(), "");
    // Room again: the next try puts both after the first.
    limit.Lift();
    q.FlushIfDue(Clock::now() + std::chrono::hours(1));
    EXPECT_FALSE(q.CannotPersist());
    EXPECT_EQ(test::ReadFile(path), Entry(1) + "\r\n" + Entry(2) + "\r\n" + Entry(3) + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Cuts, ShortAppend,
                         ::testing::Values(0u, 5u, 21u, Entry(2).size(), Entry(2).size() + 1));

// A station releases a reading only while the queue keeps all on disk; the
// disk fills mid-append, a sender posts the front now and then. No cut entry
// is posted, every released reading is posted or filed, and while full only
// the reading on its way waits in memory, named by the end-of-run report.
TEST(UploadQueueDiskFull, NoReleasedReadingIsLostAndNoCutEntryIsPosted) {
    test::TempDir dir;
    const std::string path = dir.file("niewyslane.txt");
    std::deque<std::string> station;
    for (int i = 0; i < 60; ++i) station.push_back(Entry(100 + i));
    std::vector<std::string> released, posted;
    UploadQueue q;
    ASSERT_TRUE(q.Load(path));
    // Room for about eight entries, the ninth is cut.
    FileSizeLimit limit(8 * (Entry(100).size() + 2) + 17);
    Clock::time_point now = Clock::now();
    int heldTicks = 0;
    for (int tick = 0; tick < 200 && !(station.empty() && q.Empty()); ++tick) {
        now += std::chrono::seconds(2);
        if (tick == 60) limit.Lift();       // space returns
        Wrote([&] { q.FlushIfDue(now); });  // the upload timer's retry
        if (q.CannotPersist() && !station.empty()) {
            ++heldTicks;
            ASSERT_EQ(q.Unsaved(), 1u);
            ASSERT_EQ(UnsavedReport(q).size(), 2u);
        } else if (!station.empty()) {
            released.push_back(station.front());
            station.pop_front();
            Wrote([&] { q.Append(released.back()); });
        }
        if (tick % 3 == 2 && !q.Empty()) {
            posted.push_back(q.Front());
            q.PopFront();
        }
        // Whatever stands in the file now is whole.
        const std::string text = test::ReadFile(path);
        ASSERT_TRUE(text.empty() || text.ends_with("\r\n")) << "tick " << tick;
    }
    EXPECT_GT(heldTicks, 10);
    EXPECT_TRUE(station.empty());
    EXPECT_EQ(posted, released);
    UploadQueue after;
    ASSERT_TRUE(after.Load(path));
    EXPECT_EQ(after.CutLine(), "");
}

}  // namespace
}  // namespace pom

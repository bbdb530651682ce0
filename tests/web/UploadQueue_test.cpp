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

// ---- records queued before the station attaches, and a kind change ----

TEST(UploadQueueAttach, EntriesNoFileHoldsComeAlongAndNoEntryLandsInTwoFiles) {
    const struct {
        const char* name;
        std::vector<std::string> fileBefore;  // the attached kind's file; empty: none
        bool otherStationFirst;               // another kind was attached before
        bool otherFileRefuses;                // ... and its file refused the last entry
        std::vector<std::string> expected;    // the queue after the attach (and its file)
    } cases[] = {
        {"pre-attach entry after the file's", {"f1", "f2"}, false, false, {"f1", "f2", "p1"}},
        {"pre-attach entry, no file yet", {}, false, false, {"p1"}},
        {"kind change: the other kind's entries stay in its file", {"f1"}, true, false, {"f1"}},
        {"kind change: the entry the other file refused comes along",
         {"f1"},
         true,
         true,
         {"f1", "a2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string other = dir.file("DS3231");
        const std::string mine = dir.file("BME280");
        std::filesystem::create_directory(other);
        std::filesystem::create_directory(mine);
        const std::string otherFile = other + "/niewyslane.txt";
        const std::string myFile = mine + "/niewyslane.txt";
        if (!c.fileBefore.empty()) {
            std::string text;
            for (const std::string& e : c.fileBefore) text += e + "\r\n";
            test::WriteFile(myFile, text);
        }
        UploadQueue q;
        if (c.otherStationFirst) {
            ASSERT_TRUE(q.Load(otherFile));
            q.Append("a1");
            // A folder gone refuses every write, also root's.
            if (c.otherFileRefuses) std::filesystem::remove_all(other);
            if (c.otherFileRefuses)
                EXPECT_THROW(q.Append("a2"), std::runtime_error);
            else
                q.Append("a2");
        } else {
            q.Append("p1");  // a barometer line before the greeting
        }
        ASSERT_TRUE(q.Load(myFile));
        q.Flush();
        EXPECT_EQ(q.Entries(), std::deque<std::string>(c.expected.begin(), c.expected.end()));
        std::string text;
        for (const std::string& e : c.expected) text += e + "\r\n";
        EXPECT_EQ(test::ReadFile(myFile), text);
        EXPECT_EQ(q.Unsaved(), 0u);
        if (c.otherStationFirst && !c.otherFileRefuses) {
            EXPECT_EQ(test::ReadFile(otherFile), "a1\r\na2\r\n");
        }
    }
}

// ---- a full disk ----

// A file cut inside an entry (the disk filled mid-append, then a crash):
// the cut part is no entry, is said, and leaves the file; what is appended
// next starts a line of its own.
TEST(UploadQueueDiskFull, CutLastLineIsNeverAnEntry) {
    const std::string whole = Entry(1) + "\r\n";
    for (const std::string& cut :
         {std::string("2023-05-01 12:0"), Entry(2).substr(0, 24), Entry(2), Entry(2) + "\r"}) {
        SCOPED_TRACE(cut);
        test::TempDir dir;
        const std::string path = dir.file("niewyslane.txt");
        test::WriteFile(path, whole + cut);
        UploadQueue q;
        ASSERT_TRUE(q.Load(path));
        EXPECT_THAT(q.Entries(), ElementsAre(Entry(1)));
        EXPECT_EQ(q.CutLine() + (cut.ends_with("\r") ? "\r" : ""), cut);
        q.Append(Entry(3));
        EXPECT_EQ(test::ReadFile(path), whole + Entry(3) + "\r\n");
    }
}

// Runs `body` in a child process with SIGXFSZ ignored, so a file size limit
// set there gives real short writes and EFBIG; returns what the body found
// wrong (empty: nothing).
std::string InChild(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) return "pipe";
    const pid_t pid = ::fork();
    if (pid < 0) return "fork";
    if (pid == 0) {
        ::close(fds[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        std::string out;
        try {
            out = body();
        } catch (const std::exception& e) {
            out = std::string("thrown: ") + e.what();
        }
        const char* p = out.data();
        std::size_t left = out.size();
        while (left > 0) {
            const ssize_t n = ::write(fds[1], p, left);
            if (n <= 0) break;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out += " child ended badly";
    return out;
}

void LimitFileSize(rlim_t bytes) {
    rlimit r{};
    ::getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &r);
}

#define CHECK_IN_CHILD(cond) \
    if (!(cond)) return std::string("line ") + std::to_string(__LINE__) + ": " #cond

// The limit falls inside the second entry: at its start, in the date, in
// the value, before CR LF, between CR and LF.
class ShortAppend : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ShortAppend, IsUndoneAndTheEntryReachesTheFileWhenThereIsRoomAgain) {
    test::TempDir dir;
    const std::string path = dir.file("niewyslane.txt");
    const std::size_t room = GetParam();
    const std::string wrong = InChild([&]() -> std::string {
        const std::string line1 = Entry(1) + "\r\n";
        UploadQueue q;
        CHECK_IN_CHILD(q.Load(path));
        q.Append(Entry(1));
        LimitFileSize(line1.size() + room);
        bool refused = false;
        try {
            q.Append(Entry(2));
        } catch (const std::runtime_error&) {
            refused = true;
        }
        CHECK_IN_CHILD(refused);
        CHECK_IN_CHILD(test::ReadFile(path) == line1);
        CHECK_IN_CHILD(q.Size() == 2 && q.Unsaved() == 1 && q.CannotPersist());
        CHECK_IN_CHILD(!q.LastError().empty());
        // One more while full: both wait, still no part in the file.
        try {
            q.Append(Entry(3));
        } catch (const std::runtime_error&) {
        }
        CHECK_IN_CHILD(test::ReadFile(path) == line1 && q.Unsaved() == 2);
        // Room again: the next try puts both after the first.
        LimitFileSize(RLIM_INFINITY);
        q.FlushIfDue(Clock::now() + std::chrono::hours(1));
        CHECK_IN_CHILD(!q.CannotPersist() && q.LastError().empty());
        CHECK_IN_CHILD(test::ReadFile(path) == line1 + Entry(2) + "\r\n" + Entry(3) + "\r\n");
        return "";
    });
    EXPECT_EQ(wrong, "");
}

INSTANTIATE_TEST_SUITE_P(Cuts, ShortAppend,
                         ::testing::Values(0u, 5u, 21u, Entry(2).size(), Entry(2).size() + 1));

// A station with readings waiting, a queue file on a disk that fills in the
// middle of an append, a sender posting the front now and then. The station
// is asked for a reading only while the queue keeps everything on disk.
// No cut entry is ever posted, and every reading the station released is
// posted or in the file at the end; while full, only the one reading that
// was on its way waits in memory, and the end-of-run report names it.
TEST(UploadQueueDiskFull, NoReleasedReadingIsLostAndNoCutEntryIsPosted) {
    test::TempDir dir;
    const std::string path = dir.file("niewyslane.txt");
    const std::string wrong = InChild([&]() -> std::string {
        std::deque<std::string> station;
        for (int i = 0; i < 60; ++i) station.push_back(Entry(100 + i));
        std::vector<std::string> released, posted;
        UploadQueue q;
        CHECK_IN_CHILD(q.Load(path));
        // Room for about eight entries, the ninth is cut.
        LimitFileSize(8 * (Entry(100).size() + 2) + 17);
        Clock::time_point now = Clock::now();
        int heldTicks = 0;
        for (int tick = 0; tick < 200 && !(station.empty() && q.Empty()); ++tick) {
            now += std::chrono::seconds(2);
            if (tick == 60) LimitFileSize(RLIM_INFINITY);  // space returns
            // The upload timer's tick: a retry of what the disk refused.
            try {
                q.FlushIfDue(now);
            } catch (const std::runtime_error&) {
            }
            if (!q.CannotPersist() && !station.empty()) {
                released.push_back(station.front());
                station.pop_front();
                try {
                    q.Append(released.back());
                } catch (const std::runtime_error&) {
                }
            } else if (!station.empty()) {
                ++heldTicks;
                CHECK_IN_CHILD(q.Unsaved() == 1);
                CHECK_IN_CHILD(UnsavedReport(q).size() == 2);
            }
            if (tick % 3 == 2 && !q.Empty()) {
                posted.push_back(q.Front());
                q.PopFront();
            }
            // Whatever stands in the file now is whole.
            const std::string text = test::ReadFile(path);
            CHECK_IN_CHILD(text.empty() || text.ends_with("\r\n"));
        }
        CHECK_IN_CHILD(heldTicks > 10);
        CHECK_IN_CHILD(station.empty());
        CHECK_IN_CHILD(posted == released);
        return "";
    });
    EXPECT_EQ(wrong, "");
    UploadQueue after;
    ASSERT_TRUE(after.Load(path));
    EXPECT_EQ(after.CutLine(), "");
}

}  // namespace
}  // namespace pom

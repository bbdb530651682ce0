#include "web/UploadQueue.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
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
    EXPECT_THAT(q.Entries(), ElementsAre("a", "b", "c"));

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

}  // namespace
}  // namespace pom

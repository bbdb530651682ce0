// The posts between the posters and a store's writer thread: batches in
// order, every poster answered with its own outcome, the waiting ones still
// written when the store closes, none taken after.
#include "tools/recorder/RecorderWriteQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

namespace pom::recorder {
namespace {

Reading At(int i) {
    return {"kolejka", "2026-01-01 00:00:" + std::to_string(10 + i), {}};
}

TEST(RecorderWriteQueue, BatchesInOrderAndEachPosterGetsItsOutcome) {
    WriteQueue queue;
    const std::vector<Reading> many = {At(0), At(1), At(2), At(3), At(4)};
    std::vector<WriteJob> jobs(many.size());
    std::thread poster([&] {
        for (std::size_t i = 0; i < many.size(); ++i) jobs[i].reading = &many[i];
        EXPECT_TRUE(queue.Run(jobs.data(), jobs.size()));
    });
    // The writer: batches of at most two, the third reading refused.
    std::vector<std::vector<std::string>> batches;
    std::vector<WriteJob*> batch;
    while (batches.size() < 3) {
        ASSERT_EQ(queue.Take(batch, 2), WriteQueue::Took::Batch);
        ASSERT_LE(batch.size(), 2u);
        batches.emplace_back();
        for (WriteJob* j : batch) {
            batches.back().push_back(j->reading->stamp);
            j->outcome = j->reading == &many[2] ? Outcome::Exists : Outcome::Stored;
        }
        queue.Finish(batch);
        EXPECT_TRUE(batch.empty());
    }
    poster.join();
    EXPECT_EQ(batches, (std::vector<std::vector<std::string>>{{many[0].stamp, many[1].stamp},
                                                              {many[2].stamp, many[3].stamp},
                                                              {many[4].stamp}}));
    for (std::size_t i = 0; i < jobs.size(); ++i)
        EXPECT_EQ(jobs[i].outcome, i == 2 ? Outcome::Exists : Outcome::Stored) << i;
}

TEST(RecorderWriteQueue, ClosingWritesWhatWaitsAndRefusesWhatComesAfter) {
    WriteQueue queue;
    std::vector<WriteJob*> batch;
    EXPECT_EQ(queue.Take(batch, 8, std::chrono::milliseconds(10)), WriteQueue::Took::Idle);
    EXPECT_TRUE(batch.empty());

    const Reading waiting = At(0);
    WriteJob job;
    job.reading = &waiting;
    std::atomic<bool> answered{false};
    std::thread poster([&] {
        EXPECT_TRUE(queue.Run(&job, 1));
        answered = true;
    });
    ASSERT_EQ(queue.Take(batch, 8), WriteQueue::Took::Batch);
    queue.Stop();
    EXPECT_FALSE(answered.load()) << "answered before its batch was finished";
    batch.front()->outcome = Outcome::Stored;
    queue.Finish(batch);
    poster.join();
    EXPECT_EQ(job.outcome, Outcome::Stored);

    WriteJob late;
    late.reading = &waiting;
    EXPECT_FALSE(queue.Run(&late, 1));
    EXPECT_EQ(late.outcome, Outcome::Failed);
    EXPECT_EQ(queue.Take(batch, 8), WriteQueue::Took::Stop);
}

}  // namespace
}  // namespace pom::recorder

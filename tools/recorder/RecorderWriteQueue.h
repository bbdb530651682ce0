#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "tools/recorder/RecorderStore.h"

namespace pom::recorder {

// A post handed to a store's writer thread, and what became of it.
struct WriteJob {
    const Reading* reading = nullptr;
    const Legends* legends = nullptr;
    Outcome outcome = Outcome::Failed;
    bool done = false;
};

// The posts waiting for a store's one writer thread. Posters block until
// the batch holding their jobs is finished; the writer takes what is
// waiting, a batch at a time, and writes it in one transaction.
class WriteQueue {
public:
    // Hands the jobs to the writer and waits until it finished them; false
    // (the jobs left Failed) when the store is closing.
    bool Run(WriteJob* jobs, std::size_t count);
    // A store's writing calls, the same for every store.
    Outcome AddReading(const Reading& reading);
    std::vector<Outcome> AddReadings(const std::vector<Reading>& readings);
    bool SetLegends(const Legends& legends);

    enum class Took { Batch, Idle, Stop };
    // The writer: waits for jobs and moves up to `max` of them into `batch`.
    // Idle when `idle` passed without any; Stop once the store is closing
    // and nothing waits (posts already waiting are still handed out).
    Took Take(std::vector<WriteJob*>& batch, std::size_t max,
              std::optional<std::chrono::milliseconds> idle = std::nullopt);
    // The writer: the batch's outcomes are set; its posters go on.
    void Finish(std::vector<WriteJob*>& batch);
    // No new jobs from now on; the writer is woken to finish.
    void Stop();

private:
    std::mutex mutex_;
    std::condition_variable wake_;  // the writer: work or stop
    std::condition_variable done_;  // the posters: a batch is finished
    std::deque<WriteJob*> queue_;
    bool stopping_ = false;
};

}  // namespace pom::recorder

#include "tools/recorder/RecorderWriteQueue.h"

#include <algorithm>

namespace pom::recorder {

bool WriteQueue::Run(WriteJob* jobs, std::size_t count) {
    std::unique_lock lock(mutex_);
    if (stopping_) return false;
    for (std::size_t i = 0; i < count; ++i) queue_.push_back(&jobs[i]);
    wake_.notify_one();
    done_.wait(lock, [&] {
        return std::all_of(jobs, jobs + count, [](const WriteJob& j) { return j.done; });
    });
    return true;
}

WriteQueue::Took WriteQueue::Take(std::vector<WriteJob*>& batch, std::size_t max,
                                  std::optional<std::chrono::milliseconds> idle) {
    std::unique_lock lock(mutex_);
    const auto ready = [&] { return stopping_ || !queue_.empty(); };
    if (!idle)
        wake_.wait(lock, ready);
    else if (!wake_.wait_for(lock, *idle, ready))
        return Took::Idle;
    if (queue_.empty()) return Took::Stop;
    while (!queue_.empty() && batch.size() < max) {
        batch.push_back(queue_.front());
        queue_.pop_front();
    }
    return Took::Batch;
}

void WriteQueue::Finish(std::vector<WriteJob*>& batch) {
    {
        std::lock_guard lock(mutex_);
        for (WriteJob* j : batch) j->done = true;
    }
    done_.notify_all();
    batch.clear();
}

void WriteQueue::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
}

Outcome WriteQueue::AddReading(const Reading& reading) {
    WriteJob job;
    job.reading = &reading;
    Run(&job, 1);
    return job.outcome;
}

std::vector<Outcome> WriteQueue::AddReadings(const std::vector<Reading>& readings) {
    std::vector<WriteJob> jobs(readings.size());
    for (std::size_t i = 0; i < readings.size(); ++i) jobs[i].reading = &readings[i];
    Run(jobs.data(), jobs.size());
    std::vector<Outcome> out(readings.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) out[i] = jobs[i].outcome;
    return out;
}

bool WriteQueue::SetLegends(const Legends& legends) {
    WriteJob job;
    job.legends = &legends;
    Run(&job, 1);
    return job.outcome == Outcome::Stored;
}

}  // namespace pom::recorder

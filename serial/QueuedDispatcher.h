#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/CancellableDispatcher.h"

namespace pom {

// A main thread without an event loop: calls from other threads wait in a
// queue until the main thread pumps it. Used by tests, benchmarks and tools.
// The thread that creates it is its main thread.
class QueuedDispatcher final : public CancellableDispatcher {
public:
    QueuedDispatcher();
    ~QueuedDispatcher() override;
    QueuedDispatcher(const QueuedDispatcher&) = delete;
    QueuedDispatcher& operator=(const QueuedDispatcher&) = delete;

    // On the main thread the function runs at once (a blocking hand-over to
    // oneself would never end).
    void SyncCall(const std::function<void()>& fn) override;
    void CancelCallsFrom(std::thread::id caller) override;

    // Runs the calls queued so far, on the calling thread; returns how many ran.
    std::size_t Pump();
    // Pumps until cond holds or the deadline passes; true when it held.
    bool PumpUntil(const std::function<bool()>& cond,
                   std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // Calls waiting to be pumped.
    std::size_t Pending() const;

private:
    struct Call {
        const std::function<void()>* fn;
        std::thread::id caller;
        bool done = false;
    };

    std::thread::id main_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Call>> queue_;
    int waiters_ = 0;  // callers inside SyncCall's wait
};

// Runs every call at once on the calling thread: for single-threaded uses and
// for tests that do not care on which thread a handler runs.
class DirectDispatcher final : public CancellableDispatcher {
public:
    void SyncCall(const std::function<void()>& fn) override { fn(); }
    void CancelCallsFrom(std::thread::id) override {}
};

}  // namespace pom

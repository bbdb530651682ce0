#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "util/MainThreadDispatcher.h"

namespace pom {

// A dispatcher whose waiting callers can be let go. A component that must stop
// its worker while the main thread cannot run its event loop (it is inside the
// component's destructor) drops the worker's pending call instead of waiting
// for it forever.
class CancellableDispatcher : public MainThreadDispatcher {
public:
    // Called on the main thread. Every call queued by `caller` that has not
    // started is dropped unrun, and `caller` returns from SyncCall.
    virtual void CancelCallsFrom(std::thread::id caller) = 0;
};

// Joins a worker that has been told to stop and may be waiting to hand a
// call to this (the main) thread: its calls are dropped, as often as it may
// start one before it sees the stop, until it sets `finished`.
inline void JoinDroppingCalls(std::thread& worker, const std::atomic<bool>& finished,
                              CancellableDispatcher& main,
                              std::chrono::milliseconds poll = std::chrono::milliseconds(1)) {
    const std::thread::id id = worker.get_id();
    while (!finished.load()) {
        main.CancelCallsFrom(id);
        std::this_thread::sleep_for(poll);
    }
    worker.join();
}

}  // namespace pom

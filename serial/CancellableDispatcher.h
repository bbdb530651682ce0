#pragma once

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

}  // namespace pom

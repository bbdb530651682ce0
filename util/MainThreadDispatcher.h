#pragma once

#include <functional>

namespace pom {

// Runs a function on the main (GUI) thread and returns when it has run there.
// Worker threads reach the main thread only through this.
class MainThreadDispatcher {
public:
    virtual ~MainThreadDispatcher() = default;
    virtual void SyncCall(const std::function<void()>& fn) = 0;
};

}  // namespace pom

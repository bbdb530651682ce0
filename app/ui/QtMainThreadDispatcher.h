#pragma once

#include <QObject>
#include <QThread>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/CancellableDispatcher.h"

namespace pom {

// Runs worker calls on the GUI thread with a blocking queued call. Each calling
// thread posts to its own receiver object, so the calls of one thread can be
// dropped (CancelCallsFrom) without touching another's. Create it on the GUI
// thread; it must outlive every component that uses it.
class QtMainThreadDispatcher final : public CancellableDispatcher {
public:
    QtMainThreadDispatcher();
    ~QtMainThreadDispatcher() override;
    QtMainThreadDispatcher(const QtMainThreadDispatcher&) = delete;
    QtMainThreadDispatcher& operator=(const QtMainThreadDispatcher&) = delete;

    void SyncCall(const std::function<void()>& fn) override;
    void CancelCallsFrom(std::thread::id caller) override;

    // Callers now blocked in SyncCall (for tests and diagnostics).
    int Waiting() const { return waiting_.load(); }

private:
    QObject* ReceiverFor(std::thread::id caller);

    QThread* mainThread_;
    std::mutex mutex_;
    std::map<std::thread::id, std::unique_ptr<QObject>> receivers_;
    std::atomic<int> waiting_{0};
};

}  // namespace pom

#pragma once

#include <QObject>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/CancellableDispatcher.h"

namespace pom {

namespace detail {
// Lives on the GUI thread; a queued call of Wake() drains the dispatcher's
// queue there. Called by name, so the posted call carries nothing of ours.
class DispatchWaker final : public QObject {
    Q_OBJECT
public:
    explicit DispatchWaker(std::function<void()> run) : run_(std::move(run)) {}
public slots:
    void Wake() { run_(); }

private:
    std::function<void()> run_;
};
}  // namespace detail

// Runs worker calls on the GUI thread and returns when they have run there.
// The calls wait in a queue of our own, guarded by our own lock; the event
// loop is only woken by a plain queued call to drain it. So the hand-over is
// ordered by primitives a thread checker sees, not by a semaphore inside Qt.
// Calls of one thread can be dropped (CancelCallsFrom) without touching
// another's. Create it on the GUI thread; it must outlive every component
// that uses it.
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
    struct Call {
        const std::function<void()>* fn;
        std::thread::id caller;
        bool done = false;  // under mutex_
    };

    // On the GUI thread: runs every call queued so far.
    void RunPending();

    QThread* mainThread_;
    std::unique_ptr<detail::DispatchWaker> waker_;  // lives on the GUI thread
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Call>> pending_;
    int waiters_ = 0;  // callers inside SyncCall's wait
    bool closing_ = false;
    std::atomic<int> waiting_{0};
};

}  // namespace pom

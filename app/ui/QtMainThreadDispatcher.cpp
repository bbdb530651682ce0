#include "app/ui/QtMainThreadDispatcher.h"

#include <QMetaObject>

#include <algorithm>

namespace pom {

QtMainThreadDispatcher::QtMainThreadDispatcher()
    : mainThread_(QThread::currentThread()),
      waker_(std::make_unique<detail::DispatchWaker>([this] { RunPending(); })) {}

QtMainThreadDispatcher::~QtMainThreadDispatcher() {
    std::unique_lock lock(mutex_);
    // Nobody may stay blocked on a dispatcher that is going away.
    closing_ = true;
    for (auto& c : pending_) c->done = true;
    pending_.clear();
    changed_.notify_all();
    // A released caller still needs the lock to leave its wait.
    changed_.wait(lock, [&] { return waiters_ == 0; });
    // The waker goes with its posted wake-ups, here on the GUI thread.
}

void QtMainThreadDispatcher::SyncCall(const std::function<void()>& fn) {
    if (QThread::currentThread() == mainThread_) {
        fn();  // a hand-over to oneself would never return
        return;
    }
    auto call = std::make_shared<Call>(Call{&fn, std::this_thread::get_id()});
    std::unique_lock lock(mutex_);
    if (closing_) return;
    pending_.push_back(call);
    ++waiters_;
    ++waiting_;
    // Posted under the lock, so the waker cannot go meanwhile. The wake-up
    // carries nothing: the call itself is handed over through pending_.
    QMetaObject::invokeMethod(waker_.get(), "Wake", Qt::QueuedConnection);
    changed_.wait(lock, [&] { return call->done; });
    --waiters_;
    --waiting_;
    changed_.notify_all();
}

void QtMainThreadDispatcher::RunPending() {
    for (;;) {
        std::shared_ptr<Call> c;
        {
            std::lock_guard lock(mutex_);
            if (pending_.empty()) return;
            c = pending_.front();
            pending_.pop_front();
        }
        auto release = [&] {
            std::lock_guard lock(mutex_);
            c->done = true;
            changed_.notify_all();
        };
        try {
            (*c->fn)();
        } catch (...) {
            release();  // the caller must not wait forever for a call that failed
            throw;
        }
        release();
    }
}

void QtMainThreadDispatcher::CancelCallsFrom(std::thread::id caller) {
    std::lock_guard lock(mutex_);
    // A call already running is not in the queue any more and ends normally.
    auto it = std::remove_if(pending_.begin(), pending_.end(), [&](const std::shared_ptr<Call>& c) {
        if (c->caller != caller) return false;
        c->done = true;
        return true;
    });
    pending_.erase(it, pending_.end());
    changed_.notify_all();
}

}  // namespace pom

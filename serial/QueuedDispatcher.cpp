#include "serial/QueuedDispatcher.h"

#include <algorithm>

namespace pom {

QueuedDispatcher::QueuedDispatcher() : main_(std::this_thread::get_id()) {}

QueuedDispatcher::~QueuedDispatcher() {
    // Nobody may stay blocked on a dispatcher that is going away.
    std::unique_lock lock(mutex_);
    for (auto& c : queue_) c->done = true;
    queue_.clear();
    changed_.notify_all();
    // A released caller still needs the lock to leave its wait; the lock and
    // the condition must outlive that.
    changed_.wait(lock, [&] { return waiters_ == 0; });
}

void QueuedDispatcher::SyncCall(const std::function<void()>& fn) {
    if (std::this_thread::get_id() == main_) {
        fn();
        return;
    }
    auto call = std::make_shared<Call>(Call{&fn, std::this_thread::get_id()});
    std::unique_lock lock(mutex_);
    queue_.push_back(call);
    changed_.notify_all();
    ++waiters_;
    changed_.wait(lock, [&] { return call->done; });
    --waiters_;
    changed_.notify_all();
}

void QueuedDispatcher::CancelCallsFrom(std::thread::id caller) {
    std::lock_guard lock(mutex_);
    auto it = std::remove_if(queue_.begin(), queue_.end(), [&](const std::shared_ptr<Call>& c) {
        if (c->caller != caller) return false;
        c->done = true;
        return true;
    });
    queue_.erase(it, queue_.end());
    changed_.notify_all();
}

std::size_t QueuedDispatcher::Pump() {
    std::deque<std::shared_ptr<Call>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(queue_);
    }
    for (auto& c : batch) {
        (*c->fn)();
        std::lock_guard lock(mutex_);
        c->done = true;
        changed_.notify_all();
    }
    return batch.size();
}

bool QueuedDispatcher::PumpUntil(const std::function<bool()>& cond,
                                 std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        Pump();
        if (cond()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::unique_lock lock(mutex_);
        // Short slices: the condition may change without a queued call.
        changed_.wait_for(lock, std::chrono::milliseconds(5), [&] { return !queue_.empty(); });
    }
}

std::size_t QueuedDispatcher::Pending() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

}  // namespace pom

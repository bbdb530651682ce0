#include "app/ui/QtMainThreadDispatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>

namespace pom {

QtMainThreadDispatcher::QtMainThreadDispatcher() : mainThread_(QThread::currentThread()) {}

QtMainThreadDispatcher::~QtMainThreadDispatcher() {
    std::lock_guard lock(mutex_);
    // Deleting a receiver drops its posted calls, which releases their callers.
    receivers_.clear();
}

QObject* QtMainThreadDispatcher::ReceiverFor(std::thread::id caller) {
    std::lock_guard lock(mutex_);
    auto& r = receivers_[caller];
    if (!r) {
        // Made on the calling thread and pushed to the GUI thread, where its
        // queued calls run.
        r = std::make_unique<QObject>();
        r->moveToThread(mainThread_);
    }
    return r.get();
}

void QtMainThreadDispatcher::SyncCall(const std::function<void()>& fn) {
    if (QThread::currentThread() == mainThread_) {
        fn();  // a blocking queued call to oneself would never return
        return;
    }
    QObject* receiver = ReceiverFor(std::this_thread::get_id());
    ++waiting_;
    // Returns when the call has run, or when its event was dropped unrun.
    QMetaObject::invokeMethod(
        receiver, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
    --waiting_;
}

void QtMainThreadDispatcher::CancelCallsFrom(std::thread::id caller) {
    QObject* receiver = nullptr;
    {
        std::lock_guard lock(mutex_);
        auto it = receivers_.find(caller);
        if (it != receivers_.end()) receiver = it->second.get();
    }
    // A removed call event releases the thread blocked on it.
    if (receiver) QCoreApplication::removePostedEvents(receiver, QEvent::MetaCall);
}

}  // namespace pom

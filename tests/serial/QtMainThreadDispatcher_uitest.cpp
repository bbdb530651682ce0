#include "app/ui/QtMainThreadDispatcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "serial/SerialPort.h"
#include "tests/support/Pty.h"
#include "tests/support/TestSupport.h"

namespace pom {
namespace {

// Runs the GUI event loop until cond holds or the deadline passes.
bool ProcessUntil(const std::function<bool()>& cond, int deadlineMs = 10000) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > deadlineMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

TEST(QtMainThreadDispatcher, CallFromAWorkerRunsOnTheGuiThread) {
    QtMainThreadDispatcher d;
    std::atomic<bool> onGui{false}, returned{false};
    std::thread worker([&] {
        d.SyncCall([&] { onGui = QThread::currentThread() == qApp->thread(); });
        returned = true;
    });
    ASSERT_TRUE(ProcessUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(onGui.load(), true);
}

// Plain data written before a call is seen by it, and what it writes is seen
// after SyncCall returns: the hand-over orders both ways (the ThreadSanitizer
// build checks that it does so through locks it can see).
TEST(QtMainThreadDispatcher, HandOverOrdersPlainDataBothWays) {
    QtMainThreadDispatcher d;
    constexpr int kCalls = 200;
    int toGui = 0, fromGui = 0, seen = 0;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        for (int i = 1; i <= kCalls; ++i) {
            toGui = i;
            d.SyncCall([&] { fromGui = toGui * 2; });
            if (fromGui == i * 2) ++seen;
        }
        finished = true;
    });
    ASSERT_TRUE(ProcessUntil([&] { return finished.load(); }));
    worker.join();
    EXPECT_EQ(seen, kCalls);
}

TEST(QtMainThreadDispatcher, CallFromTheGuiThreadRunsAtOnce) {
    QtMainThreadDispatcher d;
    int ran = 0;
    d.SyncCall([&] { ++ran; });
    EXPECT_EQ(ran, 1);
}

TEST(QtMainThreadDispatcher, CancelReleasesOnlyThatCaller) {
    QtMainThreadDispatcher d;
    std::atomic<int> ran{0};
    std::atomic<bool> aDone{false};
    std::thread a([&] {
        d.SyncCall([&] { ran += 1; });
        aDone = true;
    });
    ASSERT_TRUE(test::WaitFor([&] { return d.Waiting() == 1; }));
    std::thread b([&] { d.SyncCall([&] { ran += 10; }); });
    ASSERT_TRUE(test::WaitFor([&] { return d.Waiting() == 2; }));
    // The GUI thread is "busy" (not processing events) and lets a go.
    d.CancelCallsFrom(a.get_id());
    ASSERT_TRUE(test::WaitFor([&] { return aDone.load(); }));
    a.join();
    ASSERT_TRUE(ProcessUntil([&] { return ran.load() == 10; }));
    b.join();
    EXPECT_EQ(ran.load(), 10);
}

TEST(QtMainThreadDispatcher, SerialPortDestroyedWhileItsWorkerWaitsOnTheGuiThread) {
    QtMainThreadDispatcher d;
    test::Pty pty;
    auto port = std::make_unique<TSerialPort>(d);
    std::atomic<int> clusters{0};
    port->SetOnRxClusterEvent([&](TSerialPort&) { ++clusters; });
    port->SetReadRequest(true);
    port->SetCommPort(pty.slavePath());
    port->SetActive(true);
    ASSERT_EQ(port->Active(), true);
    pty.Write("data");
    ASSERT_TRUE(ProcessUntil([&] { return clusters.load() == 1; }));
    // Now keep the GUI thread away from its loop while the worker hands over.
    pty.Write("more");
    port->SetReadRequest(true);
    ASSERT_TRUE(test::WaitFor([&] { return d.Waiting() == 1; }));
    port.reset();  // must not wait for the event loop
    EXPECT_EQ(d.Waiting(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(clusters.load(), 1);
}

}  // namespace
}  // namespace pom

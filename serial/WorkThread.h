#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "serial/PosixTty.h"
#include "serial/SerialPort.h"

namespace pom {

// The serial component's worker: polls the modem lines and queue counts, forms
// clusters from the input queue, completes writes and raises the events on the
// main thread, in turns of at most 75 ms while the port is open and 200 ms
// sleeps while it is closed.
class TWorkThread {
public:
    explicit TWorkThread(TSerialPort& port);
    // Asks the thread to end and joins it; the owner lets go of any call the
    // thread waits on first (see TSerialPort::~TSerialPort).
    ~TWorkThread();
    TWorkThread(const TWorkThread&) = delete;
    TWorkThread& operator=(const TWorkThread&) = delete;

    void Terminate();
    bool Finished() const { return finished_.load(); }
    // Waits up to `timeout` for the thread's loop to end; true when it has.
    bool WaitFinished(std::chrono::milliseconds timeout);
    std::thread::id Id() const { return thread_.get_id(); }

    // The cluster-forming rule: read the n queued bytes now?
    static bool ShouldRead(std::uint32_t n, std::uint64_t elapsedMs, bool readRequest,
                           std::uint32_t clusterSize, std::uint32_t rtoCharDelayUs,
                           std::uint32_t rtoExtraDelayMs, std::uint32_t lineErrors);

private:
    void Execute();
    bool Servicing() const;
    void NewSession();
    void UpdateStatus();
    void CheckWrite();
    void FinishWrite(std::uint32_t transferred, int error);
    void ReadData();
    void MakeCluster(std::unique_ptr<char[]> data, std::uint32_t size);
    void WaitTurn();
    void DispatchEvents();
    void IdleSleep(int ms);

    void SyncCall(const std::function<void()>& fn);
    void RaiseEvent(TSerialPort::Event e);
    void ReportError(std::uint32_t place, std::uint32_t code, const char* msg);
    // A failure that repeats every turn is reported once, until the call
    // succeeds again, so a pulled device does not flood the main thread.
    void ReportOnce(std::uint32_t place, int code, const char* msg);
    void Succeeded(std::uint32_t place) { failing_.erase(place); }

    TSerialPort& port_;
    std::atomic<bool> terminate_{false};
    std::atomic<bool> finished_{false};
    std::mutex finishedLock_;
    std::condition_variable finishedCv_;

    // Loop state (worker only).
    std::shared_ptr<serial::PortFile> file_;  // this turn's reference
    // The open the state below belongs to. Held weakly, so its memory is not
    // handed to the next open while compared: a raw address could come back
    // for a new open and keep the old open's state.
    std::weak_ptr<serial::PortFile> session_;
    std::uint64_t lastReadTick_ = 0;
    std::uint32_t eventMask_ = 0;
    std::uint32_t lineErrors_ = 0;  // errors seen since the last read
    std::uint32_t inQueue_ = 0;
    bool hungUp_ = false;
    bool modemRefused_ = false;
    bool countersRefused_ = false;
    bool haveCounters_ = false;
    serial::LineCounters counters_;
    std::map<std::uint32_t, int> failing_;

    std::thread thread_;  // last: starts once everything above exists
};

}  // namespace pom

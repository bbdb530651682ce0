#include "serial/WorkThread.h"

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "serial/SerialPlaces.h"

namespace pom {

using namespace serial;
using Event = TSerialPort::Event;

namespace {

constexpr int kTurnMs = 75;
constexpr int kIdleSleepMs = 200;
// The tty layer keeps about 4 kB of input; a queue this full is read at once,
// whatever ClusterSize says, or a steady stream would stall behind it.
constexpr std::uint32_t kInputHighWater = 4032;
// Line errors that make the worker read at once: overflow, overrun, parity, framing, break.
constexpr std::uint32_t kUrgentErrors = 0x1F;

std::uint64_t NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

void DrainWake(int fd) {
    std::uint64_t v;
    while (::read(fd, &v, sizeof v) > 0) {
    }
}

}  // namespace

TWorkThread::TWorkThread(TSerialPort& port) : port_(port), thread_([this] { Execute(); }) {}

TWorkThread::~TWorkThread() {
    Terminate();
    if (thread_.joinable()) thread_.join();
}

void TWorkThread::Terminate() {
    terminate_ = true;
    port_.Wake();
}

bool TWorkThread::WaitFinished(std::chrono::milliseconds timeout) {
    std::unique_lock lock(finishedLock_);
    return finishedCv_.wait_for(lock, timeout, [&] { return finished_.load(); });
}

bool TWorkThread::ShouldRead(std::uint32_t n, std::uint64_t elapsedMs, bool readRequest,
                             std::uint32_t clusterSize, std::uint32_t rtoCharDelayUs,
                             std::uint32_t rtoExtraDelayMs, std::uint32_t lineErrors) {
    if (n == 0) return false;
    if (readRequest || n >= clusterSize || n >= kInputHighWater) return true;
    const double quietMs = static_cast<double>(n) * rtoCharDelayUs / 1000.0 + rtoExtraDelayMs;
    if (static_cast<double>(elapsedMs) > quietMs) return true;
    return (lineErrors & kUrgentErrors) != 0;
}

void TWorkThread::Execute() {
    // Named, so that tools (top -H, the benchmark) can tell it apart.
    pthread_setname_np(pthread_self(), "pom-serial");
    bool running = port_.active_.load();
    bool stop = terminate_.load();
    lastReadTick_ = NowMs();
    while (!stop) {
        if (running) {
            port_.threadBusy_ = true;
            file_ = port_.CurrentFile();
            if (file_ != session_.lock()) NewSession();
            if (Servicing()) UpdateStatus();
            CheckWrite();
            // Reads return at once here (no read stays outstanding), so the
            // read step runs every turn.
            if (Servicing()) ReadData();
            if (Servicing()) {
                WaitTurn();
                if (Servicing()) UpdateStatus();
                if (Servicing()) DispatchEvents();
            }
            eventMask_ = 0;
            if (!port_.active_) {
                if (!port_.sendInProgress_) {
                    running = false;
                } else {
                    IdleSleep(kTurnMs);  // the close aborts the write; do not spin meanwhile
                }
            }
            file_.reset();
        } else {
            port_.threadBusy_ = false;
            // A write still pending after a quick close is finished (aborted) too.
            running = port_.active_.load() || port_.sendInProgress_.load();
            if (!running && !terminate_) IdleSleep(kIdleSleepMs);
        }
        if (terminate_ && !running) stop = true;
    }
    file_.reset();
    port_.threadBusy_ = false;
    {
        std::lock_guard lock(finishedLock_);
        finished_ = true;
    }
    finishedCv_.notify_all();
}

bool TWorkThread::Servicing() const {
    // The port may have been closed or reopened while a hand-over waited; the
    // rest of such a turn leaves the old descriptor alone.
    return port_.active_ && file_ && file_ == port_.CurrentFile();
}

void TWorkThread::NewSession() {
    session_ = file_;
    hungUp_ = false;
    modemRefused_ = false;
    countersRefused_ = false;
    haveCounters_ = false;
    lineErrors_ = 0;
    inQueue_ = 0;
    failing_.clear();
    lastReadTick_ = NowMs();
}

void TWorkThread::UpdateStatus() {
    const int fd = file_->fd();
    if (!modemRefused_) {
        std::uint32_t ms = 0;
        if (const int err = GetModemStatus(fd, ms)) {
            if (IsRefusedIoctl(err)) modemRefused_ = true;  // no modem lines here: ask no more
            ReportOnce(9905, err, "Error getting ModemStatus");
        } else {
            Succeeded(9905);
            const std::uint32_t old = port_.modemState_.load();
            const bool ringChanged = ((ms ^ old) & kMsRingOn) != 0;
            if ((ms ^ old) & kMsCtsOn) eventMask_ |= kEvCts;
            if ((ms ^ old) & kMsDsrOn) eventMask_ |= kEvDsr;
            if ((ms ^ old) & kMsRlsdOn) eventMask_ |= kEvRlsd;
            if (ringChanged && (ms & kMsRingOn)) eventMask_ |= kEvRing;
            port_.modemState_ = ms;
            port_.ctsState_ = (ms & kMsCtsOn) != 0;
            port_.dsrState_ = (ms & kMsDsrOn) != 0;
            port_.rlsdState_ = (ms & kMsRlsdOn) != 0;
            port_.ringState_ = (ms & kMsRingOn) != 0;
            if (ringChanged) RaiseEvent(Event::RI);
        }
    }

    // Repeated until two readings agree, so a handler of OnCommStat sees every change.
    for (;;) {
        std::uint32_t in = 0, out = 0;
        if (const int err = QueueCounts(fd, in, out)) {
            ReportOnce(9803, err, "Error ClearCommError");
            inQueue_ = 0;  // nothing to read from a queue that cannot be asked
            return;
        }
        Succeeded(9803);
        std::uint32_t errors = 0;
        if (!countersRefused_) {
            LineCounters now;
            if (const int err = GetLineCounters(fd, now)) {
                if (IsRefusedIoctl(err)) {
                    countersRefused_ = true;  // no error counters: the status goes on without them
                    ReportOnce(9803, err, "Error ClearCommError");
                }
            } else {
                if (haveCounters_) errors = LineErrorBits(counters_, now);
                counters_ = now;
                haveCounters_ = true;
            }
        }
        // Kept until the next read, so the cluster that follows carries them.
        lineErrors_ |= errors;
        if (errors & kCeBreak) eventMask_ |= kEvBreak;
        if (errors & (kCeFrame | kCeOverrun | kCeRxParity | kCeRxOver)) eventMask_ |= kEvErr;

        std::uint8_t flags = 0;
        if ((port_.flowControl_.load() & kFlowCtsOut) && !port_.ctsState_ && out > 0)
            flags |= kCtsHold;
        inQueue_ = in;
        if (errors == port_.commError_ && flags == port_.commStateFlags_ &&
            in == port_.commStateInQueue_ && out == port_.commStateOutQueue_)
            return;
        if (in > port_.commStateInQueue_) eventMask_ |= kEvRxChar;
        if (out == 0 && port_.commStateOutQueue_ > 0) eventMask_ |= kEvTxEmpty;
        port_.commError_ = errors;
        port_.commStateFlags_ = flags;
        port_.commStateInQueue_ = in;
        port_.commStateOutQueue_ = out;
        RaiseEvent(Event::CommStat);
        if (!port_.active_) return;
    }
}

void TWorkThread::CheckWrite() {
    if (!port_.sendInProgress_.load(std::memory_order_acquire)) return;
    if (port_.writeAborted_ || !file_) {
        FinishWrite(port_.writeDone_, ECANCELED);
        return;
    }
    const std::uint32_t count = port_.writeCount_;
    std::uint32_t& done = port_.writeDone_;
    if (done < count) {
        const ssize_t w = ::write(file_->fd(), port_.writeBuffer_.get() + done, count - done);
        if (w > 0) {
            done += static_cast<std::uint32_t>(w);
        } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
            port_.lastWriteError_ = errno;
            FinishWrite(done, errno);
            return;
        }
    }
    if (done == count || NowMs() - port_.writeStartMs_ >= port_.writeBudgetMs_)
        FinishWrite(done, 0);
}

void TWorkThread::FinishWrite(std::uint32_t transferred, int error) {
    port_.writtenBytes_ = transferred;
    const std::uint32_t expected = port_.writeCount_;
    port_.writeBuffer_.reset();
    port_.sendInProgress_.store(false, std::memory_order_release);
    if (error != 0) {
        ReportError(9702, static_cast<std::uint32_t>(error), "Error getting Overlapped Result");
    } else if (transferred != expected) {
        ReportError(9701, 0, "Error write TimeOut");
    }
    RaiseEvent(Event::WriteDone);
}

void TWorkThread::ReadData() {
    const std::uint32_t n = inQueue_;
    const std::uint64_t now = NowMs();
    if (n == 0) {
        lastReadTick_ = now;
        return;
    }
    if (!ShouldRead(n, now - lastReadTick_, port_.readRequest_, port_.clusterSize_,
                    port_.rtoCharDelayTime_, port_.rtoExtraDelayTime_, lineErrors_))
        return;
    auto buf = std::make_unique<char[]>(n);
    const ssize_t r = ::read(file_->fd(), buf.get(), n);
    if (r > 0 || (r < 0 && errno == EAGAIN)) {
        Succeeded(9804);
        port_.readRequest_ = false;
        std::uint32_t got = r > 0 ? static_cast<std::uint32_t>(r) : 0;
        if (port_.stripNullChars_) {
            got = static_cast<std::uint32_t>(std::remove(buf.get(), buf.get() + got, '\0') -
                                             buf.get());
        }
        const char ev = port_.eventChar_.load();
        if (got > 0 && std::memchr(buf.get(), ev, got) != nullptr) eventMask_ |= kEvRxFlag;
        MakeCluster(std::move(buf), got);
        lineErrors_ = 0;
        inQueue_ = 0;
        lastReadTick_ = NowMs();
        return;
    }
    // read() gives 0 only when the other side has gone (a hung-up tty).
    const int err = r == 0 ? EIO : errno;
    if (r == 0) hungUp_ = true;
    port_.readRequest_ = false;
    ReportOnce(9804, err, "Error reading Data");
}

void TWorkThread::MakeCluster(std::unique_ptr<char[]> data, std::uint32_t size) {
    if (port_.destroying_) return;
    TSerialCluster c;
    if (size > 0) {
        c.Data = std::make_unique<char[]>(size);
        std::memcpy(c.Data.get(), data.get(), size);
    }
    c.Size = size;
    c.ErrorCode = lineErrors_;
    {
        std::lock_guard lock(port_.clusterLock_);
        port_.clusterList_.push_back(std::move(c));
    }
    RaiseEvent(Event::RxCluster);
}

void TWorkThread::WaitTurn() {
    pollfd fds[2] = {{port_.wakeFd_, POLLIN, 0}, {file_->fd(), POLLIN, 0}};
    // With bytes queued the worker sleeps until their read is due (poll would
    // report them at once); an empty queue is watched for the first byte.
    nfds_t count = 1;
    int timeout = kTurnMs;
    if (inQueue_ == 0 && !hungUp_) {
        count = 2;
    } else if (inQueue_ > 0) {
        const double quietMs = static_cast<double>(inQueue_) * port_.rtoCharDelayTime_ / 1000.0 +
                               port_.rtoExtraDelayTime_;
        const double left = quietMs - static_cast<double>(NowMs() - lastReadTick_) + 1.0;
        timeout = static_cast<int>(std::clamp(left, 1.0, static_cast<double>(kTurnMs)));
    }
    const int r = ::poll(fds, count, timeout);
    if (r < 0) {
        if (errno != EINTR) ReportOnce(9911, errno, "Error getting Overlappedresult");
        return;
    }
    Succeeded(9911);
    if (fds[0].revents & POLLIN) DrainWake(port_.wakeFd_);
    // A hung-up device stays "readable" for ever; stop watching it so the
    // turns keep their length instead of spinning.
    if (count == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) hungUp_ = true;
}

void TWorkThread::DispatchEvents() {
    if (port_.destroying_ || eventMask_ == 0) return;
    const std::uint32_t mask = eventMask_;
    port_.commEvent_ = mask;
    static const struct {
        std::uint32_t bit;
        Event event;
    } kOrder[] = {{kEvBreak, Event::Break},
                  {kEvCts, Event::Cts},
                  {kEvDsr, Event::Dsr},
                  {kEvErr, Event::LineError},
                  {kEvRing, Event::Ring},
                  {kEvRlsd, Event::Rlsd},
                  {kEvRxChar, Event::RxChar},
                  {kEvRxFlag, Event::RxEventChar},
                  {kEvTxEmpty, Event::TxQueueEmpty}};
    for (const auto& o : kOrder)
        if (mask & o.bit) RaiseEvent(o.event);
    RaiseEvent(Event::Comm);
}

void TWorkThread::IdleSleep(int ms) {
    pollfd fd{port_.wakeFd_, POLLIN, 0};
    if (port_.wakeFd_ < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    if (::poll(&fd, 1, ms) > 0) DrainWake(port_.wakeFd_);
}

void TWorkThread::SyncCall(const std::function<void()>& fn) {
    if (port_.threadQuietMode_ || port_.destroying_) return;
    // The check repeats on the main thread: the destructor may have begun
    // while the call waited in the queue.
    port_.dispatcher_.SyncCall([&] {
        if (!port_.destroying_) fn();
    });
}

void TWorkThread::RaiseEvent(Event e) {
    if (!port_.HasHandler(e)) return;
    SyncCall([&] { port_.Raise(e); });
}

void TWorkThread::ReportError(std::uint32_t place, std::uint32_t code, const char* msg) {
    // Without a handler the report would only be dropped on the main thread.
    if (!port_.errorHandlerSet_) return;
    const std::string text = msg;
    SyncCall([&] { port_.ProcessError(place, code, kNoiseError, text); });
}

void TWorkThread::ReportOnce(std::uint32_t place, int code, const char* msg) {
    auto it = failing_.find(place);
    if (it != failing_.end() && it->second == code) return;
    failing_[place] = code;
    ReportError(place, static_cast<std::uint32_t>(code), msg);
}

}  // namespace pom

#include "serial/SerialPort.h"

#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "serial/PosixTty.h"
#include "serial/SerialPlaces.h"
#include "serial/WorkThread.h"

namespace pom {

using namespace serial;

namespace {

constexpr std::size_t kMaxPortName = 255;

std::uint64_t NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::uint32_t Bit(TSerialPort::Event e) {
    return 1u << static_cast<unsigned>(e);
}

}  // namespace

TSerialPort::TSerialPort(CancellableDispatcher& dispatcher) : dispatcher_(dispatcher) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0)
        ProcessError(1001, static_cast<std::uint32_t>(errno), kNoiseError,
                     "Error Creating Overlapped Event");
    worker_ = std::make_unique<TWorkThread>(*this);
}

TSerialPort::~TSerialPort() {
    destroying_ = true;
    // A worker blocked handing an event to this (now busy) main thread is let
    // go; it sees Destroying and hands over nothing more.
    const std::thread::id worker = worker_->Id();
    dispatcher_.CancelCallsFrom(worker);
    if (active_) ReopenPort(false);
    worker_->Terminate();
    WaitForThreadIdle(10);
    // A call queued between the checks above is dropped here too.
    while (!worker_->WaitFinished(std::chrono::milliseconds(10)))
        dispatcher_.CancelCallsFrom(worker);
    worker_.reset();
    if (wakeFd_ >= 0) ::close(wakeFd_);
    std::lock_guard lock(clusterLock_);
    clusterList_.clear();
}

// --- properties ---

void TSerialPort::SetActive(bool value) {
    if (value == active_) return;
    ReopenPort(value);
}

void TSerialPort::SetCommPort(const std::string& value) {
    const std::string v = value.substr(0, kMaxPortName);
    if (v == commPort_) return;
    commPort_ = v;
    ReopenPort(active_);
}

void TSerialPort::SetBaudRate(std::uint32_t value) {
    if (value == baudRate_) return;
    baudRate_ = value;
    if (xtoAuto_) ApplyAutoTimeouts();
    if (active_) ApplyCommSettings();
}

void TSerialPort::ApplyIfActive() {
    if (active_) ApplyCommSettings();
}

#define POM_SETTER(Name, field, Type)         \
    void TSerialPort::Set##Name(Type value) { \
        if (value == field) return;           \
        field = value;                        \
        ApplyIfActive();                      \
    }
POM_SETTER(ParityType, parityType_, std::uint8_t)
POM_SETTER(ParityErrorChar, parityErrorChar_, char)
POM_SETTER(ParityErrorReplacement, parityErrorReplacement_, bool)
POM_SETTER(StopBits, stopBits_, std::uint8_t)
POM_SETTER(DataBits, dataBits_, std::uint8_t)
POM_SETTER(XONChar, xonChar_, char)
POM_SETTER(XOFFChar, xoffChar_, char)
POM_SETTER(FlowControl, flowControl_, std::int32_t)
POM_SETTER(StripNullChars, stripNullChars_, bool)
POM_SETTER(EventChar, eventChar_, char)
POM_SETTER(WTOCharDelayTime, wtoCharDelayTime_, std::uint32_t)
POM_SETTER(WTOExtraDelayTime, wtoExtraDelayTime_, std::uint16_t)
#undef POM_SETTER

void TSerialPort::SetLimDiv(std::uint8_t& field, std::uint8_t value, const char* warning) {
    if (value > 100) {
        ProcessError(100, value, kNoiseWarning, warning);
        value = 100;
    }
    if (value == field) return;
    field = value;
    ApplyIfActive();
}

void TSerialPort::SetXONLimDiv(std::uint8_t value) {
    SetLimDiv(xonLimDiv_, value, "Warning XOnLimDef set to 100");
}

void TSerialPort::SetXOFFLimDiv(std::uint8_t value) {
    SetLimDiv(xoffLimDiv_, value, "Warning XOffLimDef set to 100");
}

void TSerialPort::SetXTOAuto(bool value) {
    if (value == xtoAuto_) return;
    xtoAuto_ = value;
    if (value) ApplyAutoTimeouts();
}

void TSerialPort::SetQueueSize(std::uint16_t& field, std::uint16_t value, std::uint32_t place) {
    if (value == field) return;
    field = value;
    // The tty layer sizes its own queues; the sizes only count for the flow
    // limits. As before, asking with no port open is refused.
    if (!active_) ProcessError(place, EBADF, kNoiseError, "Error can not set Quesize");
}

void TSerialPort::SetRxQueueSize(std::uint16_t value) {
    SetQueueSize(rxQueueSize_, value, 101);
}
void TSerialPort::SetTxQueueSize(std::uint16_t value) {
    SetQueueSize(txQueueSize_, value, 102);
}

bool TSerialPort::ModemLine(bool set, Line line, std::uint32_t place, const char* msg) {
    const auto file = CurrentFile();
    int err = EBADF;
    if (file) err = line == Line::Rts ? SetRts(file->fd(), set) : SetDtr(file->fd(), set);
    if (err != 0) ProcessError(place, static_cast<std::uint32_t>(err), kNoiseError, msg);
    return err == 0;
}

void TSerialPort::SetRTSState(bool value) {
    if (!active_) return;
    ModemLine(value, Line::Rts, value ? 501 : 502,
              value ? "Error setting RTS" : "Error clearing RTS");
    rtsState_ = value;
}

void TSerialPort::SetDTRState(bool value) {
    if (!active_) return;
    ModemLine(value, Line::Dtr, value ? 601 : 602,
              value ? "Error setting DTR" : "Error clearing DTR");
    dtrState_ = value;
}

void TSerialPort::SetBREAKState(bool value) {
    if (!active_) return;
    const auto file = CurrentFile();
    const int err = file ? SetBreak(file->fd(), value) : EBADF;
    if (err != 0)
        ProcessError(value ? 701 : 702, static_cast<std::uint32_t>(err), kNoiseError,
                     value ? "Error setting BREAK State" : "Error clearing BREAK State");
    breakState_ = value;
}

void TSerialPort::SetReadRequest(bool value) {
    readRequest_ = value;
    if (value) Wake();
}

// --- open and close ---

void TSerialPort::ReopenPort(bool wanted) {
    if (active_) ClosePort();
    if (wanted) OpenPort();
}

void TSerialPort::ClosePort() {
    ProcessError(100, 0, kNoiseMessage, "Msg start deactivating Port");
    active_ = false;
    // Ends the worker's wait at once.
    std::uint64_t one = 1;
    if (wakeFd_ < 0 || ::write(wakeFd_, &one, sizeof one) < 0)
        ProcessError(101, static_cast<std::uint32_t>(wakeFd_ < 0 ? EBADF : errno), kNoiseError,
                     "Error disabling CommEvents");
    if (sendInProgress_) writeAborted_ = true;
    auto file = CurrentFile();
    if (file) {
        if (const int err = Purge(file->fd()))
            ProcessError(102, static_cast<std::uint32_t>(err), kNoiseError,
                         "Error clearing Queues");
    }
    WaitForThreadIdle(15);
    if (threadBusy_) ProcessError(104, 0, kNoiseWarning, "Warning ThreadIsRunning");
    ModemLine(false, Line::Dtr, 602, "Error clearing DTR");
    ModemLine(false, Line::Rts, 502, "Error clearing RTS");
    dtrState_ = false;
    rtsState_ = false;
    {
        std::lock_guard lock(fileLock_);
        file_.reset();
    }
    if (file) {
        ReleaseExclusive(file->fd());
        // A worker still inside its turn keeps the descriptor until the turn
        // ends; it is closed there, never reused under it.
        if (file.use_count() == 1) {
            if (const int err = file->Close())
                ProcessError(103, static_cast<std::uint32_t>(err), kNoiseError,
                             "Error closing Port");
        }
    }
    comHandle_ = -1;
}

void TSerialPort::OpenPort() {
    ProcessError(110, 0, kNoiseMessage, "Msg start reactivating Port");
    const std::string path = DevicePath(commPort_);
    int fd = -1;
    if (const int err = OpenExclusive(path, fd)) {
        active_ = false;
        ProcessError(112, static_cast<std::uint32_t>(err), kNoiseError, "Error reopening Port");
        return;
    }
    {
        std::lock_guard lock(fileLock_);
        file_ = std::make_shared<PortFile>(fd);
    }
    comHandle_ = fd;
    // Queue sizes: nothing to set up on a tty (the open goes on either way).
    // The worker starts on the port only once the line is in raw mode, so it
    // never reads through the terminal defaults.
    ApplyCommSettings();
    ModemLine(true, Line::Dtr, 601, "Error setting DTR");
    ModemLine(true, Line::Rts, 501, "Error setting RTS");
    dtrState_ = true;
    rtsState_ = true;
    active_ = true;
    Wake();
}

void TSerialPort::ApplyCommSettings() {
    const auto file = CurrentFile();
    termios probe{};
    if (!file || ::tcgetattr(file->fd(), &probe) != 0) {
        ProcessError(801, static_cast<std::uint32_t>(file ? errno : EBADF), kNoiseError,
                     "Error getting DCB from CommState");
        return;
    }
    xonLim_ = static_cast<std::uint32_t>(rxQueueSize_) * xonLimDiv_ / 100;
    xoffLim_ = static_cast<std::uint32_t>(rxQueueSize_) * xoffLimDiv_ / 100;
    if (const int err = SetImmediateReads(file->fd()))
        ProcessError(802, static_cast<std::uint32_t>(err), kNoiseError,
                     "Error setting CommTimeout");
    LineSettings s;
    s.baud = baudRate_;
    s.dataBits = dataBits_;
    s.parity = parityType_;
    s.stopBits = stopBits_;
    s.flowControl = static_cast<std::uint32_t>(flowControl_.load());
    s.parityErrorReplacement = parityErrorReplacement_;
    s.xonChar = xonChar_;
    s.xoffChar = xoffChar_;
    if (const int err = SetLineSettings(file->fd(), s))
        ProcessError(802, static_cast<std::uint32_t>(err), kNoiseError,
                     "Error setting CommState, 87 indicate that Parms are incorrect");
}

void TSerialPort::ApplyAutoTimeouts() {
    static const struct {
        std::uint32_t baud;
        std::uint32_t delayUs;
    } kTable[] = {{110, 100000}, {300, 37000}, {600, 18000}, {1200, 9000}, {2400, 4500},
                  {4800, 2300},  {9600, 1100}, {14400, 760}, {19200, 570}, {38400, 290},
                  {56000, 200},  {57600, 190}, {115200, 95}, {128000, 85}, {256000, 43}};
    std::uint32_t delay = 1100;
    for (const auto& row : kTable)
        if (row.baud <= baudRate_) delay = row.delayUs;
    rtoCharDelayTime_ = delay;
    wtoCharDelayTime_ = delay;
}

// --- operations ---

void TSerialPort::SendData(const char* buffer, std::uint32_t count) {
    if (sendInProgress_.load(std::memory_order_acquire)) {
        ProcessError(901, 0, kNoiseMessage, "Msg, dont enter SendData while SendInProgress is set");
        return;
    }
    const auto file = CurrentFile();
    if (!file) {
        lastWriteError_ = EBADF;
        ProcessError(903, EBADF, kNoiseError, "Error writing Data");
        return;
    }
    writeCount_ = count;
    ssize_t w = count == 0 ? 0 : ::write(file->fd(), buffer, count);
    if (w < 0 && (errno == EAGAIN || errno == EINTR)) w = 0;
    if (w < 0) {
        lastWriteError_ = errno;
        ProcessError(903, static_cast<std::uint32_t>(errno), kNoiseError, "Error writing Data");
        return;
    }
    if (static_cast<std::uint32_t>(w) == count) {
        writtenBytes_ = count;
        Raise(Event::WriteDone);
        return;
    }
    // The rest goes out from the worker within the write time budget; the
    // caller's buffer may be gone by then, so it is copied.
    writeBuffer_ = std::make_unique<char[]>(count);
    std::memcpy(writeBuffer_.get(), buffer, count);
    writeDone_ = static_cast<std::uint32_t>(w);
    writeStartMs_ = NowMs();
    writeBudgetMs_ =
        static_cast<std::uint64_t>(count) * wtoCharDelayTime_ / 1000 + wtoExtraDelayTime_;
    writeAborted_ = false;
    sendInProgress_.store(true, std::memory_order_release);
    Wake();
}

void TSerialPort::SendString(const std::string& text) {
    if (text.empty()) return;
    SendData(text.data(), static_cast<std::uint32_t>(text.size()));
}

std::unique_ptr<char[]> TSerialPort::ReadNextCluster(std::int32_t& size, std::int32_t& errorCode) {
    std::lock_guard lock(clusterLock_);
    if (clusterList_.empty()) {
        size = -1;
        errorCode = -1;
        return nullptr;
    }
    TSerialCluster c = std::move(clusterList_.front());
    clusterList_.pop_front();
    errorCode = static_cast<std::int32_t>(c.ErrorCode);
    size = static_cast<std::int32_t>(c.Size);
    clusterSize_ = static_cast<std::uint16_t>(c.Size);
    return c.Size > 0 ? std::move(c.Data) : nullptr;
}

std::size_t TSerialPort::ClusterCount() const {
    std::lock_guard lock(clusterLock_);
    return clusterList_.size();
}

void TSerialPort::ProcessError(std::uint32_t place, std::uint32_t code, std::uint8_t noise,
                               const std::string& msg) {
    if (destroying_ || noise > errorNoise_ || !onProcessError_) return;
    const ProcessErrorEvent handler = onProcessError_;
    handler(*this, place, code, msg, noise);
}

void TSerialPort::WaitForThreadIdle(int count) {
    // Each step is at most 75 ms; it ends early once the worker is idle.
    using namespace std::chrono;
    while (count > 0 && threadBusy_) {
        const auto end = steady_clock::now() + milliseconds(75);
        while (threadBusy_ && steady_clock::now() < end)
            std::this_thread::sleep_for(milliseconds(2));
        --count;
    }
}

// --- events ---

void TSerialPort::SetOnEvent(Event which, NotifyEvent handler) {
    const bool set = static_cast<bool>(handler);
    handlers_[static_cast<std::size_t>(which)] = std::move(handler);
    if (set)
        assigned_.fetch_or(Bit(which));
    else
        assigned_.fetch_and(~Bit(which));
}

bool TSerialPort::HasHandler(Event which) const {
    return (assigned_.load() & Bit(which)) != 0;
}

void TSerialPort::Raise(Event which) {
    // A copy: the handler may replace itself while it runs.
    const NotifyEvent handler = handlers_[static_cast<std::size_t>(which)];
    if (handler) handler(*this);
}

void TSerialPort::Wake() {
    if (wakeFd_ < 0) return;
    std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t r = ::write(wakeFd_, &one, sizeof one);
}

std::shared_ptr<PortFile> TSerialPort::CurrentFile() const {
    std::lock_guard lock(fileLock_);
    return file_;
}

}  // namespace pom

#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "serial/CancellableDispatcher.h"
#include "serial/SerialCluster.h"

namespace pom {

class TWorkThread;

namespace serial {
class PortFile;
}

// The serial port component. Opens a tty, applies the line settings from its
// properties, and runs one worker thread (TWorkThread) that reads the port into
// clusters and raises the events on the main thread through the dispatcher.
// Properties, operations and events belong to the main thread. Failures never
// reach the caller: each is one report through OnProcessError, filtered by
// ErrorNoise.
class TSerialPort {
public:
    using NotifyEvent = std::function<void(TSerialPort& sender)>;
    using ProcessErrorEvent =
        std::function<void(TSerialPort& sender, std::uint32_t place, std::uint32_t code,
                           const std::string& msg, std::uint8_t noise)>;

    // Starts the worker. The dispatcher must outlive the component.
    explicit TSerialPort(CancellableDispatcher& dispatcher);
    ~TSerialPort();
    TSerialPort(const TSerialPort&) = delete;
    TSerialPort& operator=(const TSerialPort&) = delete;

    // --- configuration and control ---
    bool Active() const { return active_.load(); }
    void SetActive(bool value);
    int ComHandle() const { return comHandle_; }
    // A name holding "/" is opened as the path it is; any other under /dev/.
    const std::string& CommPort() const { return commPort_; }
    void SetCommPort(const std::string& value);
    std::uint32_t BaudRate() const { return baudRate_; }
    void SetBaudRate(std::uint32_t value);
    // 0 none, 1 odd, 2 even, 3 mark, 4 space.
    std::uint8_t ParityType() const { return parityType_; }
    void SetParityType(std::uint8_t value);
    char ParityErrorChar() const { return parityErrorChar_; }
    void SetParityErrorChar(char value);
    bool ParityErrorReplacement() const { return parityErrorReplacement_; }
    void SetParityErrorReplacement(bool value);
    // 0 one, 1 one and a half, 2 two.
    std::uint8_t StopBits() const { return stopBits_; }
    void SetStopBits(std::uint8_t value);
    std::uint8_t DataBits() const { return dataBits_; }
    void SetDataBits(std::uint8_t value);
    char XONChar() const { return xonChar_; }
    void SetXONChar(char value);
    char XOFFChar() const { return xoffChar_; }
    void SetXOFFChar(char value);
    std::uint8_t XONLimDiv() const { return xonLimDiv_; }
    void SetXONLimDiv(std::uint8_t value);
    std::uint8_t XOFFLimDiv() const { return xoffLimDiv_; }
    void SetXOFFLimDiv(std::uint8_t value);
    // Flow limits in bytes computed by the last line-settings run.
    std::uint32_t XonLim() const { return xonLim_; }
    std::uint32_t XoffLim() const { return xoffLim_; }
    // Device-control flag bits (see serial/SerialPlaces.h); 0 = none.
    std::int32_t FlowControl() const { return flowControl_.load(); }
    void SetFlowControl(std::int32_t value);
    bool StripNullChars() const { return stripNullChars_.load(); }
    void SetStripNullChars(bool value);
    char EventChar() const { return eventChar_.load(); }
    void SetEventChar(char value);
    std::uint32_t RTOCharDelayTime() const { return rtoCharDelayTime_.load(); }
    void SetRTOCharDelayTime(std::uint32_t value) { rtoCharDelayTime_ = value; }
    std::uint16_t RTOExtraDelayTime() const { return rtoExtraDelayTime_.load(); }
    void SetRTOExtraDelayTime(std::uint16_t value) { rtoExtraDelayTime_ = value; }
    std::uint32_t WTOCharDelayTime() const { return wtoCharDelayTime_; }
    void SetWTOCharDelayTime(std::uint32_t value);
    std::uint16_t WTOExtraDelayTime() const { return wtoExtraDelayTime_; }
    void SetWTOExtraDelayTime(std::uint16_t value);
    bool XTOAuto() const { return xtoAuto_; }
    void SetXTOAuto(bool value);
    std::uint16_t ClusterSize() const { return clusterSize_.load(); }
    void SetClusterSize(std::uint16_t value) { clusterSize_ = value; }
    std::uint16_t RxQueueSize() const { return rxQueueSize_; }
    void SetRxQueueSize(std::uint16_t value);
    std::uint16_t TxQueueSize() const { return txQueueSize_; }
    void SetTxQueueSize(std::uint16_t value);
    bool RTSState() const { return rtsState_; }
    void SetRTSState(bool value);
    bool DTRState() const { return dtrState_; }
    void SetDTRState(bool value);
    bool BREAKState() const { return breakState_; }
    void SetBREAKState(bool value);
    bool CTSState() const { return ctsState_.load(); }
    bool DSRState() const { return dsrState_.load(); }
    bool RLSDState() const { return rlsdState_.load(); }
    bool RingState() const { return ringState_.load(); }
    std::uint8_t ErrorNoise() const { return errorNoise_; }
    void SetErrorNoise(std::uint8_t value) { errorNoise_ = value; }
    bool ReadRequest() const { return readRequest_.load(); }
    void SetReadRequest(bool value);
    bool SendInProgress() const { return sendInProgress_.load(); }
    std::uint32_t CommError() const { return commError_.load(); }
    std::uint8_t CommStateFlags() const { return commStateFlags_.load(); }
    std::uint32_t CommStateInQueue() const { return commStateInQueue_.load(); }
    std::uint32_t CommStateOutQueue() const { return commStateOutQueue_.load(); }
    std::uint32_t ModemState() const { return modemState_.load(); }
    std::uint32_t CommEvent() const { return commEvent_.load(); }
    std::uint32_t WrittenBytes() const { return writtenBytes_.load(); }
    bool ThreadQuietMode() const { return threadQuietMode_.load(); }
    void SetThreadQuietMode(bool value) { threadQuietMode_ = value; }

    // --- operations ---
    // Starts one write; there is no write queue: a call while SendInProgress
    // is dropped (Place 901). The bytes are copied.
    void SendData(const char* buffer, std::uint32_t count);
    // SendData of the string's bytes; nothing for an empty string. No line end added.
    void SendString(const std::string& text);
    // Takes the oldest cluster. Returns its bytes (owned by the caller; none for
    // an empty cluster), or nothing with size and errorCode -1 when none waits.
    // ClusterSize becomes the size taken.
    std::unique_ptr<char[]> ReadNextCluster(std::int32_t& size, std::int32_t& errorCode);
    // Delivers one report to OnProcessError unless destroying, noise > ErrorNoise
    // or no handler is set.
    void ProcessError(std::uint32_t place, std::uint32_t code, std::uint8_t noise,
                      const std::string& msg);
    // While count > 0 and the worker is busy with an open port: wait 75 ms, count - 1.
    void WaitForThreadIdle(int count);
    // Clusters waiting in the list.
    std::size_t ClusterCount() const;

    // --- events (set on the main thread; raised there) ---
    enum class Event {
        RxCluster,
        WriteDone,
        Comm,
        CommStat,
        TxQueueEmpty,
        Break,
        Cts,
        Dsr,
        LineError,
        Ring,
        RI,
        Rlsd,
        RxChar,
        RxEventChar,
        kCount
    };
    void SetOnEvent(Event which, NotifyEvent handler);
    void SetOnRxClusterEvent(NotifyEvent h) { SetOnEvent(Event::RxCluster, std::move(h)); }
    void SetOnWriteDone(NotifyEvent h) { SetOnEvent(Event::WriteDone, std::move(h)); }
    void SetOnCommEvent(NotifyEvent h) { SetOnEvent(Event::Comm, std::move(h)); }
    void SetOnCommStat(NotifyEvent h) { SetOnEvent(Event::CommStat, std::move(h)); }
    void SetOnTxQueueEmptyEvent(NotifyEvent h) { SetOnEvent(Event::TxQueueEmpty, std::move(h)); }
    void SetOnBreakEvent(NotifyEvent h) { SetOnEvent(Event::Break, std::move(h)); }
    void SetOnCTSEvent(NotifyEvent h) { SetOnEvent(Event::Cts, std::move(h)); }
    void SetOnDSREvent(NotifyEvent h) { SetOnEvent(Event::Dsr, std::move(h)); }
    void SetOnLineErrorEvent(NotifyEvent h) { SetOnEvent(Event::LineError, std::move(h)); }
    void SetOnRingEvent(NotifyEvent h) { SetOnEvent(Event::Ring, std::move(h)); }
    void SetOnRIEvent(NotifyEvent h) { SetOnEvent(Event::RI, std::move(h)); }
    void SetOnRLSDEvent(NotifyEvent h) { SetOnEvent(Event::Rlsd, std::move(h)); }
    void SetOnRxCharEvent(NotifyEvent h) { SetOnEvent(Event::RxChar, std::move(h)); }
    void SetOnRxEventCharEvent(NotifyEvent h) { SetOnEvent(Event::RxEventChar, std::move(h)); }
    void SetOnProcessError(ProcessErrorEvent handler) {
        errorHandlerSet_ = static_cast<bool>(handler);
        onProcessError_ = std::move(handler);
    }

private:
    friend class TWorkThread;

    void ReopenPort(bool wanted);
    void ClosePort();
    void OpenPort();
    void ApplyCommSettings();
    void ApplyAutoTimeouts();
    void ApplyIfActive();
    void SetQueueSize(std::uint16_t& field, std::uint16_t value, std::uint32_t place);
    void SetLimDiv(std::uint8_t& field, std::uint8_t value, const char* warning);
    enum class Line { Rts, Dtr };
    bool ModemLine(bool set, Line line, std::uint32_t place, const char* msg);
    void Wake();
    std::shared_ptr<serial::PortFile> CurrentFile() const;

    // Event plumbing used by the worker (main thread side).
    bool HasHandler(Event which) const;
    void Raise(Event which);

    CancellableDispatcher& dispatcher_;

    // Configuration (main thread) and what the worker reads of it (atomic).
    std::atomic<bool> active_{false};
    int comHandle_ = -1;
    std::string commPort_ = "ttyACM0";  // an Arduino's USB port, where Windows had COM1
    std::uint32_t baudRate_ = 9600;
    std::uint8_t parityType_ = 0;
    char parityErrorChar_ = 0;
    bool parityErrorReplacement_ = false;
    std::uint8_t stopBits_ = 0;
    std::uint8_t dataBits_ = 8;
    char xonChar_ = 17;
    char xoffChar_ = 19;
    std::uint8_t xonLimDiv_ = 33;
    std::uint8_t xoffLimDiv_ = 33;
    std::uint32_t xonLim_ = 0;
    std::uint32_t xoffLim_ = 0;
    std::atomic<std::int32_t> flowControl_{0};
    std::atomic<bool> stripNullChars_{false};
    std::atomic<char> eventChar_{0};
    std::atomic<std::uint32_t> rtoCharDelayTime_{1100};
    std::atomic<std::uint16_t> rtoExtraDelayTime_{250};
    std::uint32_t wtoCharDelayTime_ = 1100;
    std::uint16_t wtoExtraDelayTime_ = 250;
    bool xtoAuto_ = true;
    std::atomic<std::uint16_t> clusterSize_{3072};
    std::uint16_t rxQueueSize_ = 4096;
    std::uint16_t txQueueSize_ = 4096;
    bool rtsState_ = true;
    bool dtrState_ = true;
    bool breakState_ = false;
    std::uint8_t errorNoise_ = 255;
    std::atomic<bool> readRequest_{false};
    std::atomic<bool> threadQuietMode_{false};

    // Status written by the worker.
    std::atomic<bool> ctsState_{false};
    std::atomic<bool> dsrState_{false};
    std::atomic<bool> rlsdState_{false};
    std::atomic<bool> ringState_{false};
    std::atomic<std::uint32_t> commError_{0};
    std::atomic<std::uint8_t> commStateFlags_{0};
    std::atomic<std::uint32_t> commStateInQueue_{0};
    std::atomic<std::uint32_t> commStateOutQueue_{0};
    std::atomic<std::uint32_t> modemState_{0};
    std::atomic<std::uint32_t> commEvent_{0};
    std::atomic<std::uint32_t> writtenBytes_{0};

    // The write in progress: filled by SendData before SendInProgress is set,
    // then owned by the worker until it clears SendInProgress.
    std::atomic<bool> sendInProgress_{false};
    std::atomic<bool> writeAborted_{false};
    std::unique_ptr<char[]> writeBuffer_;
    std::uint32_t writeCount_ = 0;
    std::uint32_t writeDone_ = 0;
    std::uint64_t writeStartMs_ = 0;
    std::uint64_t writeBudgetMs_ = 0;
    int lastWriteError_ = 0;

    // The open device. The worker holds its own reference for a turn, so the
    // descriptor is never closed (and its number reused) under the worker.
    mutable std::mutex fileLock_;
    std::shared_ptr<serial::PortFile> file_;

    // Received clusters, oldest first.
    mutable std::mutex clusterLock_;
    std::deque<TSerialCluster> clusterList_;

    std::array<NotifyEvent, static_cast<std::size_t>(Event::kCount)> handlers_;
    std::atomic<std::uint32_t> assigned_{0};
    ProcessErrorEvent onProcessError_;
    std::atomic<bool> errorHandlerSet_{false};  // read by the worker

    std::atomic<bool> threadBusy_{false};
    std::atomic<bool> destroying_{false};
    int wakeFd_ = -1;  // eventfd that cuts the worker's wait short
    std::unique_ptr<TWorkThread> worker_;
};

}  // namespace pom

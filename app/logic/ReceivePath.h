#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pom {

// The handlers of the measurement messages ("O:", "I: ", "A:" / "R:" lines).
// The receive path only decides which line goes where.
class MeasurementHandlers {
public:
    virtual ~MeasurementHandlers() = default;
    // An "O:" line; returns the new count of readings waiting in the station.
    virtual int BarometerMessage(const std::string& line) = 0;
    // An "I: " line; sets the value count and the measuring interval.
    virtual void SensorInformation(const std::string& line) = 0;
    // An "A:" or "R:" line while the value count is known; returns the count
    // of readings waiting in the station (the number after "W4r").
    virtual int Reading(const std::string& line) = 0;
};

// Everything the receive path needs from the main window and the port.
class ReceiveHost : public MeasurementHandlers {
public:
    // "yyyy-mm-dd hh:mm:ss " of the PC's current local time.
    virtual std::string Stamp() = 0;
    // One line into the data log; never holds CR or LF.
    virtual void AppendLog(std::string line) = 0;
    // Writes the bytes as they are, asynchronously; an empty text sends nothing.
    virtual void SendString(const std::string& text) = 0;
    // Takes the oldest received chunk out of the port: its bytes, their count
    // and the chunk's line error code (0 = clean). With nothing queued: no
    // bytes, count -1 and error -1.
    virtual void ReadNextCluster(std::string& bytes, int& count, int& error) = 0;
    // "\Ardu" until a station is attached, then "\ardu\" + kind.
    virtual std::string StationFolder() const = 0;
    // Values per reading; below 0 while unknown.
    virtual int ValueCount() const = 0;
    virtual void AttachStation(const std::string& kind) = 0;
    virtual void SetBarometerPanelVisible(bool visible) = 0;
    // k is 1 to 4 (cbKanal1 .. cbKanal4).
    virtual void SetChannelCaption(int k, const std::string& caption) = 0;
    // Interval of the catch-up timer TimerCzytajZalegle, in ms: its next tick
    // comes that long from now, and so on (0 stops its ticks).
    virtual void SetCatchUpInterval(int ms) = 0;
    // A steady clock in milliseconds; the catch-up requests are timed by it.
    virtual std::int64_t SteadyMs() const;
    // False while readings released by the station could not be kept (the
    // upload queue cannot be written to its file): no "R" is sent then, so
    // the station keeps them in its own buffer. The catch-up timer goes on
    // ticking, so the read-out resumes by itself once this is true again.
    virtual bool MayReleaseReadings() const { return true; }
    // Puts the "." decimal separator back if something changed it; true when
    // it had to. Our conversions never depend on the locale, so by default
    // there is nothing to restore.
    virtual bool RestoreDecimalSeparator() { return false; }
    // A greeting of another kind than the attached one after the port was
    // opened again: the station there is another one.
    virtual void ReattachStation(const std::string& kind) { AttachStation(kind); }
};

// The station's values mirrored on the PC, set by its replies.
struct StationValues {
    int measureInterval = 10;  // seconds
    int stationAvgCount = 5;
    double calibrationCoef = 1.0;
    double altitude = 295.0;        // metres
    double meanTemperature = 18.0;  // degrees C
};

// When the catch-up requests "R" go out. The host's timer ticks at the
// interval this asks for; every event brings the steady time it happened at,
// so the rule runs on a fake clock in tests.
class CatchUpRule {
public:
    // The timer's interval at program start.
    static constexpr int kStartMs = 21000;
    // An "A:" line brings the next "R" at least this close (or half the
    // measuring interval, when that is shorter); it never puts one further
    // away.
    static constexpr int kAnnouncementMs = 5000;
    // From this many waiting readings on, the read-out hurries ...
    static constexpr int kBacklog = 2;
    // ... asking once a second (or faster for a faster station).
    static constexpr int kBacklogMs = 1000;

    // The pause after an "R" sent while `pending` readings wait in a station
    // that measures every `measureInterval` seconds (below 1 taken as 1): at
    // most half the measuring interval, so the read-out outpaces the station
    // whatever its interval, down to no reading waiting.
    static int IntervalAfterRequest(int pending, int measureInterval);

    // The timer ticked at `now`; its next tick is one interval away.
    void Ticked(std::int64_t now) { due_ = now + interval_; }
    // After a tick that sent "R": the interval to set, or 0 when the timer
    // keeps the one it has.
    int AfterRequest(std::int64_t now, int pending, int measureInterval);
    // An "A:" line at `now`: the interval to restart the timer with, or 0
    // when its next tick is already close enough.
    int Announced(std::int64_t now, int measureInterval);

    int Interval() const { return interval_; }

private:
    int Restart(std::int64_t now, int ms);

    int interval_ = kStartMs;
    // When the timer ticks next; unknown until the first event.
    std::optional<std::int64_t> due_;
};

// Cuts the received chunks into lines, logs every line with a stamp and hands
// it to the greeting check, the reply parsers and the measurement handlers.
// Also the sending side that depends on what arrives: the identification
// request, the catch-up requests and the echo of completed writes.
// Main thread only.
class ReceivePath {
public:
    // A run of bytes without LF longer than this is taken as a line of its own.
    static constexpr std::size_t kMaxLine = 65536;
    // Receive events skipped while busy before the busy flag is given up.
    static constexpr int kMaxSkipped = 100;

    explicit ReceivePath(ReceiveHost& host);
    ReceivePath(const ReceivePath&) = delete;
    ReceivePath& operator=(const ReceivePath&) = delete;

    // The port's receive event (one per queued chunk). Never throws.
    void SerialPort1RxClusterEvent();
    // The port's write-done event: echoes lastCommand into the log.
    void SerialPort1WriteDone();
    // Tick of TimerCzytajZalegle: asks for a stored reading while any wait.
    void TimerCzytajZalegleTimer();

    // Cuts bytes into lines at LF; CR is dropped wherever it stands.
    void ProcessChunk(const char* bytes, int count);
    void ProcessLine(std::string line);
    // True when a station is attached or the line is its greeting (which
    // attaches it).
    bool CheckBanner(const std::string& line);
    // After the port has been opened again the station on it may be another
    // one: its next greeting is looked at although a station is attached.
    void ExpectGreeting() { greetingExpected_ = true; }
    bool GreetingExpected() const { return greetingExpected_; }
    // Hands the line to its measurement handler; returns the count of
    // readings waiting in the station (0 for any line that does not say).
    int DispatchMeasurement(const std::string& line);

    // The reply parsers: true when the line was that reply.
    bool ParseLabels(const std::string& line);
    bool ParseCalibration(const std::string& line);
    bool ParseAltitude(const std::string& line);
    bool ParseTemperature(const std::string& line);
    bool ParseInterval(const std::string& line);
    bool ParseAvgCount(const std::string& line);

    // Stores a command (cut to 255 characters) as lastCommand and sends it
    // followed by CR LF.
    void SendCommand(std::string_view command);
    // Stores lastCommand without sending (cut to 255 characters).
    void SetLastCommand(std::string_view command);
    const std::string& LastCommand() const { return lastCommand_; }

    StationValues& Values() { return values_; }
    const StationValues& Values() const { return values_; }
    const CatchUpRule& CatchUp() const { return catchUp_; }
    int PendingRecords() const { return pendingRecords_; }
    void SetPendingRecords(int n) { pendingRecords_ = n; }
    const std::string& StationKind() const { return stationKind_; }
    bool RxBusy() const { return rxBusy_; }
    int RxSkipped() const { return rxSkipped_; }
    const std::string& RxLine() const { return rxLine_; }

private:
    void Log(std::string_view text);
    void LogText(std::string_view text);
    void HandleOneCluster();
    void LogFailure(const char* what) noexcept;
    void FeedBytes(const char* bytes, std::size_t count);

    ReceiveHost& host_;
    StationValues values_;
    std::string rxLine_;
    // Bytes of a chunk left behind when a handler failed in its middle; they
    // go before the next chunk so that no reading is lost.
    std::string rxLeft_;
    bool rxBusy_ = false;
    int rxSkipped_ = 0;
    // Chunks left queued in the port by skipped events.
    int rxOwed_ = 0;
    int pendingRecords_ = 0;
    std::string lastCommand_;
    std::string stationKind_;
    bool greetingExpected_ = false;
    CatchUpRule catchUp_;
};

}  // namespace pom

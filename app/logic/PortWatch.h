#pragma once

#include <cstdint>
#include <string>

#include "util/Clock.h"

namespace pom {

// What the port watch needs from the window and the port.
class PortWatchHost {
public:
    virtual ~PortWatchHost() = default;
    // "yyyy-mm-dd hh:mm:ss " of the PC's current local time.
    virtual std::string Stamp() = 0;
    // One line into the data log and one into logiWeb (Windows-1250).
    virtual void AppendLog(std::string line) = 0;
    virtual void AppendWeb(const std::string& cp1250) = 0;
    // The port's name as shown (Windows-1250) and its baud rate.
    virtual std::string PortText() const = 0;
    virtual std::uint32_t Baud() const = 0;
    // RUN (cbAktywny) ticked: the user wants the port open.
    virtual bool RunWanted() const = 0;
    virtual bool PortActive() const = 0;
    // The device file the port's name leads to now, links followed; empty
    // when there is none (unplugged, by-id link gone).
    virtual std::string DeviceId() const = 0;
    // Opens the port with the current settings: 0 when it is open, else the
    // system error code of the failure (-1 when unknown).
    virtual int OpenPort() = 0;
    virtual void ClosePort() = 0;
};

// Keeps the port open while RUN is ticked: notices when the open device
// fails for good (its worker's errors, a vanished or replaced device node),
// closes it, logs the disconnection and retries the opening every
// kRetrySeconds until the device is back. Also makes the connection's status
// text. Main thread only.
class PortWatch {
public:
    static constexpr int kRetrySeconds = 5;
    // Seconds from creation to the start-up timer's opening.
    static constexpr int kStartDelaySeconds = 5;

    enum class State {
        Starting,  // before the start-up timer's opening
        Open,
        Retrying,  // the port is wanted but not open
        Closed,    // closed by the user (RUN unticked)
    };

    struct Status {
        std::string text;  // Windows-1250
        bool warning = false;
    };

    PortWatch(PortWatchHost& host, const Clock& clock);
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    // The result of an opening the program or the user asked for (start-up
    // timer, RUN ticked, a port or baud rate picked); `error` as OpenPort's.
    void Opened(bool ok, int error);
    // A failure report of the port's worker (place, system error code).
    // True when it means the device is lost; an open port is then closed and
    // retried.
    bool Report(std::uint32_t place, int code);
    // Every kRetrySeconds: a port wanted but not open is opened again once
    // its device is there.
    void RetryTick();
    // Every second: follows RUN and the port's state, and notices a device
    // node that has gone or now leads elsewhere.
    void Check();
    // A chunk of the station's bytes has been received.
    void LineReceived();

    // The connection for the status bar; `measureInterval` in seconds: three
    // intervals without a line make a warning.
    Status StatusLine(int measureInterval) const;

    State state() const { return state_; }
    const std::string& Reason() const { return reason_; }
    const LocalDateTime& Since() const { return since_; }

    // Whether a worker report (place, code) means the device is gone: an
    // I/O error on the open descriptor, not an ioctl a tty merely refuses.
    static bool IsLoss(std::uint32_t place, int code);
    // "12 s", "5 min", "3 h".
    static std::string Age(long long seconds);

private:
    void Lost(const std::string& reason);
    void Retrying(const std::string& reason);
    long long SecondsSince(const LocalDateTime& t) const;

    PortWatchHost& host_;
    const Clock& clock_;
    State state_ = State::Starting;
    LocalDateTime created_;
    LocalDateTime since_;  // of the current state
    std::string reason_;   // why it is retrying (Windows-1250)
    std::string openedDevice_;
    bool lineSinceOpen_ = false;
    LocalDateTime lastLine_;
};

}  // namespace pom

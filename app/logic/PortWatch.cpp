#include "app/logic/PortWatch.h"

#include <cerrno>
#include <cstdio>

#include "util/Cp1250.h"
#include "util/SystemError.h"

namespace pom {

namespace {

// The worker's own report places start at 9000; lower ones come from the
// component's calls on the main thread (opening, line settings, modem lines).
constexpr std::uint32_t kFirstWorkerPlace = 9000;

std::string Clock24(const LocalDateTime& t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour % 100, t.minute % 100, t.second % 100);
    return buf;
}

std::string OpenFailure(int error) {
    return error > 0 ? SystemErrorText(error) : Cp("nie otwiera się");
}

}  // namespace

PortWatch::PortWatch(PortWatchHost& host, const Clock& clock)
    : host_(host), clock_(clock), created_(clock.now()), since_(created_) {}

bool PortWatch::IsLoss(std::uint32_t place, int code) {
    if (place < kFirstWorkerPlace) return false;
    // A pulled USB adapter or a closed pseudo-terminal answers every call
    // with these; a tty that only lacks a feature says ENOTTY or EINVAL.
    return code == EIO || code == ENXIO || code == ENODEV || code == EBADF || code == ENOENT;
}

std::string PortWatch::Age(long long seconds) {
    if (seconds < 0) seconds = 0;
    if (seconds < 120) return std::to_string(seconds) + " s";
    if (seconds < 120 * 60) return std::to_string(seconds / 60) + " min";
    return std::to_string(seconds / 3600) + " h";
}

long long PortWatch::SecondsSince(const LocalDateTime& t) const {
    return static_cast<long long>(ToCalendarSeconds(clock_.now()) - ToCalendarSeconds(t));
}

void PortWatch::Opened(bool ok, int error) {
    if (ok) {
        state_ = State::Open;
        since_ = clock_.now();
        reason_.clear();
        openedDevice_ = host_.DeviceId();
        lineSinceOpen_ = false;
        return;
    }
    if (host_.RunWanted())
        Retrying(OpenFailure(error));
    else {
        state_ = State::Closed;
        since_ = clock_.now();
    }
}

void PortWatch::Retrying(const std::string& reason) {
    state_ = State::Retrying;
    since_ = clock_.now();
    reason_ = reason;
}

void PortWatch::Lost(const std::string& reason) {
    host_.ClosePort();
    const std::string line =
        host_.Stamp() + Cp("stacja odłączona: ") + host_.PortText() + " (" + reason + ")";
    host_.AppendLog(line);
    host_.AppendWeb(line);
    if (host_.RunWanted()) {
        Retrying(reason);
    } else {
        state_ = State::Closed;
        since_ = clock_.now();
    }
}

bool PortWatch::Report(std::uint32_t place, int code) {
    if (!IsLoss(place, code)) return false;
    if (state_ != State::Open) return true;
    Lost(SystemErrorText(code));
    return true;
}

void PortWatch::RetryTick() {
    if (state_ != State::Retrying) return;
    if (!host_.RunWanted()) {
        state_ = State::Closed;
        since_ = clock_.now();
        return;
    }
    std::string why;
    if (host_.DeviceId().empty()) {
        why = Cp("brak urządzenia");
    } else {
        const int error = host_.OpenPort();
        if (error == 0 && host_.PortActive()) {
            state_ = State::Open;
            since_ = clock_.now();
            reason_.clear();
            openedDevice_ = host_.DeviceId();
            lineSinceOpen_ = false;
            const std::string line = host_.Stamp() + Cp("stacja podłączona: ") + host_.PortText() +
                                     ": " + std::to_string(host_.Baud());
            host_.AppendLog(line);
            host_.AppendWeb(line);
            return;
        }
        why = OpenFailure(error);
    }
    // Each new reason once, so weeks of retries do not fill the memo.
    if (why != reason_) {
        host_.AppendWeb(host_.Stamp() + Cp("ponowne otwarcie nieudane: ") + host_.PortText() +
                        " (" + why + ")");
        reason_ = why;
    }
}

void PortWatch::Check() {
    switch (state_) {
        case State::Starting:
            return;
        case State::Open:
            if (!host_.PortActive()) {
                // Closed by a handler (RUN unticked, a failed baud change).
                if (host_.RunWanted())
                    Retrying(Cp("port zamknięty"));
                else {
                    state_ = State::Closed;
                    since_ = clock_.now();
                }
                return;
            }
            {
                const std::string device = host_.DeviceId();
                if (device.empty())
                    Lost(Cp("urządzenie zniknęło"));
                else if (!openedDevice_.empty() && device != openedDevice_)
                    Lost(Cp("nazwa prowadzi do innego urządzenia"));
            }
            return;
        case State::Retrying:
            if (!host_.RunWanted()) {
                state_ = State::Closed;
                since_ = clock_.now();
            }
            return;
        case State::Closed:
            // RUN ticked again: its handler's opening reports through Opened.
            return;
    }
}

void PortWatch::LineReceived() {
    lineSinceOpen_ = true;
    lastLine_ = clock_.now();
}

PortWatch::Status PortWatch::StatusLine(int measureInterval) const {
    const std::string port = host_.PortText() + ": ";
    Status s;
    switch (state_) {
        case State::Starting: {
            const long long left = kStartDelaySeconds - SecondsSince(created_);
            s.text = port + Cp("port otwierany za ") + std::to_string(left > 0 ? left : 0) + " s";
            return s;
        }
        case State::Open: {
            const long long quiet = lineSinceOpen_ ? SecondsSince(lastLine_) : SecondsSince(since_);
            s.text = port + Cp("otwarty, ") +
                     (lineSinceOpen_ ? Cp("ostatnia linia ") + Age(quiet) + " temu"
                                     : Cp("czekam na pierwszą linię stacji"));
            s.warning = quiet > 3LL * (measureInterval > 0 ? measureInterval : 10);
            return s;
        }
        case State::Retrying:
            s.text = port + Cp("ponawiam otwarcie od ") + Clock24(since_) + " (" + reason_ + ")";
            s.warning = true;
            return s;
        case State::Closed:
            s.text = port + Cp("zamknięty przez użytkownika (RUN)");
            return s;
    }
    return s;
}

}  // namespace pom

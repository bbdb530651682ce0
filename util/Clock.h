#pragma once

#include <compare>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pom {

// A broken-down local date and time, as the station and the log files use it.
struct LocalDateTime {
    int year = 2000;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int msec = 0;

    auto operator<=>(const LocalDateTime&) const = default;
};

// Where the program takes "now" from; tests put a fake in its place.
class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalDateTime now() const = 0;
};

class SystemClock final : public Clock {
public:
    LocalDateTime now() const override;
};

// The system's time run `scale` times faster from the moment the clock is
// made: a soak run lives through months in an hour, every rule on the same
// clock. `elapsedMs` gives the real milliseconds since then (a fake in tests).
class ScaledClock final : public Clock {
public:
    using Elapsed = std::function<std::int64_t()>;
    explicit ScaledClock(double scale, Elapsed elapsedMs = {},
                         std::int64_t startMs = SystemMilliseconds());
    LocalDateTime now() const override;
    // Milliseconds since the epoch by the system's clock.
    static std::int64_t SystemMilliseconds();

private:
    double scale_;
    Elapsed elapsedMs_;
    std::int64_t startMs_;
};

// The process-wide clock used where nothing else was injected.
const Clock& DefaultClock();

// "yyyy-mm-dd hh:mm:ss " (20 characters, trailing blank).
std::string FormatStamp(const LocalDateTime& t);

// The fields as a broken-down time (tm_isdst 0; the caller sets it).
std::tm ToTm(const LocalDateTime& t);

// Seconds since the epoch, treating the fields as UTC (a calendar count, no zone).
std::time_t ToCalendarSeconds(const LocalDateTime& t);
LocalDateTime FromCalendarSeconds(std::time_t s);

// The same date and time moved by a number of seconds (month and year roll over).
LocalDateTime AddSeconds(const LocalDateTime& t, long long seconds);

// A date and time as the station and the log write them: year-month-day with
// "-", then optionally blanks and hours:minutes[:seconds]; blanks allowed
// around. Fields may have fewer digits ("2023-5-1 9:05"); a field out of its
// range (month 13, 31 April, hour 24) makes it no date.
std::optional<LocalDateTime> ParseDateTime(std::string_view text);

}  // namespace pom

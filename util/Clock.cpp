#include "util/Clock.h"

#include <chrono>
#include <cstdio>
#include <utility>

namespace pom {
namespace {

LocalDateTime FromTm(const std::tm& tm) {
    LocalDateTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    return t;
}

}  // namespace

LocalDateTime SystemClock::now() const {
    using namespace std::chrono;
    const auto tp = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(tp);
    std::tm tm{};
    localtime_r(&secs, &tm);
    LocalDateTime t = FromTm(tm);
    t.msec = static_cast<int>(duration_cast<milliseconds>(tp.time_since_epoch()).count() % 1000);
    return t;
}

ScaledClock::ScaledClock(double scale, Elapsed elapsedMs, std::int64_t startMs)
    : scale_(scale), elapsedMs_(std::move(elapsedMs)), startMs_(startMs) {
    if (!elapsedMs_) {
        const auto t0 = std::chrono::steady_clock::now();
        elapsedMs_ = [t0] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - t0)
                .count();
        };
    }
}

std::int64_t ScaledClock::SystemMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

LocalDateTime ScaledClock::now() const {
    const auto ms =
        startMs_ + static_cast<std::int64_t>(static_cast<double>(elapsedMs_()) * scale_);
    const std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    localtime_r(&secs, &tm);
    LocalDateTime t = FromTm(tm);
    t.msec = static_cast<int>(ms % 1000);
    return t;
}

const Clock& DefaultClock() {
    static const SystemClock clock;
    return clock;
}

std::string FormatStamp(const LocalDateTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d ", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

std::tm ToTm(const LocalDateTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    return tm;
}

std::time_t ToCalendarSeconds(const LocalDateTime& t) {
    std::tm tm = ToTm(t);
    return timegm(&tm);
}

LocalDateTime FromCalendarSeconds(std::time_t s) {
    std::tm tm{};
    gmtime_r(&s, &tm);
    return FromTm(tm);
}

LocalDateTime AddSeconds(const LocalDateTime& t, long long seconds) {
    LocalDateTime r = FromCalendarSeconds(ToCalendarSeconds(t) + static_cast<std::time_t>(seconds));
    r.msec = t.msec;
    return r;
}

namespace {

// Reads 1 to `maxDigits` digits at `i`; false when there are none.
bool ReadField(std::string_view s, std::size_t& i, int maxDigits, int& out) {
    int n = 0, v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && n < maxDigits) {
        v = v * 10 + (s[i] - '0');
        ++i;
        ++n;
    }
    out = v;
    return n > 0;
}

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

std::optional<LocalDateTime> ParseDateTime(std::string_view s) {
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < s.size() && s[i] == ' ') ++i;
    };
    const auto expect = [&](char c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    };
    LocalDateTime t;
    skipBlanks();
    if (!ReadField(s, i, 4, t.year) || !expect('-') || !ReadField(s, i, 2, t.month) ||
        !expect('-') || !ReadField(s, i, 2, t.day))
        return std::nullopt;
    if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > DaysInMonth(t.year, t.month))
        return std::nullopt;
    skipBlanks();
    if (i < s.size()) {
        if (!ReadField(s, i, 2, t.hour) || !expect(':') || !ReadField(s, i, 2, t.minute))
            return std::nullopt;
        if (expect(':') && !ReadField(s, i, 2, t.second)) return std::nullopt;
        if (t.hour > 23 || t.minute > 59 || t.second > 59) return std::nullopt;
        skipBlanks();
    }
    if (i != s.size()) return std::nullopt;
    return t;
}

}  // namespace pom

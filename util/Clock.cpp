#include "util/Clock.h"

#include <chrono>
#include <cstdio>

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

std::time_t ToCalendarSeconds(const LocalDateTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
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

}  // namespace pom

#include "plot/logic/PlotFormat.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "plot/logic/PlotModel.h"

namespace pom {

namespace {

std::string TwoDigits(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

// "-0" is no number to show on an axis.
std::string DropNegativeZero(std::string s) {
    if (s.size() > 1 && s[0] == '-' && s.find_first_not_of("0.", 1) == std::string::npos)
        s.erase(0, 1);
    return s;
}

std::string TrimDecimals(std::string s) {
    const auto dot = s.find('.');
    if (dot == std::string::npos) return s;
    auto end = s.find_last_not_of('0');
    if (end == dot) --end;
    s.erase(end + 1);
    return s;
}

}  // namespace

bool IsDateTimeInRange(double days) {
    // 0001-01-01 .. 9999-12-31 23:59:59.999
    return days >= -693593.0 && days < 2958466.0;
}

std::string FormatDateTime(std::string_view pattern, double days) {
    if (!IsDateTimeInRange(days)) return {};
    const LocalDateTime t = FromDayNumber(days);
    std::string out;
    bool lastWasHour = false;
    std::size_t i = 0;
    auto run = [&](char c) {
        std::size_t n = 0;
        while (i + n < pattern.size() &&
               std::tolower(static_cast<unsigned char>(pattern[i + n])) == c)
            ++n;
        return n;
    };
    while (i < pattern.size()) {
        const char raw = pattern[i];
        if (raw == '"' || raw == '\'') {
            const auto close = pattern.find(raw, i + 1);
            const auto end = close == std::string_view::npos ? pattern.size() : close;
            out.append(pattern.substr(i + 1, end - i - 1));
            i = end == pattern.size() ? end : end + 1;
            continue;
        }
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(raw)));
        const std::size_t n = run(c);
        switch (c) {
            case 'h':
                out += n >= 2 ? TwoDigits(t.hour) : std::to_string(t.hour);
                i += n >= 2 ? 2 : 1;
                lastWasHour = true;
                continue;
            case 'n':
                out += n >= 2 ? TwoDigits(t.minute) : std::to_string(t.minute);
                i += n >= 2 ? 2 : 1;
                break;
            case 's':
                out += n >= 2 ? TwoDigits(t.second) : std::to_string(t.second);
                i += n >= 2 ? 2 : 1;
                break;
            case 'm': {
                const int v = lastWasHour ? t.minute : t.month;
                out += n >= 2 ? TwoDigits(v) : std::to_string(v);
                i += n >= 2 ? 2 : 1;
                break;
            }
            case 'd':
                out += n >= 2 ? TwoDigits(t.day) : std::to_string(t.day);
                i += n >= 2 ? 2 : 1;
                break;
            case 'y': {
                char buf[16];
                if (n >= 3) {
                    std::snprintf(buf, sizeof buf, "%04d", t.year);
                } else {
                    std::snprintf(buf, sizeof buf, "%02d", t.year % 100);
                }
                out += buf;
                i += n >= 3 ? (n >= 4 ? 4 : 3) : n;
                break;
            }
            case 'z':
                if (n >= 3) {
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "%03d", t.msec);
                    out += buf;
                    i += 3;
                } else {
                    out += std::to_string(t.msec);
                    i += 1;
                }
                break;
            default:
                out += raw;
                ++i;
                // Separators keep an hour field's claim on the "mm" after it.
                continue;
        }
        lastWasHour = false;
    }
    return out;
}

std::string FormatFixed2(double v) {
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return DropNegativeZero(TrimDecimals(buf));
}

std::string FormatExp2(double v, int expDigits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2e", v);
    std::string s = buf;
    const auto e = s.find('e');
    std::string mant = TrimDecimals(s.substr(0, e));
    int exp = std::atoi(s.c_str() + e + 1);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%0*d", expDigits, std::abs(exp));
    return mant + "e" + (exp < 0 ? "-" : "") + digits;
}

}  // namespace pom

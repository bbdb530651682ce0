#include "util/DateMask.h"

#include <cstdio>
#include <ctime>

#include "util/Cp1250.h"

namespace pom {

namespace {

const char* const kMonthShort[12] = {"sty", "lut", "mar", "kwi", "maj", "cze",
                                     "lip", "sie", "wrz", "paź", "lis", "gru"};
const char* const kMonthLong[12] = {"styczeń",  "luty",        "marzec",   "kwiecień",
                                    "maj",      "czerwiec",    "lipiec",   "sierpień",
                                    "wrzesień", "październik", "listopad", "grudzień"};
const char* const kDayShort[7] = {"niedz.", "pon.", "wt.", "śr.", "czw.", "pt.", "sob."};
const char* const kDayLong[7] = {"niedziela", "poniedziałek", "wtorek", "środa",
                                 "czwartek",  "piątek",       "sobota"};

std::string Num(int v, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, v);
    return buf;
}

int WeekDay(const LocalDateTime& t) {
    LocalDateTime d = t;
    d.hour = d.minute = d.second = 0;
    const std::time_t s = ToCalendarSeconds(d);
    std::tm tm{};
    gmtime_r(&s, &tm);
    return tm.tm_wday;
}

int MonthIndex(const LocalDateTime& t) {
    return t.month >= 1 && t.month <= 12 ? t.month - 1 : 0;
}

}  // namespace

std::string FormatDateTimeMask(std::string_view mask, const LocalDateTime& t) {
    std::string out;
    ForEachMaskPiece(mask, [&](const MaskPiece& p) {
        const std::size_t count = p.count;
        switch (p.field) {
            case 'Y':
                out += count <= 2 ? Num(t.year % 100, 2) : Num(t.year, 4);
                break;
            case 'M':
                if (count <= 2)
                    out += Num(t.month, static_cast<int>(count));
                else
                    out += Cp(count == 3 ? kMonthShort[MonthIndex(t)] : kMonthLong[MonthIndex(t)]);
                break;
            case 'D':
                if (count <= 2)
                    out += Num(t.day, static_cast<int>(count));
                else if (count <= 4)
                    out += Cp(count == 3 ? kDayShort[WeekDay(t)] : kDayLong[WeekDay(t)]);
                else
                    out += Num(t.year, 4) + "-" + Num(t.month, 2) + "-" + Num(t.day, 2);
                break;
            case 'H':
                out += Num(t.hour, count == 1 ? 1 : 2);
                break;
            case 'N':
                out += Num(t.minute, count == 1 ? 1 : 2);
                break;
            case 'S':
                out += Num(t.second, count == 1 ? 1 : 2);
                break;
            case 'Z':
                out += Num(t.msec, count <= 2 ? 1 : 3);
                break;
            default:
                out += p.text;
        }
    });
    return out;
}

}  // namespace pom

#include "app/logic/ChartPage.h"

#include <climits>
#include <cmath>
#include <cstdio>

#include "app/logic/StationParse.h"
#include "plot/logic/PlotModel.h"
#include "util/Cp1250.h"
#include "util/Numbers.h"

namespace pom {
namespace {

constexpr double kSecondsPerDay = 86400.0;

}  // namespace

std::string AvgWindowDialogCaption() {
    return Cp("średnia z okresu");
}

std::string AvgWindowDialogPrompt() {
    return Cp("uśredniaj punkty wykresu co ile sekund ?");
}

std::string AvgWindowDialogText(double windowDays) {
    const double s = std::nearbyint(windowDays * kSecondsPerDay);
    if (!(s >= INT_MIN && s <= INT_MAX)) return "0";
    return std::to_string(static_cast<int>(s));
}

std::optional<AvgWindowChoice> ParseAvgWindow(std::string_view typed) {
    const std::optional<double> v = ParseDecimal(typed);
    if (!v) return std::nullopt;
    const double seconds = *v < 1 ? 1.0 : *v;
    const double rounded = std::nearbyint(seconds);  // the default mode rounds halves to even
    if (!(rounded <= static_cast<double>(INT_MAX))) return std::nullopt;
    AvgWindowChoice c;
    c.windowDays = seconds / 24 / 3600;
    c.storedSeconds = static_cast<int>(rounded);
    c.menuCaption = Cp("rysuje uśrednione co ") + std::to_string(c.storedSeconds) + " sek.";
    c.boxCaption = AvgWindowCaption(c.windowDays);
    return c;
}

std::string AvgWindowCaption(double windowDays) {
    // The time of day of the window, to the millisecond as a date-time holds it.
    const double ms = std::round(std::fabs(windowDays) * kSecondsPerDay * 1000.0);
    const long long s =
        std::isfinite(ms) ? static_cast<long long>(std::fmod(ms / 1000.0, 86400.0)) : 0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "avg %lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return buf;
}

std::string ReadoutText(double time, double value) {
    std::string stamp = FormatStamp(FromDayNumber(time));
    stamp.pop_back();  // the stamp's trailing blank
    return stamp + ", " + FormatToWidth(4, value);
}

}  // namespace pom

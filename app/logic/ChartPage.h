#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pom {

// The chart page's texts and the averaging window the user types. Texts are
// Windows-1250.

// The averaging window dialog's texts; `windowDays` is the chart's AvgWindow.
std::string AvgWindowDialogCaption();
std::string AvgWindowDialogPrompt();
std::string AvgWindowDialogText(double windowDays);  // whole seconds

// What an accepted averaging window entry sets.
struct AvgWindowChoice {
    double windowDays = 0;    // AvgWindow: the seconds as typed (at least 1) / 86400
    int storedSeconds = 0;    // Wykres/PlotAvgDelta: rounded, halves to even
    std::string menuCaption;  // "rysuje uśrednione co %d sek."
    std::string boxCaption;   // cbUsrednij: "avg h:nn:ss"
};

// The typed text as a decimal number ("." as the decimal point); below 1
// gives one second. Nothing (and no change) when it is not a number or its
// whole seconds do not fit the setting.
std::optional<AvgWindowChoice> ParseAvgWindow(std::string_view typed);

// "avg " + hours without a leading zero + ":nn:ss" of a window in days (the
// time of day of it, as a date-time format shows it): 60 s -> "avg 0:01:00".
std::string AvgWindowCaption(double windowDays);

// The read-out under the mouse: "yyyy-mm-dd hh:mm:ss, " + the value in four
// characters.
std::string ReadoutText(double time, double value);

}  // namespace pom

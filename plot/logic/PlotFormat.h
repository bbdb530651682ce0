#pragma once

#include <string>
#include <string_view>

namespace pom {

// Day numbers that name a date in the years 1 to 9999.
bool IsDateTimeInRange(double days);

// Date-time pattern of the time labels: "hh"/"h" hour, "nn"/"n" minute,
// "ss"/"s" second, "mm"/"m" month (minute right after an hour field),
// "dd"/"d" day, "yyyy"/"yy" year (letters in either case), "zzz" milliseconds,
// text in double or single quotes copied as it is, other characters copied.
// A day number outside IsDateTimeInRange gives "".
std::string FormatDateTime(std::string_view pattern, double days);

// The two numeric label patterns: "0.##" (at most two decimals) and, with an
// exponent, "0.##e-0" / "0.##e-00" (exponent digits at least expDigits, sign
// only when negative).
std::string FormatFixed2(double v);
std::string FormatExp2(double v, int expDigits);

}  // namespace pom

#pragma once

#include <string>

namespace pom {

// A real number in exactly `width` characters: as many decimals as fit,
// else a leading blank before one character fewer, else `width` asterisks
// (empty for width <= 0). 3.14159 in 6 -> "3.1416", 12345.6 in 6 -> " 12346".
std::string FormatToWidth(int width, double value);

// Ratio of the pressure at `altitude` metres to the pressure at sea level;
// the measured pressure divided by it is the sea-level pressure.
double PressureRatio(double altitude);
// The same for a mean air temperature in degrees Celsius.
double PressureRatioT(double altitude, double temperature);

}  // namespace pom

#include "util/Numbers.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace pom {

namespace {

std::string Fixed(double value, int decimals) {
    char small[64];
    const int n = std::snprintf(small, sizeof small, "%.*f", decimals, value);
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < sizeof small)
        return std::string(small, static_cast<std::size_t>(n));
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::snprintf(big.data(), big.size(), "%.*f", decimals, value);
    return std::string(big.data(), static_cast<std::size_t>(n));
}

// Adds decimals until the text fills the width (or no decimal could fit).
bool Fits(int width, double value, std::string& candidate) {
    for (int d = 0;; ++d) {
        candidate = Fixed(value, d);
        if (static_cast<int>(candidate.size()) >= width || d + 1 >= width) break;
    }
    return static_cast<int>(candidate.size()) <= width;
}

}  // namespace

std::string FormatToWidth(int width, double value) {
    std::string s;
    if (Fits(width, value, s)) return s;
    if (Fits(width - 1, value, s)) return " " + s;
    return width > 0 ? std::string(static_cast<std::size_t>(width), '*') : std::string();
}

double PressureRatio(double altitude) {
    return std::pow(1.0 - altitude / 44330.0, 5.255);
}

double PressureRatioT(double altitude, double temperature) {
    const double drop = 0.0065 * altitude;
    return std::pow(1.0 - drop / (temperature + drop + 273.15), 5.257);
}

}  // namespace pom

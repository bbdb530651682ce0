#include "dialogs/CalibrationResult.h"

#include <cmath>

#include "util/Numbers.h"

namespace pom {

std::optional<std::string> ChannelResultCaption(double multiplier, double divisor) {
    if (std::fabs(divisor) < 0.000001) return std::nullopt;
    // The same full scale for all three channels; the range fields do not
    // enter it.
    return "zakresMax: " + FormatToWidth(4, 1250 * (multiplier / divisor));
}

}  // namespace pom

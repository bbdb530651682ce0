#pragma once

#include <optional>
#include <string>

namespace pom {

// The result label of one channel of the calibration dialog: the full scale
// 1250 scaled by multiplier / divisor, "zakresMax: " + 4 characters.
// Nothing for a divisor of (nearly) zero: the label keeps its text.
std::optional<std::string> ChannelResultCaption(double multiplier, double divisor);

}  // namespace pom

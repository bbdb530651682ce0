#pragma once

#include <array>
#include <string>

namespace pom {

// The name and unit of each of the four chart channels.
struct Legends {
    std::array<std::string, 4> names;
    std::array<std::string, 4> units;
};

// A channel check box's caption: name + " [" + unit + "]".
std::string LegendCaption(const std::string& name, const std::string& unit);

// The text the legends script receives: channels 1 to 3, each as
// "pomT<k>;" + unit + ";" + name + ";" + name, joined by ")(".
std::string LegendsText(const Legends& l);

}  // namespace pom

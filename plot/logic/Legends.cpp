#include "plot/logic/Legends.h"

namespace pom {

std::string LegendCaption(const std::string& name, const std::string& unit) {
    return name + " [" + unit + "]";
}

std::string LegendsText(const Legends& l) {
    std::string text;
    for (std::size_t k = 0; k < 3; ++k) {
        if (k > 0) text += ")(";
        text += "pomT" + std::to_string(k) + ";" + l.units[k] + ";" + l.names[k] + ";" + l.names[k];
    }
    return text;
}

}  // namespace pom

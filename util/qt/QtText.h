#pragma once

#include <QString>
#include <string>

#include "util/Cp1250.h"

namespace pom {

// The logic's Windows-1250 texts to and from what widgets show (for every
// Qt library; header only, so the logic libraries stay free of Qt).
inline QString Q(const std::string& cp1250) {
    return QString::fromStdString(Cp1250ToUtf8(cp1250));
}
inline std::string S(const QString& text) {
    return Utf8ToCp1250(text.toStdString());
}

}  // namespace pom

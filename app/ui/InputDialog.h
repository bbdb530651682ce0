#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace pom {

// The width a window needs for its whole title, with room for the title
// bar's icon and buttons; never wider than its screen.
int TitleWidth(const QWidget& window);

// The one-line input dialog: caption, prompt and the text offered; nothing
// when cancelled. It is at least as wide as its title, so that the title is
// not cut ("wysyła…POST)").
std::optional<QString> AskText(QWidget* parent, const QString& caption, const QString& prompt,
                               const QString& value);

}  // namespace pom

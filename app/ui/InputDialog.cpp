#include "app/ui/InputDialog.h"

#include <QApplication>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <algorithm>

namespace pom {
namespace {

// The title bar's icon, its buttons and margins, beside the title's text.
constexpr int kTitleBarExtra = 160;

}  // namespace

int TitleWidth(const QWidget& window) {
    // Window managers draw titles in a bold font a little larger than the
    // application's; measure with such a font so that the estimate is wide.
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.15);
    const int width = QFontMetrics(font).horizontalAdvance(window.windowTitle()) + kTitleBarExtra;
    const QScreen* s = window.screen();
    return s ? std::min(width, s->availableGeometry().width()) : width;
}

std::optional<QString> AskText(QWidget* parent, const QString& caption, const QString& prompt,
                               const QString& value) {
    QInputDialog d(parent);
    d.setWindowTitle(caption);
    d.setLabelText(prompt);
    d.setTextValue(value);
    // The dialog sizes itself to its contents: widening the prompt widens it.
    if (auto* label = d.findChild<QLabel*>()) {
        const int margins = d.style()->pixelMetric(QStyle::PM_LayoutLeftMargin) +
                            d.style()->pixelMetric(QStyle::PM_LayoutRightMargin);
        label->setMinimumWidth(TitleWidth(d) - margins);
    }
    if (d.exec() != QDialog::Accepted) return std::nullopt;
    return d.textValue();
}

}  // namespace pom

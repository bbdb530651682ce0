#include "app/ui/ElidedLabel.h"

#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace pom {

QSize ElidedLabel::sizeHint() const {
    QSize s = QLabel::sizeHint();
    if (widestHint_ > 0) s.setWidth(std::min(s.width(), widestHint_));
    return s;
}

QSize ElidedLabel::minimumSizeHint() const {
    QSize s = QLabel::minimumSizeHint();
    const QMargins m = contentsMargins();
    s.setWidth(fontMetrics().horizontalAdvance(QStringLiteral("…")) + m.left() + m.right() +
               2 * margin());
    return s;
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect r = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, r.width());
    style()->drawItemText(&painter, r, static_cast<int>(alignment()), palette(), isEnabled(), shown,
                          foregroundRole());
}

}  // namespace pom

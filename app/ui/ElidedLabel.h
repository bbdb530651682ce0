#pragma once

#include <QLabel>

namespace pom {

// A one-line label of the status bar that never asks for more room than it
// gets: a long text (a /dev/serial/by-id/... port name) is shown with "…" in
// its middle instead of widening the window. text() keeps the whole text.
class ElidedLabel final : public QLabel {
public:
    // `widestHint` caps the width asked for when there is room (0: the
    // text's own width).
    explicit ElidedLabel(QWidget* parent = nullptr, int widestHint = 0)
        : QLabel(parent), widestHint_(widestHint) {}

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int widestHint_;
};

}  // namespace pom

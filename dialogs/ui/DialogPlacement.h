#pragma once

#include <QDialog>
#include <QEvent>
#include <QRect>
#include <QScreen>
#include <string>
#include <string_view>

#include "util/FormPlacement.h"

namespace pom {

// Where a dialog stands between runs (keys Form_X and Form_Y of its own
// section). A stored position is restored; without one the dialog is left
// unplaced, so Qt centres it on the main window when it first shows. The
// position is stored only once the dialog has one: restored, moved or shown,
// never the 0,0 of a dialog that was never on the screen.
class DialogPlacement final : public QObject {
public:
    DialogPlacement(QDialog& dialog, std::string_view section)
        : QObject(&dialog), dialog_(dialog), section_(section) {
        dialog.installEventFilter(this);
    }

    void Restore(const TdmUtil& util) {
        const QScreen* s = dialog_.screen();
        const QRect screen = s ? s->geometry() : QRect(0, 0, 1920, 1080);
        const auto p = StoredDialogPosition(util, section_, screen.width(), screen.height());
        // 0,0 is what earlier versions stored for a dialog never shown: such
        // a dialog is centred as if nothing were stored.
        if (p && !(p->left == 0 && p->top == 0)) {
            dialog_.move(p->left, p->top);
            placed_ = true;
        }
    }

    // Unless minimised or maximised, where the position is not its own.
    void Store(TdmUtil& util) const {
        if (!placed_ && !dialog_.testAttribute(Qt::WA_Moved)) return;
        if (dialog_.windowState() &
            (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
            return;
        SaveDialogPosition(util, section_, {dialog_.x(), dialog_.y()});
    }

    bool Placed() const { return placed_ || dialog_.testAttribute(Qt::WA_Moved); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &dialog_ && event->type() == QEvent::Show) placed_ = true;
        return QObject::eventFilter(watched, event);
    }

private:
    QDialog& dialog_;
    std::string section_;
    bool placed_ = false;
};

}  // namespace pom

#include "dialogs/ui/TfEDwsp.h"

#include <QKeyEvent>

#include "dialogs/CalibrationResult.h"
#include "dialogs/ui/DialogPlacement.h"
#include "dialogs/ui/TFloatEdit.h"
#include "ui_TfEDwsp.h"
#include "util/FormPlacement.h"
#include "util/SettingsKeys.h"
#include "util/TdmUtil.h"
#include "util/qt/QtText.h"

namespace pom {

TfEDwsp::TfEDwsp(TdmUtil& util, QWidget* parent)
    // A dialog frame without the title bar's buttons.
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      util_(util),
      ui_(std::make_unique<Ui::TfEDwsp>()),
      placement_(new DialogPlacement(*this, settings::kFormEdWsp)) {
    ui_->setupUi(this);
    setFixedSize(sizeHint());
    const auto connectExit = [this](TFloatEdit* e, void (TfEDwsp::*handler)()) {
        connect(e, &TFloatEdit::exited, this, handler);
        e->installEventFilter(this);
    };
    for (TFloatEdit* e : {ui_->fedL1, ui_->fedM1, ui_->fedZ1, ui_->fedZ2, ui_->fedZ3})
        connectExit(e, &TfEDwsp::fedL1Exit);
    for (TFloatEdit* e : {ui_->fedL2, ui_->fedM2}) connectExit(e, &TfEDwsp::fedL2Exit);
    for (TFloatEdit* e : {ui_->fedL3, ui_->fedM3}) connectExit(e, &TfEDwsp::fedL3Exit);
}

TfEDwsp::~TfEDwsp() = default;

bool TfEDwsp::eventFilter(QObject* watched, QEvent* event) {
    // Esc belongs to the OK button, as a dialog key, before a field sees it.
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        ui_->butOK->click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfEDwsp::FormCreate() {
    placement_->Restore(util_);
}

void TfEDwsp::FormDestroy() {
    placement_->Store(util_);
}

void TfEDwsp::FocusChannel(int channel) {
    if (channel < 1 || channel > 3) return;
    Multiplier(channel).setFocus(Qt::OtherFocusReason);
    Multiplier(channel).selectAll();
}

int TfEDwsp::Execute(int channel) {
    FocusChannel(channel);
    return exec();
}

void TfEDwsp::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        ui_->butOK->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfEDwsp::fedL1Exit() {
    ChannelExit(1);
}

void TfEDwsp::fedL2Exit() {
    ChannelExit(2);
}

void TfEDwsp::fedL3Exit() {
    ChannelExit(3);
}

void TfEDwsp::ChannelExit(int channel) {
    if (const auto caption =
            ChannelResultCaption(Multiplier(channel).Value(), Divisor(channel).Value())) {
        QLabel* labels[] = {ui_->LABk1, ui_->LABk2, ui_->LABk3};
        labels[channel - 1]->setText(Q(*caption));
    }
}

TFloatEdit& TfEDwsp::Multiplier(int channel) {
    TFloatEdit* e[] = {ui_->fedL1, ui_->fedL2, ui_->fedL3};
    return *e[channel - 1];
}

TFloatEdit& TfEDwsp::Divisor(int channel) {
    TFloatEdit* e[] = {ui_->fedM1, ui_->fedM2, ui_->fedM3};
    return *e[channel - 1];
}

TFloatEdit& TfEDwsp::Range(int channel) {
    TFloatEdit* e[] = {ui_->fedZ1, ui_->fedZ2, ui_->fedZ3};
    return *e[channel - 1];
}

QString TfEDwsp::ResultText(int channel) const {
    const QLabel* labels[] = {ui_->LABk1, ui_->LABk2, ui_->LABk3};
    return labels[channel - 1]->text();
}

}  // namespace pom

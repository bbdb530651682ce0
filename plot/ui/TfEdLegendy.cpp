#include "plot/ui/TfEdLegendy.h"

#include <QLineEdit>
#include <QPushButton>

#include "dialogs/ui/DialogPlacement.h"
#include "ui_TfEdLegendy.h"
#include "util/Cp1250.h"
#include "util/SettingsKeys.h"

namespace pom {

TfEdLegendy::TfEdLegendy(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      ui_(std::make_unique<Ui::TfEdLegendy>()),
      placement_(new DialogPlacement(*this, settings::kFormLegendy)) {
    ui_->setupUi(this);
    setFixedSize(347, 245);
    connect(ui_->butTransfer, &QPushButton::clicked, this, [this] { butTransferClick(); });
    // Cancel closes with the cancel result; Escape (reject) presses OK.
    connect(ui_->butCancel, &QPushButton::clicked, this, [this] { QDialog::reject(); });
}

TfEdLegendy::~TfEdLegendy() = default;

Legends TfEdLegendy::Fields() const {
    const QLineEdit* names[4] = {ui_->edLeg1, ui_->edLeg2, ui_->edLeg3, ui_->edLeg4};
    const QLineEdit* units[4] = {ui_->edJed1, ui_->edJed2, ui_->edJed3, ui_->edJed4};
    Legends l;
    for (std::size_t k = 0; k < 4; ++k) {
        l.names[k] = Utf8ToCp1250(names[k]->text().toStdString());
        l.units[k] = Utf8ToCp1250(units[k]->text().toStdString());
    }
    return l;
}

void TfEdLegendy::SetFields(const Legends& l) {
    QLineEdit* names[4] = {ui_->edLeg1, ui_->edLeg2, ui_->edLeg3, ui_->edLeg4};
    QLineEdit* units[4] = {ui_->edJed1, ui_->edJed2, ui_->edJed3, ui_->edJed4};
    for (std::size_t k = 0; k < 4; ++k) {
        names[k]->setText(QString::fromStdString(Cp1250ToUtf8(l.names[k])));
        units[k]->setText(QString::fromStdString(Cp1250ToUtf8(l.units[k])));
    }
}

void TfEdLegendy::butTransferClick() {
    if (onTransfer_) onTransfer_(LegendsText(Fields()));
}

void TfEdLegendy::RestorePosition(const TdmUtil& util) {
    placement_->Restore(util);
}

void TfEdLegendy::StorePosition(TdmUtil& util) const {
    placement_->Store(util);
}

void TfEdLegendy::reject() {
    accept();
}

}  // namespace pom

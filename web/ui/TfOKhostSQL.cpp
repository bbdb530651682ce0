#include "web/ui/TfOKhostSQL.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>

#include "dialogs/ui/DialogPlacement.h"
#include "ui_TfOKhostSQL.h"
#include "util/Cp1250.h"
#include "util/FormPlacement.h"
#include "util/TdmUtil.h"

namespace pom {
namespace {

QString Q(const std::string& cp1250) {
    return QString::fromStdString(Cp1250ToUtf8(cp1250));
}
std::string S(const QString& text) {
    return Utf8ToCp1250(text.toStdString());
}

}  // namespace

TfOKhostSQL::TfOKhostSQL(TdmUtil& util, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      util_(util),
      ui_(std::make_unique<Ui::TfOKhostSQL>()),
      placement_(new DialogPlacement(*this, settings::kFormHostSql)) {
    ui_->setupUi(this);
    // The dialog's own captions, not those of the translated standard buttons.
    ui_->buttons->button(QDialogButtonBox::Ok)->setText("OK");
    ui_->buttons->button(QDialogButtonBox::Cancel)->setText("Cancel");
    setFixedSize(313, 214);
    ui_->cbWWWskryptu->lineEdit()->installEventFilter(this);
    ui_->cbWWWskryptu->installEventFilter(this);
}

TfOKhostSQL::~TfOKhostSQL() = default;

bool TfOKhostSQL::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) cbWWWskryptuExit();
    return QDialog::eventFilter(watched, event);
}

void TfOKhostSQL::FormCreate() {
    history_.Load(util_.Read(settings::kAdresy));
    ShowHistory();
    SetTable(util_.Read(settings::kTabela));
    SetAddress(util_.Read(settings::kAdresSkryptu));
    placement_->Restore(util_);
}

void TfOKhostSQL::FormDestroy() {
    placement_->Store(util_);
    util_.Write(settings::kAdresy, history_.Text());
}

bool TfOKhostSQL::mHostConfigClick() {
    ShowTarget();
    if (exec() != QDialog::Accepted) {
        // What was typed and cancelled is not kept, as it is not used.
        ShowTarget();
        return false;
    }
    cbWWWskryptuExit();
    util_.Write(settings::kTabela, TableText());
    util_.Write(settings::kAdresSkryptu, AddressText());
    table_ = TableText();
    address_ = AddressText();
    return true;
}

void TfOKhostSQL::cbWWWskryptuExit() {
    if (history_.Add(AddressText())) ShowHistory();
}

void TfOKhostSQL::ShowHistory() {
    const QString text = ui_->cbWWWskryptu->currentText();
    ui_->cbWWWskryptu->clear();
    for (const std::string& item : history_.Items()) ui_->cbWWWskryptu->addItem(Q(item));
    ui_->cbWWWskryptu->setEditText(text);
}

std::string TfOKhostSQL::TableText() const {
    return S(ui_->edTabelaSQL->text());
}

std::string TfOKhostSQL::AddressText() const {
    return S(ui_->cbWWWskryptu->currentText());
}

void TfOKhostSQL::SetTable(const std::string& cp1250) {
    table_ = cp1250;
    ShowTarget();
}

void TfOKhostSQL::SetAddress(const std::string& cp1250) {
    address_ = cp1250;
    ShowTarget();
}

void TfOKhostSQL::ShowTarget() {
    ui_->edTabelaSQL->setText(Q(table_));
    ui_->cbWWWskryptu->setEditText(Q(address_));
    // A long address shows from its start, not scrolled to its end.
    ui_->edTabelaSQL->setCursorPosition(0);
    ui_->cbWWWskryptu->lineEdit()->setCursorPosition(0);
}

void TfOKhostSQL::SetTableText(const QString& s) {
    ui_->edTabelaSQL->setText(s);
}

void TfOKhostSQL::SetAddressText(const QString& s) {
    ui_->cbWWWskryptu->setEditText(s);
}

}  // namespace pom

#include "web/ui/TfOKhostSQL.h"

#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QScreen>

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
      ui_(std::make_unique<Ui::TfOKhostSQL>()) {
    ui_->setupUi(this);
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
    SetTable(util_.Read(settings::kTabelaDialog));
    SetAddress(util_.Read(settings::kAdresSkryptuDialog));
    const QRect screen = this->screen() ? this->screen()->geometry() : QRect(0, 0, 1920, 1080);
    const DialogPosition p = LoadDialogPosition(util_, settings::kFormHostSql, {x(), y()},
                                                screen.width(), screen.height());
    move(p.left, p.top);
}

void TfOKhostSQL::FormDestroy() {
    SaveDialogPosition(util_, settings::kFormHostSql, {x(), y()});
    util_.Write(settings::kAdresy, history_.Text());
}

bool TfOKhostSQL::mHostConfigClick() {
    SetTable(util_.Read(settings::kTabelaDialog));
    SetAddress(util_.Read(settings::kAdresSkryptuDialog));
    if (exec() != QDialog::Accepted) return false;
    cbWWWskryptuExit();
    util_.Write(settings::kTabelaDialog, Table());
    util_.Write(settings::kAdresSkryptuDialog, Address());
    return true;
}

void TfOKhostSQL::cbWWWskryptuExit() {
    if (history_.Add(Address())) ShowHistory();
}

void TfOKhostSQL::ShowHistory() {
    const QString text = ui_->cbWWWskryptu->currentText();
    ui_->cbWWWskryptu->clear();
    for (const std::string& item : history_.Items()) ui_->cbWWWskryptu->addItem(Q(item));
    ui_->cbWWWskryptu->setEditText(text);
}

std::string TfOKhostSQL::Table() const {
    return S(ui_->edTabelaSQL->text());
}

std::string TfOKhostSQL::Address() const {
    return S(ui_->cbWWWskryptu->currentText());
}

void TfOKhostSQL::SetTable(const std::string& cp1250) {
    ui_->edTabelaSQL->setText(Q(cp1250));
}

void TfOKhostSQL::SetAddress(const std::string& cp1250) {
    ui_->cbWWWskryptu->setEditText(Q(cp1250));
}

void TfOKhostSQL::SetTableText(const QString& s) {
    ui_->edTabelaSQL->setText(s);
}

void TfOKhostSQL::SetAddressText(const QString& s) {
    ui_->cbWWWskryptu->setEditText(s);
}

}  // namespace pom

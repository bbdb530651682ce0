#include "dialogs/ui/TAboutBox.h"

#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>

#include "dialogs/JpegImage.h"
#include "dialogs/VersionInfo.h"
#include "ui_TAboutBox.h"
#include "util/qt/QtText.h"

namespace pom {

TAboutBox::TAboutBox(std::string programPath, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      programPath_(std::move(programPath)),
      ui_(std::make_unique<Ui::TAboutBox>()) {
    ui_->setupUi(this);
    // A picture that does not decode leaves the place empty; the box is
    // still worth showing.
    if (const auto image = DecodeJpeg(kAboutPicture, kAboutPictureSize)) {
        const QImage view(image->rgb.data(), image->width, image->height, image->width * 3,
                          QImage::Format_RGB888);
        ui_->Image1->setPixmap(QPixmap::fromImage(view.copy()));
    }
    ui_->Image1->installEventFilter(this);
    setFixedSize(sizeHint());
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::FormCreate() {
    ui_->mVersion->setText(Q(VersionText(programPath_)));
}

void TAboutBox::Image1Click() {
    close();
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->Image1 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Image1Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutBox::keyPressEvent(QKeyEvent* event) {
    // Esc answers as OK does.
    if (event->key() == Qt::Key_Escape) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TAboutBox::showEvent(QShowEvent* event) {
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

QString TAboutBox::VersionCaption() const {
    return ui_->mVersion->text();
}

bool TAboutBox::HasPicture() const {
    return !ui_->Image1->pixmap().isNull();
}

QWidget& TAboutBox::Picture() {
    return *ui_->Image1;
}

}  // namespace pom

#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class TAboutBox;
}

namespace pom {

// "About": the product's name, the version read from the program file, the
// maker and a picture. Created at start-up, shown modally from the menu.
class TAboutBox final : public QDialog {
    Q_OBJECT
public:
    // `programPath`: the running program's file, whose version record the
    // box shows.
    explicit TAboutBox(std::string programPath, QWidget* parent = nullptr);
    ~TAboutBox() override;

    // The version text, once, from the program file.
    void FormCreate();
    // A click on the picture closes the box.
    void Image1Click();

    QString VersionCaption() const;
    // Whether the compiled-in picture decoded.
    bool HasPicture() const;
    QWidget& Picture();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    std::string programPath_;
    std::unique_ptr<Ui::TAboutBox> ui_;
};

}  // namespace pom

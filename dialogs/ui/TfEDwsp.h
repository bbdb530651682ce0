#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TfEDwsp;
}

namespace pom {

class TdmUtil;
class DialogPlacement;
class TFloatEdit;

// "współczynniki kalibracyjne": per channel a multiplier and a divisor, and
// the full scale they give. A calculator only: its values are neither stored
// nor sent; only the dialog's position is kept in the settings.
class TfEDwsp final : public QDialog {
    Q_OBJECT
public:
    explicit TfEDwsp(TdmUtil& util, QWidget* parent = nullptr);
    ~TfEDwsp() override;

    // Position from the settings (section "fEDwsp").
    void FormCreate();
    // Position into the settings, unless minimised or maximised.
    void FormDestroy();
    // Shows the dialog modally with the focus on channel n's multiplier
    // (n = 1..3); the dialog's result.
    int Execute(int channel);
    // Puts the focus on channel n's multiplier.
    void FocusChannel(int channel);

    // Result labels of channels 1..3.
    void fedL1Exit();
    void fedL2Exit();
    void fedL3Exit();

    TFloatEdit& Multiplier(int channel);
    TFloatEdit& Divisor(int channel);
    TFloatEdit& Range(int channel);
    QString ResultText(int channel) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ChannelExit(int channel);

    TdmUtil& util_;
    std::unique_ptr<Ui::TfEDwsp> ui_;
    DialogPlacement* placement_;
};

}  // namespace pom

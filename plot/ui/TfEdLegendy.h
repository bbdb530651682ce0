#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "plot/logic/Legends.h"

namespace Ui {
class TfEdLegendy;
}

namespace pom {

class DialogPlacement;
class TdmUtil;

// The channel names and units, and the "send" button that posts them to
// the legends script.
class TfEdLegendy final : public QDialog {
    Q_OBJECT
public:
    explicit TfEdLegendy(QWidget* parent = nullptr);
    ~TfEdLegendy() override;

    // The eight fields (Windows-1250).
    Legends Fields() const;
    void SetFields(const Legends& l);
    // What "send" does with the legends text (Windows-1250).
    void SetOnTransfer(std::function<void(const std::string&)> fn) { onTransfer_ = std::move(fn); }
    void butTransferClick();
    // The dialog's position from and into the settings (section
    // "fEdLegendy"); a dialog never shown or placed stores nothing.
    void RestorePosition(const TdmUtil& util);
    void StorePosition(TdmUtil& util) const;
    // Escape presses OK, as the dialog's OK button is also its cancel key.
    void reject() override;

private:
    std::unique_ptr<Ui::TfEdLegendy> ui_;
    std::function<void(const std::string&)> onTransfer_;
    DialogPlacement* placement_;
};

}  // namespace pom

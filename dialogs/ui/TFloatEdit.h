#pragma once

#include <QLineEdit>
#include <QString>
#include <functional>

#include "dialogs/FloatEditRules.h"

namespace pom {

// A line edit for one real number: keys that cannot make a number are
// refused, the value stays within Min and Max, bad input is restored or
// clamped when the field is left, and the shown value is rounded to Digits
// decimals.
class TFloatEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TFloatEdit(QWidget* parent = nullptr);

    // The number in the text: 0 for an empty or unreadable text, always
    // within [Min, Max]. Writing shows it with up to 15 significant digits,
    // unclamped.
    double Value() const;
    void SetValue(double value);
    int Digits() const { return rules_.Digits(); }
    void SetDigits(int digits) { rules_.SetDigits(digits); }
    double Min() const { return rules_.Min(); }
    double Max() const { return rules_.Max(); }
    // A limit past the other one is announced and made equal to it.
    void SetMin(double value);
    void SetMax(double value);
    QString ErrorMessage() const;
    // Shown when the field is left with bad input; "[No Text]" shows nothing.
    void SetErrorMessage(const QString& text);
    // Value when the field last received the focus (Esc brings it back).
    double EntryValue() const { return entryValue_; }

    using MessageBox = std::function<void(QWidget* parent, const QString& text)>;
    // Where the control's messages go; a modal message box unless set.
    void SetMessageBox(MessageBox show) { messageBox_ = std::move(show); }

signals:
    // The field was left (OnExit): once before the text is checked, and once
    // more after a good text has been rounded.
    void exited();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void ShowMessage(const std::string& cp1250);

    FloatEditRules rules_;
    double entryValue_ = 0;
    // Between an entry and its exit. Switching to another window or opening
    // a menu is neither: the field is still the one being edited.
    bool entered_ = false;
    MessageBox messageBox_;
};

}  // namespace pom

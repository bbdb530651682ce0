#include "dialogs/ui/TFloatEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMessageBox>

#include "util/qt/QtText.h"

namespace pom {

TFloatEdit::TFloatEdit(QWidget* parent) : QLineEdit(parent) {}

double TFloatEdit::Value() const {
    return rules_.ValueOf(S(text()));
}

void TFloatEdit::SetValue(double value) {
    setText(Q(FloatEditRules::TextOf(value)));
}

void TFloatEdit::SetMin(double value) {
    if (const auto message = rules_.SetMin(value)) ShowMessage(*message);
}

void TFloatEdit::SetMax(double value) {
    if (const auto message = rules_.SetMax(value)) ShowMessage(*message);
}

QString TFloatEdit::ErrorMessage() const {
    return Q(rules_.ErrorMessage());
}

void TFloatEdit::SetErrorMessage(const QString& text) {
    rules_.SetErrorMessage(S(text));
}

void TFloatEdit::ShowMessage(const std::string& cp1250) {
    if (messageBox_) return messageBox_(this, Q(cp1250));
    QMessageBox::information(this, QString(), Q(cp1250));
}

void TFloatEdit::keyPressEvent(QKeyEvent* event) {
    // Shortcuts (copy, paste, undo) and keys without a character (arrows,
    // Delete) are the edit's own; a pasted text is checked on exit.
    char key = 0;
    if (event->key() == Qt::Key_Escape) {
        key = 27;
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        key = 13;
    } else if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return QLineEdit::keyPressEvent(event);
    } else {
        const QString t = event->text();
        if (t.size() != 1 || t[0].unicode() < 32 || t[0].unicode() == 127)
            return QLineEdit::keyPressEvent(event);
        const std::string b = S(t);
        key = b.size() == 1 ? b[0] : '?';  // a letter of no code page: refused below
    }

    FloatEditRules::Field field;
    field.text = S(text());
    field.selStart = hasSelectedText() ? selectionStart() : cursorPosition();
    field.selLength = static_cast<int>(selectedText().size());
    const FloatEditRules::KeyResult r = rules_.Key(key, field);
    using A = FloatEditRules::KeyAction;
    switch (r.action) {
        case A::Pass:
            return QLineEdit::keyPressEvent(event);
        case A::Accept:
            if (r.key == key) return QLineEdit::keyPressEvent(event);
            insert(Q(std::string(1, r.key)));
            break;
        case A::Reject:
            break;
        case A::Replace:
            setText(Q(r.field.text));
            setSelection(r.field.selStart, r.field.selLength);
            break;
        case A::Restore:
            SetValue(entryValue_);
            selectAll();
            break;
        case A::SelectAll:
            selectAll();
            break;
    }
    event->accept();
}

void TFloatEdit::focusInEvent(QFocusEvent* event) {
    const bool entry = !entered_;
    if (entry) {
        entered_ = true;
        entryValue_ = Value();
    }
    QLineEdit::focusInEvent(event);
    // As an edit with automatic selection: a new entry selects all of it,
    // unless a click placed the cursor; coming back from another window
    // keeps the selection as it was.
    if (entry && event->reason() != Qt::MouseFocusReason) selectAll();
}

void TFloatEdit::hideEvent(QHideEvent* event) {
    // A dialog closed while the field had the focus: the next showing is a
    // new entry.
    entered_ = false;
    QLineEdit::hideEvent(event);
}

void TFloatEdit::focusOutEvent(QFocusEvent* event) {
    const Qt::FocusReason reason = event->reason();
    if (!entered_ || reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
        return QLineEdit::focusOutEvent(event);
    entered_ = false;
    const std::string typed = S(text());
    QLineEdit::focusOutEvent(event);
    emit exited();

    const FloatEditRules::ExitResult r = rules_.Exit(typed, entryValue_);
    if (!r.ok) {
        SetValue(r.value);
        selectAll();
        // Taken back at once, inside the focus change, so the field that was
        // about to get the focus never sees an entry or an exit.
        setFocus(Qt::OtherFocusReason);
        selectAll();
        if (r.message) ShowMessage(*r.message);
        return;
    }
    setText(Q(r.text));
    emit exited();
}

}  // namespace pom

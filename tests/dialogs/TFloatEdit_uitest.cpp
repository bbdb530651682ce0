// The numeric edit control as a widget: typed keys, Esc and Enter, and
// leaving the field with good and bad input.
#include "dialogs/ui/TFloatEdit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace pom {
namespace {

class FloatEditUi : public ::testing::Test {
protected:
    FloatEditUi() {
        auto* layout = new QVBoxLayout(&host_);
        a_ = new TFloatEdit(&host_);
        b_ = new TFloatEdit(&host_);
        layout->addWidget(a_);
        layout->addWidget(b_);
        a_->SetMessageBox([this](QWidget*, const QString& t) { messages_.push_back(t); });
        b_->SetMessageBox([this](QWidget*, const QString& t) { messages_.push_back(t); });
        QObject::connect(a_, &TFloatEdit::exited, [this] { ++exitsA_; });
        QObject::connect(b_, &TFloatEdit::exited, [this] { ++exitsB_; });
        host_.show();
        host_.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&host_));
        // Both good to leave, or the one with the focus would keep it.
        a_->SetValue(0);
        b_->SetValue(0);
        b_->setFocus(Qt::OtherFocusReason);
    }

    // Into a, as the Tab key would (which selects the text).
    void Enter() {
        a_->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(a_->hasFocus());
        exitsA_ = exitsB_ = 0;
    }
    void Leave() { b_->setFocus(Qt::TabFocusReason); }
    void Type(const QString& keys) { QTest::keyClicks(a_, keys); }

    QWidget host_;
    TFloatEdit* a_ = nullptr;
    TFloatEdit* b_ = nullptr;
    std::vector<QString> messages_;
    int exitsA_ = 0;
    int exitsB_ = 0;
};

struct TypingCase {
    const char* name;
    double min;
    const char* keys;
    const char* text;
    const char* selected;
    int digits;
};

class Typing : public FloatEditUi, public ::testing::WithParamInterface<TypingCase> {};

TEST_P(Typing, OnlyAWellFormedNumberCanBeTyped) {
    const TypingCase& c = GetParam();
    a_->SetMin(c.min);
    a_->clear();
    Enter();
    Type(QString::fromUtf8(c.keys));
    EXPECT_EQ(a_->text().toStdString(), c.text);
    EXPECT_EQ(a_->selectedText().toStdString(), c.selected);
    EXPECT_EQ(a_->Digits(), c.digits);
    EXPECT_TRUE(messages_.empty());
}

constexpr double kMin = FloatEditRules::kDefaultMin;

INSTANTIATE_TEST_SUITE_P(
    Keys, Typing,
    ::testing::Values(TypingCase{"Minus", kMin, "-", "-0", "0", 2},
                      TypingCase{"MinusThenDigit", kMin, "-5", "-5", "", 2},
                      TypingCase{"MinusOverSelectedZero", kMin, "--", "-0", "0", 2},
                      TypingCase{"MinusWithMinZero", 0, "-", "", "", 2},
                      TypingCase{"CommaBecomesDot", kMin, "1,5", "1.5", "", 2},
                      TypingCase{"SecondDot", kMin, "1.5.", "1.5", "", 2},
                      TypingCase{"DotIntoEmpty", kMin, ".", "0.0", "0", 2},
                      TypingCase{"DotThenDigit", kMin, ".5", "0.5", "", 2},
                      TypingCase{"LettersAndBlanks", kMin, "1a 2+3", "123", "", 2},
                      TypingCase{"DecimalsRaiseDigits", kMin, "1.2345", "1.2345", "", 4},
                      TypingCase{"RefusedKeyKeepsDigits", kMin, "1.23-", "1.23", "", 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FloatEditUi, TypedDecimalsSurviveLeaving) {
    Enter();
    Type("1.2345");
    Leave();
    EXPECT_EQ(a_->text(), "1.2345");
    EXPECT_TRUE(b_->hasFocus());
    // Once before the check, once after the rounding.
    EXPECT_EQ(exitsA_, 2);
}

TEST_F(FloatEditUi, PassingThroughRoundsToDigits) {
    const std::pair<const char*, const char*> cases[] = {
        {"1.456", "1.46"}, {"1.50", "1.5"}, {"-0", "0"}, {"0.0", "0"}, {"1250", "1250"}};
    for (const auto& [before, after] : cases) {
        a_->setText(before);
        Enter();
        Leave();
        EXPECT_EQ(a_->text().toStdString(), after) << before;
    }
}

TEST_F(FloatEditUi, AboveMaxClampsAndKeepsTheFocus) {
    Enter();
    Type("123456789");
    Leave();
    EXPECT_EQ(a_->text(), "99999999.9");
    EXPECT_TRUE(a_->hasFocus());
    EXPECT_EQ(a_->selectedText(), a_->text());
    EXPECT_EQ(exitsA_, 1);
    // The field that nearly got the focus saw neither an entry nor an exit.
    EXPECT_EQ(exitsB_, 0);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(FloatEditUi, BelowMinClampsToMin) {
    a_->SetMin(-10);
    Enter();
    Type("-25");
    Leave();
    EXPECT_EQ(a_->text(), "-10");
    EXPECT_TRUE(a_->hasFocus());
}

TEST_F(FloatEditUi, EmptyFieldRestoresTheEntryValue) {
    a_->SetValue(7.5);
    Enter();
    QTest::keyClick(a_, Qt::Key_Backspace);  // the text was selected on entry
    ASSERT_EQ(a_->text(), "");
    Leave();
    EXPECT_EQ(a_->text(), "7.5");
    EXPECT_TRUE(a_->hasFocus());
    EXPECT_EQ(a_->selectedText(), "7.5");
}

TEST_F(FloatEditUi, EscRestoresWithoutLeaving) {
    a_->SetValue(3);
    Enter();
    Type("99");
    ASSERT_EQ(a_->text(), "99");
    QTest::keyClick(a_, Qt::Key_Escape);
    EXPECT_EQ(a_->text(), "3");
    EXPECT_EQ(a_->selectedText(), "3");
    EXPECT_TRUE(a_->hasFocus());
    EXPECT_EQ(exitsA_, 0);
}

TEST_F(FloatEditUi, EnterSelectsAll) {
    Enter();
    Type("12");
    QTest::keyClick(a_, Qt::Key_Return);
    EXPECT_EQ(a_->text(), "12");
    EXPECT_EQ(a_->selectedText(), "12");
    EXPECT_TRUE(a_->hasFocus());
    EXPECT_EQ(exitsA_, 0);
}

TEST_F(FloatEditUi, ErrorMessageOnlyWhenSet) {
    a_->SetValue(4);
    Enter();
    a_->setText("1..2");  // pasted: keys could not make it
    Leave();
    EXPECT_EQ(a_->text(), "4");
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(a_->ErrorMessage(), "[No Text]");

    a_->SetErrorMessage("zła liczba");
    Enter();
    a_->setText("x");
    Leave();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "zła liczba");
    EXPECT_TRUE(a_->hasFocus());
}

TEST_F(FloatEditUi, LimitsPastEachOtherAreAnnounced) {
    a_->SetMin(1e9);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "Min-Value has to be less than or equal to Max-Value !");
    EXPECT_EQ(a_->Min(), a_->Max());
    a_->SetMin(-5);
    a_->SetMax(-6);
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[1], "Max-Value has to be greater than or equal to Min-Value !");
    EXPECT_EQ(a_->Max(), -5);
}

TEST_F(FloatEditUi, PropertiesAfterConstruction) {
    TFloatEdit e;
    EXPECT_EQ(e.Digits(), 2);
    EXPECT_EQ(e.Min(), -99999999.9);
    EXPECT_EQ(e.Max(), 99999999.9);
    EXPECT_EQ(e.ErrorMessage(), "[No Text]");
    e.SetDigits(25);
    EXPECT_EQ(e.Digits(), 18);
    e.setText("123456789");
    EXPECT_EQ(e.Value(), 99999999.9);  // read clamped
    e.SetValue(1e12);
    EXPECT_EQ(e.text(), "1000000000000");  // written unclamped
}

TEST_F(FloatEditUi, AnotherWindowOrAMenuIsNotLeavingTheField) {
    Enter();
    Type("123456789");
    for (const Qt::FocusReason r : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
        QFocusEvent out(QEvent::FocusOut, r);
        QApplication::sendEvent(a_, &out);
    }
    EXPECT_EQ(a_->text(), "123456789");
    EXPECT_EQ(exitsA_, 0);
    Leave();
    EXPECT_EQ(a_->text(), "99999999.9");
}

TEST_F(FloatEditUi, NewEntrySelectsAllUnlessByAClick) {
    a_->SetValue(12);
    a_->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(a_->selectedText(), "");
    Leave();
    Enter();
    EXPECT_EQ(a_->selectedText(), "12");
    // Back from another window: the selection stays as the user left it.
    a_->deselect();
    QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(a_, &out);
    QFocusEvent in(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(a_, &in);
    EXPECT_EQ(a_->selectedText(), "");
}

TEST_F(FloatEditUi, PolishLetterRefused) {
    Enter();
    Type("1");
    for (const char* letter : {"ż", "ą", "€"}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier,
                        QString::fromUtf8(letter));
        QApplication::sendEvent(a_, &press);
    }
    EXPECT_EQ(a_->text(), "1");
}

TEST_F(FloatEditUi, ShortcutsAndEditingKeysStillWork) {
    Enter();
    Type("123");
    QTest::keyClick(a_, Qt::Key_Left);
    QTest::keyClick(a_, Qt::Key_Delete);
    EXPECT_EQ(a_->text(), "12");
    QTest::keyClick(a_, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(a_->selectedText(), "12");
    Type("7");
    EXPECT_EQ(a_->text(), "7");
}

}  // namespace
}  // namespace pom

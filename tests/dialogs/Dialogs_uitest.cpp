// The calibration dialog and the About box.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "dialogs/ui/TAboutBox.h"
#include "dialogs/ui/TFloatEdit.h"
#include "dialogs/ui/TfEDwsp.h"
#include "tests/support/TestSupport.h"
#include "util/SettingsKeys.h"
#include "util/TdmUtil.h"

namespace pom {
namespace {

using test::TempDir;

// Runs `inside` once the modal dialog is up, then returns exec()'s result.
template <typename Exec>
int RunModal(QDialog& dialog, Exec exec, const std::function<void()>& inside) {
    QTimer::singleShot(0, &dialog, [&] {
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
        inside();
        // Whatever the steps did, the test must not hang on an open dialog.
        if (dialog.isVisible()) QTimer::singleShot(0, &dialog, [&] { dialog.done(-1); });
    });
    return exec();
}

class CalibrationDialog : public ::testing::Test {
protected:
    CalibrationDialog() : home_(dir_.path()) {}

    QLabel& Label(const char* name) { return *dialog_.findChild<QLabel*>(name); }
    // Into the field and out again, as the Tab key does.
    void PassThrough(TFloatEdit& e) {
        dialog_.show();
        dialog_.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));
        e.setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(e.hasFocus());
        dialog_.findChild<QPushButton*>("butCancel")->setFocus(Qt::TabFocusReason);
    }

    TempDir dir_;
    test::ScopedConfigHome home_;
    TdmUtil util_{DefaultClock()};
    TfEDwsp dialog_{util_};
};

TEST_F(CalibrationDialog, StartsAsDrawn) {
    EXPECT_EQ(dialog_.windowTitle(), "współczynniki kalibracyjne");
    EXPECT_FALSE(dialog_.windowFlags() & Qt::WindowCloseButtonHint);
    const char* ranges[] = {"1250", "1024", "1024"};
    for (int n = 1; n <= 3; ++n) {
        for (TFloatEdit* e : {&dialog_.Multiplier(n), &dialog_.Divisor(n), &dialog_.Range(n)}) {
            EXPECT_EQ(e->Digits(), 2);
            EXPECT_EQ(e->Min(), -99999999.9);
            EXPECT_EQ(e->Max(), 99999999.9);
            EXPECT_EQ(e->ErrorMessage(), "[No Text]");
        }
        EXPECT_EQ(dialog_.Multiplier(n).text(), "1");
        EXPECT_EQ(dialog_.Divisor(n).text(), "1");
        EXPECT_EQ(dialog_.Range(n).text(), ranges[n - 1]);
        EXPECT_EQ(dialog_.ResultText(n), "1024");
    }
    const struct {
        const char* name;
        const char* text;
        QColor colour;
    } channels[] = {{"labKanal1", "1 kanał", QColor(0, 128, 0)},
                    {"labKanal2", "2 kanał", QColor(0, 0, 255)},
                    {"labKanal3", "3 kanał", QColor(255, 0, 0)}};
    for (const auto& c : channels) {
        QLabel& l = Label(c.name);
        l.ensurePolished();
        EXPECT_EQ(l.text(), QString::fromUtf8(c.text));
        EXPECT_EQ(l.palette().color(QPalette::WindowText), c.colour) << c.name;
        EXPECT_TRUE(l.font().bold()) << c.name;
    }
    EXPECT_EQ(Label("Label1").text(), "mnożnik");
    EXPECT_EQ(Label("Label2").text(), "dzielnik");
    EXPECT_EQ(Label("Label3").toolTip(), "1249 dla termometru i 1023 dla woltomierza");
    EXPECT_EQ(Label("LABk1").toolTip(), "zakres faktyczny");
    EXPECT_EQ(Label("LABk2").toolTip(), "zakres faktyczny");
    EXPECT_EQ(Label("LABk3").toolTip(), "");
}

TEST_F(CalibrationDialog, TypedMultiplierAndDivisorGiveTheFullScale) {
    dialog_.show();
    dialog_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));
    dialog_.Multiplier(1).setFocus(Qt::TabFocusReason);
    QTest::keyClick(&dialog_.Multiplier(1), Qt::Key_Tab);
    EXPECT_EQ(dialog_.ResultText(1), "zakresMax: 1250");
    EXPECT_TRUE(dialog_.Divisor(1).hasFocus());
    dialog_.Multiplier(1).setFocus(Qt::TabFocusReason);
    QTest::keyClicks(&dialog_.Multiplier(1), "5");
    QTest::keyClick(&dialog_.Multiplier(1), Qt::Key_Tab);
    QTest::keyClicks(&dialog_.Divisor(1), "2");
    QTest::keyClick(&dialog_.Divisor(1), Qt::Key_Tab);
    EXPECT_EQ(dialog_.ResultText(1), "zakresMax: 3125");
}

TEST_F(CalibrationDialog, EachFieldUpdatesItsChannelsLabel) {
    // Which label the field's exit recomputes; the range fields all report
    // to channel 1.
    const struct {
        const char* field;
        int channel;
    } cases[] = {{"fedL1", 1}, {"fedM1", 1}, {"fedZ1", 1}, {"fedZ2", 1}, {"fedZ3", 1},
                 {"fedL2", 2}, {"fedM2", 2}, {"fedL3", 3}, {"fedM3", 3}};
    for (const auto& c : cases) {
        TfEDwsp d(util_);
        d.show();
        d.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
        // The first field had the focus when the dialog came up: out of it first.
        d.findChild<QPushButton*>("butCancel")->setFocus(Qt::TabFocusReason);
        for (int n = 1; n <= 3; ++n) {
            d.Multiplier(n).SetValue(5);
            d.Divisor(n).SetValue(2);
        }
        auto* field = d.findChild<TFloatEdit*>(c.field);
        ASSERT_NE(field, nullptr) << c.field;
        QString before[3];
        for (int n = 1; n <= 3; ++n) before[n - 1] = d.ResultText(n);
        field->setFocus(Qt::TabFocusReason);
        d.findChild<QPushButton*>("butCancel")->setFocus(Qt::TabFocusReason);
        for (int n = 1; n <= 3; ++n)
            EXPECT_EQ(d.ResultText(n), n == c.channel ? "zakresMax: 3125" : before[n - 1])
                << c.field << " channel " << n;
    }
}

TEST_F(CalibrationDialog, DivisorOfZeroLeavesTheLabel) {
    dialog_.Divisor(3).SetValue(0.0000001);
    PassThrough(dialog_.Divisor(3));
    EXPECT_EQ(dialog_.ResultText(3), "1024");
    dialog_.Divisor(3).SetValue(4);
    PassThrough(dialog_.Divisor(3));
    EXPECT_EQ(dialog_.ResultText(3), "zakresMax:  312");
}

TEST_F(CalibrationDialog, OpensOnTheChannelsRowAndEscAnswersOk) {
    for (int n = 1; n <= 3; ++n) {
        const int result = RunModal(
            dialog_, [&] { return dialog_.Execute(n); },
            [&] {
                EXPECT_EQ(QApplication::focusWidget(), &dialog_.Multiplier(n)) << n;
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            });
        EXPECT_EQ(result, QDialog::Accepted) << n;
    }
    const int cancelled = RunModal(
        dialog_, [&] { return dialog_.Execute(1); },
        [&] { dialog_.findChild<QPushButton*>("butCancel")->click(); });
    EXPECT_EQ(cancelled, QDialog::Rejected);
}

TEST_F(CalibrationDialog, PositionKeptInItsSection) {
    TfEDwsp never(util_);  // never placed, never shown: no 0,0 stored
    never.FormCreate();
    never.FormDestroy();
    EXPECT_EQ(util_.ReadIniString(settings::kFormEdWsp, settings::kFormX, "none"), "none");
    util_.WriteIniInteger(settings::kFormEdWsp, settings::kFormX, 123);
    util_.WriteIniInteger(settings::kFormEdWsp, settings::kFormY, 77);
    TfEDwsp d(util_);
    d.FormCreate();
    EXPECT_EQ(d.pos(), QPoint(123, 77));
    d.move(200, 150);
    d.FormDestroy();
    EXPECT_EQ(util_.ReadIniInteger(settings::kFormEdWsp, settings::kFormX, 0), 200);
    EXPECT_EQ(util_.ReadIniInteger(settings::kFormEdWsp, settings::kFormY, 0), 150);
    // Only the position: no size or font keys.
    EXPECT_EQ(util_.ReadIniString(settings::kFormEdWsp, settings::kFormW, "none"), "none");
    EXPECT_EQ(util_.ReadIniString(settings::kFormEdWsp, settings::kFont, "none"), "none");
    // A position beyond the screen comes back at 10.
    util_.WriteIniInteger(settings::kFormEdWsp, settings::kFormX, 100000);
    TfEDwsp far(util_);
    far.FormCreate();
    EXPECT_EQ(far.pos().x(), 10);
}

TEST(AboutBox, ShowsTheProgramsVersionAndTexts) {
    TAboutBox box(test::BinDir() + "/pomiarnik");
    box.FormCreate();
    EXPECT_EQ(box.windowTitle(), "About");
    EXPECT_TRUE(box.VersionCaption().startsWith("Version ")) << box.VersionCaption().toStdString();
    EXPECT_TRUE(box.VersionCaption().endsWith(" pomiarnik"));
    EXPECT_EQ(box.findChild<QLabel*>("lbProductName")->text(), "Monitor pomiarowy");
    EXPECT_FALSE(box.findChild<QLabel*>("lbCopyright")->text().isEmpty());
    const QLabel* comments = box.findChild<QLabel*>("cbComments");
    EXPECT_TRUE(comments->wordWrap());
    EXPECT_EQ(comments->text(),
              "Współpracuje z Arduino odbiera pomiary, prezentuje graficznie, archiwizuje na "
              "dysku oraz w bazie na serwerze SQL  eMail: pomiarnik@example.org");
    EXPECT_TRUE(box.HasPicture());

    TAboutBox unknown("/nonexistent/pomiarnik");
    EXPECT_EQ(unknown.VersionCaption(), "mVersion");  // until created
    unknown.FormCreate();
    EXPECT_EQ(unknown.VersionCaption(), "??");
}

TEST(AboutBox, ClosesOnOkEscOrAClickOnThePicture) {
    TAboutBox box("/nonexistent");
    const struct {
        const char* how;
        std::function<void()> act;
        int result;
    } cases[] = {
        {"OK", [&] { box.findChild<QPushButton*>("OKButton")->click(); }, QDialog::Accepted},
        {"Enter", [&] { QTest::keyClick(&box, Qt::Key_Return); }, QDialog::Accepted},
        {"Esc", [&] { QTest::keyClick(&box, Qt::Key_Escape); }, QDialog::Accepted},
        {"picture", [&] { QTest::mouseClick(&box.Picture(), Qt::LeftButton); }, QDialog::Rejected},
    };
    for (const auto& c : cases) {
        const int r = RunModal(
            box, [&] { return box.exec(); }, c.act);
        EXPECT_EQ(r, c.result) << c.how;
    }
}

}  // namespace
}  // namespace pom

// The calibration dialog and the About box as the main window creates,
// opens and keeps them.
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/ui/TMonitorT.h"
#include "dialogs/ui/TAboutBox.h"
#include "dialogs/ui/TFloatEdit.h"
#include "dialogs/ui/TfEDwsp.h"
#include "tests/support/TestSupport.h"
#include "util/SettingsKeys.h"

namespace pom {
namespace {

class MonitorDialogs : public ::testing::Test {
protected:
    MonitorDialogs() : home_(dir_.path()) {}

    std::unique_ptr<TMonitorT> Make(const std::string& programPath) {
        MonitorOptions o;
        o.programPath = programPath;
        o.enumPorts = [] { return std::vector<std::string>{}; };
        o.showError = [this](const std::string& e) { errors_.push_back(e); };
        return std::make_unique<TMonitorT>(util_, o);
    }

    test::TempDir dir_;
    test::ScopedConfigHome home_;
    TdmUtil util_{DefaultClock()};
    std::vector<std::string> errors_;
};

TEST_F(MonitorDialogs, RangeItemsOpenTheCalibrationDialogOnTheirRow) {
    auto w = Make("/nonexistent");
    TfEDwsp& d = w->CalibrationDialog();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(w->RangeItem(1).text(), "(R1) Zakres 1");
    EXPECT_EQ(w->RangeItem(3).text(), "(R3) Zakres 3");
    for (int n = 1; n <= 3; ++n) {
        bool shown = false;
        QTimer::singleShot(0, &d, [&] {
            shown = QTest::qWaitForWindowActive(&d);
            EXPECT_EQ(QApplication::focusWidget(), &d.Multiplier(n)) << n;
            d.findChild<QPushButton*>("butOK")->click();
        });
        w->RangeItem(n).trigger();
        EXPECT_TRUE(shown) << n;
        EXPECT_FALSE(d.isVisible());
    }
    EXPECT_TRUE(errors_.empty());
}

TEST_F(MonitorDialogs, AboutItemShowsTheVersionOfTheProgramFile) {
    auto w = Make(test::BinDir() + "/pomiarnik");
    TAboutBox& box = w->AboutDialog();
    EXPECT_TRUE(box.VersionCaption().startsWith("Version ")) << box.VersionCaption().toStdString();
    bool shown = false;
    QTimer::singleShot(0, &box, [&] {
        shown = QTest::qWaitForWindowActive(&box);
        QTest::keyClick(&box, Qt::Key_Escape);
    });
    w->AboutItem().trigger();
    EXPECT_TRUE(shown);
    EXPECT_FALSE(box.isVisible());

    auto unknown = Make("/nonexistent");
    EXPECT_EQ(unknown->AboutDialog().VersionCaption(), "??");
}

TEST_F(MonitorDialogs, CalibrationDialogPositionRestoredAndSaved) {
    util_.WriteIniInteger(settings::kFormEdWsp, settings::kFormX, 140);
    util_.WriteIniInteger(settings::kFormEdWsp, settings::kFormY, 90);
    auto w = Make("/nonexistent");
    EXPECT_EQ(w->CalibrationDialog().pos(), QPoint(140, 90));
    w->CalibrationDialog().move(220, 130);
    w->SaveState();
    EXPECT_EQ(util_.ReadIniInteger(settings::kFormEdWsp, settings::kFormX, 0), 220);
    EXPECT_EQ(util_.ReadIniInteger(settings::kFormEdWsp, settings::kFormY, 0), 130);
}

}  // namespace
}  // namespace pom

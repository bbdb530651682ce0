// Long texts in the main window and the titles of its input dialogs: the
// window keeps its size, the dialogs are as wide as their titles.
#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/ui/InputDialog.h"
#include "app/ui/TMonitorT.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WaitUi.h"

namespace pom {
namespace {

using test::WaitUi;

class WindowWidth : public ::testing::Test {
protected:
    WindowWidth() : home_(dir_.path()) {}

    test::TempDir dir_;
    test::ScopedConfigHome home_;
    TdmUtil util_{DefaultClock()};
};

TEST_F(WindowWidth, ALongPortNameIsElidedAndTheWindowKeepsItsSize) {
    // A by-id name of 200 characters that cannot be opened: it shows in the
    // status text and in the connection label.
    std::string port = "/dev/serial/by-id/usb-Arduino_LLC_Arduino_Leonardo_";
    port += std::string(200 - port.size() - 5, 'X') + "-if00";
    ASSERT_EQ(port.size(), 200u);
    MonitorOptions o;
    o.portOverride = port;
    o.enumPorts = [] { return std::vector<std::string>{}; };
    o.showError = [](const std::string&) {};
    TMonitorT w(util_, o);
    w.resize(800, 600);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const int width = w.width();

    w.TimerStartCOMaTimer();
    ASSERT_TRUE(WaitUi([&] { return w.StatusText().contains("-if00"); }));
    ASSERT_TRUE(WaitUi([&] { return w.ConnectionLabel().text().contains("-if00"); }));
    QApplication::processEvents();
    EXPECT_EQ(w.width(), width);
    EXPECT_LE(w.minimumSizeHint().width(), width);
    EXPECT_LE(w.minimumWidth(), width);
    // Both labels stay within the window; the texts themselves are whole.
    EXPECT_LE(w.ConnectionLabel().geometry().right(), width);
    EXPECT_TRUE(w.StatusText().contains(QString::fromStdString(port)));
}

TEST(InputDialog, IsAsWideAsItsTitle) {
    const QString titles[] = {QString::fromUtf8("wysyłanie na WWW (POST)"),
                              QString::fromUtf8("dla przeliczeń z wysokością"),
                              QString::fromUtf8("średnia")};
    for (const QString& title : titles) {
        int shownWidth = 0;
        QTimer::singleShot(0, [&] {
            QWidget* d = QApplication::activeModalWidget();
            ASSERT_NE(d, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
            shownWidth = d->width();
            static_cast<QDialog*>(d)->reject();
        });
        EXPECT_FALSE(AskText(nullptr, title, "Co ile sekund", "300").has_value());
        QFont bold = QApplication::font();
        bold.setBold(true);
        EXPECT_GE(shownWidth, QFontMetrics(bold).horizontalAdvance(title) + 100)
            << title.toStdString();
    }
}

}  // namespace
}  // namespace pom

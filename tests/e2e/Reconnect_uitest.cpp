// The main window (offscreen) on a port that is a link to the real
// pomiarnik-station's pseudo-terminal: the station goes away and another
// one takes its place behind the link, or the port is missing at start.
#include <signal.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "app/ui/TMonitorT.h"
#include "serial/SerialPort.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"
#include "util/Clock.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

namespace fs = std::filesystem;

bool WaitUi(const std::function<bool()>& cond, int seconds = 30) {
    return test::WaitFor(
        [&] {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            return cond();
        },
        std::chrono::seconds(seconds));
}

// Points the link at the target in one step, as udev replaces its links.
void PointLink(const std::string& link, const std::string& target) {
    const std::string tmp = link + ".new";
    fs::remove(tmp);
    fs::create_symlink(target, tmp);
    fs::rename(tmp, link);
}

class Reconnect : public ::testing::Test {
protected:
    Reconnect() : home_(dir_.path()), link_(dir_.file("stacja")) {}

    std::unique_ptr<TMonitorT> Make() {
        MonitorOptions o;
        o.portOverride = link_;
        o.programPath = "/opt/pomiarnik/bin/pomiarnik";
        o.enumPorts = [] { return std::vector<std::string>{}; };
        o.showError = [](const std::string& e) { ADD_FAILURE() << e; };
        return std::make_unique<TMonitorT>(util_, o);
    }

    static std::size_t LogCount(TMonitorT& w, const std::string& cp1250) {
        std::size_t n = 0;
        for (const std::string& l : w.Log().Lines()) n += l.find(cp1250) != std::string::npos;
        return n;
    }

    static bool WebHas(TMonitorT& w, const std::string& utf8) {
        return w.WebMemo().toPlainText().contains(QString::fromStdString(utf8));
    }

    bool Attached() const { return util_.stationFolder != "\\Ardu" && util_.valueCount > 0; }

    test::TempDir dir_;
    test::ScopedConfigHome home_;
    TdmUtil util_{DefaultClock()};
    std::string link_;
};

TEST_F(Reconnect, AStationReplacedBehindTheLinkIsReopenedAndReadOut) {
    auto first = std::make_unique<test::ChildProcess>(
        "pomiarnik-station", std::vector<std::string>{"--interval", "2", "--seed", "3"});
    PointLink(link_, first->ReadLine());
    auto w = Make();
    w->TimerStartCOMaTimer();
    ASSERT_TRUE(w->Port().Active());
    ASSERT_TRUE(WaitUi([&] { return Attached(); }));
    const std::string folder = util_.stationFolder;
    ASSERT_TRUE(WaitUi([&] { return w->ConnectionLabel().text().contains("ostatnia linia"); }))
        << w->ConnectionLabel().text().toStdString();

    // The cable is pulled: the station's side of the line closes.
    ASSERT_TRUE(first->Signal(SIGKILL));
    first->WaitExit(std::chrono::seconds(10));
    first.reset();
    const std::string lost = Cp("stacja odłączona: ") + link_ + " (";
    ASSERT_TRUE(WaitUi([&] { return LogCount(*w, lost) == 1; }, 15));
    EXPECT_FALSE(w->Port().Active());
    EXPECT_TRUE(WebHas(*w, "stacja odłączona: " + link_));
    EXPECT_TRUE(w->ConnectionLabel().text().contains("ponawiam otwarcie od"));

    // Another station with readings in its buffer behind the same name.
    test::ChildProcess second("pomiarnik-station", {"--interval", "2", "--backlog", "6", "--seed",
                                                    "4", "--start", "2031-02-03 10:00:00"});
    PointLink(link_, second.ReadLine());
    // Within two retry periods of 5 s; the deadline leaves room for a slow machine.
    const std::string back = Cp("stacja podłączona: ") + link_ + ": 57600";
    ASSERT_TRUE(WaitUi([&] { return LogCount(*w, back) == 1; }, 30));
    EXPECT_TRUE(w->Port().Active());
    EXPECT_TRUE(WebHas(*w, "stacja podłączona: " + link_));
    EXPECT_EQ(LogCount(*w, lost), 1u);

    // The station's lines reach the receive path, and the catch-up reads its
    // buffer out (ticked here without its seconds-long pauses).
    std::set<std::string> readOut;
    auto next = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUi(
        [&] {
            for (const std::string& l : w->Log().Lines())
                if (l.size() > 22 && l.compare(20, 13, "R:2031-02-03 ") == 0) readOut.insert(l);
            if (std::chrono::steady_clock::now() >= next) {
                w->Receive().TimerCzytajZalegleTimer();
                next += std::chrono::milliseconds(200);
            }
            return readOut.size() >= 6 && w->Receive().PendingRecords() == 0;
        },
        60))
        << readOut.size();
    // Still the same station: no new attachment, the same folder.
    EXPECT_EQ(util_.stationFolder, folder);
    EXPECT_EQ(LogCount(*w, "= = = S T A R T = = ="), 1u);
    EXPECT_TRUE(w->ConnectionLabel().text().contains("otwarty"));
}

TEST_F(Reconnect, APortMissingAtStartIsOpenedWhenItAppears) {
    auto w = Make();
    w->TimerStartCOMaTimer();
    EXPECT_FALSE(w->Port().Active());
    EXPECT_TRUE(w->StatusText().contains("ERROR open: "));
    EXPECT_TRUE(w->ConnectionLabel().text().contains("ponawiam otwarcie od"));

    test::ChildProcess station("pomiarnik-station", {"--interval", "1"});
    PointLink(link_, station.ReadLine());
    ASSERT_TRUE(WaitUi([&] { return w->Port().Active(); }, 30));
    EXPECT_EQ(LogCount(*w, Cp("stacja podłączona: ") + link_), 1u);
    // The first lines ask the station who it is; its greeting attaches it.
    ASSERT_TRUE(WaitUi([&] { return Attached(); }));
    EXPECT_EQ(util_.stationFolder, "\\ardu\\DS3231");
}

TEST_F(Reconnect, RunUntickedMeansClosedWithoutRetries) {
    auto w = Make();
    w->TimerStartCOMaTimer();
    ASSERT_FALSE(w->Port().Active());
    QCheckBox* run = nullptr;
    for (QCheckBox* cb : w->findChildren<QCheckBox*>())
        if (cb->text() == "RUN") run = cb;
    ASSERT_NE(run, nullptr);
    run->click();  // unticked
    w->TimerPolaczenieTimer();
    EXPECT_TRUE(
        w->ConnectionLabel().text().contains(QString::fromUtf8("zamknięty przez użytkownika")));
    test::ChildProcess station("pomiarnik-station", {"--interval", "1"});
    PointLink(link_, station.ReadLine());
    w->TimerPonowPortTimer();
    EXPECT_FALSE(w->Port().Active());
    run->click();  // ticked: the handler opens it at once
    EXPECT_TRUE(w->Port().Active());
    w->TimerPolaczenieTimer();
    EXPECT_TRUE(w->ConnectionLabel().text().contains("otwarty"));
}

}  // namespace
}  // namespace pom

// The main window (offscreen) attached to the real pomiarnik-station on a
// pseudo-terminal: readings reach the log, the chart and the upload queue,
// and every command of the "Ustaw" menu and the "MAC" page reaches the
// station, whose replies update the mirrored values.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>
#include <deque>
#include <set>

#include "app/logic/StationParse.h"
#include "app/ui/TMonitorT.h"
#include "plot/ui/TPlotPanel.h"
#include "serial/SerialPort.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WaitUi.h"
#include "util/Clock.h"
#include "util/Cp1250.h"
#include "util/IniFile.h"

namespace pom {
namespace {

using test::WaitUi;

class StationRun : public ::testing::Test {
protected:
    StationRun() : home_(dir_.path()) {}

    // A window on the station's pseudo-terminal, opened as the start-up
    // timer would, waiting until the station is attached and known.
    std::unique_ptr<TMonitorT> Attach(test::ChildProcess& station) {
        const std::string device = station.ReadLine();
        EXPECT_FALSE(device.empty());
        MonitorOptions o;
        o.portOverride = device;
        o.programPath = "/opt/pomiarnik/bin/pomiarnik";
        o.enumPorts = [] { return std::vector<std::string>{}; };
        o.showError = [](const std::string& e) { ADD_FAILURE() << e; };
        o.inputQuery = [this](const std::string&, const std::string&,
                              const std::string&) -> std::optional<std::string> {
            if (answers_.empty()) return std::nullopt;
            std::string a = answers_.front();
            answers_.pop_front();
            return a;
        };
        o.showMessage = [this](const std::string& m) { messages_.push_back(m); };
        auto w = std::make_unique<TMonitorT>(util_, o);
        w->TimerStartCOMaTimer();
        EXPECT_TRUE(w->Port().Active());
        EXPECT_TRUE(WaitUi([&] { return util_.stationFolder != "\\Ardu" && util_.valueCount > 0; },
                           std::chrono::seconds(30)));
        return w;
    }

    // The kind's settings switch uploading on (cbPOST), to the test's own
    // server, which stores nothing: the queued records stay for the test.
    void EnableUpload(const std::string& kind, int postInterval = 300) {
        IniDocument ini;
        ini.Set("CONFIG", "POST", "1");
        ini.Set("CONFIG", "wysylkaPOST", std::to_string(postInterval));
        ini.Set("PostWWW", "adresSkryptu", server_.url("/Zapisz2Pomiary.php"));
        test::WriteFile(dir_.path() + "/ardu/" + kind + "/pomiarnik.ini", ini.Serialize());
    }

    // Lines of the data log from the station that start with `prefix`.
    std::vector<std::string> Received(TMonitorT& w, const std::string& prefix) {
        std::vector<std::string> out;
        for (const std::string& l : w.Log().Lines())
            if (l.size() > 20 && l.compare(20, prefix.size(), prefix) == 0)
                out.push_back(l.substr(20));
        return out;
    }

    // Adds the reading lines not seen before to `seen`, in log order; the
    // periodic save empties the log now and then.
    void CollectReadings(TMonitorT& w, std::vector<std::string>& seen,
                         std::set<std::string>& keys) {
        for (const std::string& l : w.Log().Lines())
            if (l.size() > 22 && l.compare(20, 2, "R:") == 0 && keys.insert(l).second)
                seen.push_back(l.substr(20));
    }

    bool LogHas(TMonitorT& w, const std::string& text) {
        for (const std::string& l : w.Log().Lines())
            if (l.find(text) != std::string::npos) return true;
        return false;
    }

    // Triggers a menu item or clicks a button, answering its dialog, and
    // waits until the echo of the command and the station's reply are logged.
    void Command(TMonitorT& w, const char* name, std::optional<std::string> answer,
                 const std::string& echo, const std::string& reply) {
        if (answer) answers_.push_back(*answer);
        if (auto* a = w.findChild<QAction*>(name))
            a->trigger();
        else if (auto* b = w.findChild<QPushButton*>(name))
            b->click();
        else
            FAIL() << "no " << name;
        EXPECT_TRUE(
            WaitUi([&] { return LogHas(w, "send command: " + echo); }, std::chrono::seconds(10)))
            << name;
        EXPECT_TRUE(WaitUi([&] { return LogHas(w, reply); }, std::chrono::seconds(10)))
            << name << ": " << reply;
    }

    test::RawHttpServer server_{test::RawHttpServer::Canned("HTTP/1.0 503 Busy\r\n\r\n")};
    test::TempDir dir_;
    test::ScopedConfigHome home_;
    TdmUtil util_{DefaultClock()};
    std::deque<std::string> answers_;
    std::vector<std::string> messages_;
};

TEST_F(StationRun, BacklogIsReadOutAveragedQueuedAndPlotted) {
    test::ChildProcess station(
        "pomiarnik-station", {"--backlog", "50", "--interval", "60", "--time-scale", "60", "--seed",
                              "5", "--start", "2024-03-09 08:00:00"});
    EnableUpload("DS3231");
    auto w = Attach(station);
    // The catch-up timer's work, without its seconds-long pauses: "R" while
    // the station says readings wait.
    auto next = std::chrono::steady_clock::now();
    std::vector<std::string> readOut;
    std::set<std::string> keys;
    ASSERT_TRUE(WaitUi(
        [&] {
            CollectReadings(*w, readOut, keys);
            if (std::chrono::steady_clock::now() >= next) {
                w->Receive().TimerCzytajZalegleTimer();
                next += std::chrono::milliseconds(100);
            }
            return readOut.size() >= 50 && w->Receive().PendingRecords() == 0;
        },
        std::chrono::seconds(60)));
    w->Plot().FlushPendingRedraw();

    // The readings in the order the station gave them, oldest first.
    std::vector<LocalDateTime> times;
    for (const std::string& r : readOut) {
        const auto t = ParseDateTime(r.substr(2, 19));
        ASSERT_TRUE(t) << r;
        if (!times.empty()) {
            EXPECT_LT(times.back(), *t) << r;
        }
        times.push_back(*t);
    }
    // The chart ends at the last reading, at its station time, on each of
    // the four series (equal neighbours are merged, so counts may be lower).
    const std::string lastValues = readOut.back().substr(22);
    for (int k = 0; k < 4; ++k) {
        const PlotSeries& s = w->Plot().Model().Series(k);
        ASSERT_GT(s.PointCount(), 0) << k;
        const std::optional<double> v = ExtractNumber(k + 1, lastValues);
        if (v == -888.0) continue;
        EXPECT_DOUBLE_EQ(s.Points().back().x, ToDayNumber(times.back())) << k;
        EXPECT_NEAR(s.Points().back().y, *v, 0.005) << k;
    }
    EXPECT_GT(w->Plot().PointCount(0), 10);

    // One record per upload interval of station time: the first reading,
    // then each reading more than 300 s after the last record.
    std::vector<std::string> expected;
    std::time_t last = 0;
    for (const LocalDateTime& t : times) {
        if (expected.empty() || ToCalendarSeconds(t) - last > 300) {
            expected.push_back(FormatStamp(t).substr(0, 19));
            last = ToCalendarSeconds(t);
        }
    }
    std::vector<std::string> queued;
    for (const std::string& e : w->QueueEntries()) {
        queued.push_back(e.substr(0, 19));
        EXPECT_EQ(std::count(e.begin(), e.end(), ';'), 6) << e;
    }
    EXPECT_EQ(queued, expected);
    EXPECT_GE(expected.size(), 8u);
    // The last entry asks for a tick in 5 s, unless a failed post holds the
    // upload back until one succeeds.
    EXPECT_EQ(w->UploadTimer().interval(), w->Upload().BackingOff() ? Uploader::kBackOffMs : 5000);
    const QString web = w->WebMemo().toPlainText();
    EXPECT_TRUE(web.contains(QString("dopisuje do kolejki[%1]: ").arg(expected.size())))
        << web.toStdString();
}

TEST_F(StationRun, BarometerLinesShowInTheLabelsAndOnTheChart) {
    test::ChildProcess station("pomiarnik-station",
                               {"--kind", "BME280", "--interval", "10", "--time-scale", "10"});
    auto w = Attach(station);
    EXPECT_FALSE(w->BarometerPanel().isHidden());
    ASSERT_TRUE(WaitUi([&] { return w->Plot().PointCount(5) >= 2; }, std::chrono::seconds(30)));
    const std::vector<std::string> o = Received(*w, "O:");
    ASSERT_FALSE(o.empty());
    const double pressure = *ExtractNumber(1, o.back());
    EXPECT_EQ(w->BarometerLabel(0).text().toStdString(), " " + FormatFixed(pressure, 1) + " hPa");
    EXPECT_EQ(w->BarometerLabel(1).text().toStdString(), " ( 295.0 m n.p.m. )");
    EXPECT_EQ(w->BarometerLabel(3).text().toStdString(), " ( poziom morza ) ");
    EXPECT_EQ(w->BarometerLabel(5).text().toStdString(), "( 0m, 18°C) ");
    EXPECT_EQ(util_.valueCount, 6);
}

// A barometer station sends "O:" records (PC time) and readings (station
// time) side by side: each queued record holds one kind of value, and no
// chart line joins a temperature to a pressure.
TEST_F(StationRun, BarometerStationQueuesPressuresAndTemperaturesApart) {
    test::ChildProcess station(
        "pomiarnik-station",
        {"--kind", "BME280", "--backlog", "6", "--interval", "10", "--time-scale", "20", "--seed",
         "3", "--start", "2024-03-09 08:00:00"});
    EnableUpload("BME280", 1);
    auto w = Attach(station);
    const auto isReading = [](const std::string& e) { return e.starts_with("2024-03-09"); };
    auto next = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUi(
        [&] {
            if (std::chrono::steady_clock::now() >= next) {  // the catch-up ticks, unpaused
                w->Receive().TimerCzytajZalegleTimer();
                next += std::chrono::milliseconds(100);
            }
            const auto& q = w->QueueEntries();
            const auto readings = std::count_if(q.begin(), q.end(), isReading);
            return readings >= 6 && std::ssize(q) - readings >= 2;
        },
        std::chrono::seconds(30)))
        << ::testing::PrintToString(w->QueueEntries());

    // Pressures 800-1100 hPa first in a record; temperatures -40-60 °C.
    const auto in = [](double v, double lo, double hi) { return v >= lo && v <= hi; };
    for (const std::string& e : w->QueueEntries()) {
        EXPECT_EQ(std::count(e.begin(), e.end(), ';'), 6) << e;
        for (int i = 1; i <= (isReading(e) ? 6 : 1); ++i) {
            const std::optional<double> v = ExtractNumber(i, e.substr(20));
            ASSERT_TRUE(v) << e;
            EXPECT_TRUE(isReading(e) ? *v == -888 || in(*v, -40, 60) : in(*v, 800, 1100)) << e;
        }
    }
    const PlotModel& chart = w->Plot().Model();
    for (int k = 0; k < 4; ++k)
        for (const PlotPoint& p : chart.Series(k).Points()) EXPECT_LT(p.y, 100) << k;
    ASSERT_GT(chart.Series(4).PointCount(), 0);
    for (const PlotPoint& p : chart.Series(4).Points()) EXPECT_TRUE(in(p.y, 800, 1100)) << p.y;
}

TEST_F(StationRun, EveryCommandReachesTheStationAndItsReplyIsMirrored) {
    // A reading every second attaches the station; then its own replies.
    test::ChildProcess station("pomiarnik-station", {"--interval", "5", "--time-scale", "5"});
    auto w = Attach(station);
    ReceivePath& rx = w->Receive();

    Command(*w, "mDeltaT", "15", "15T<", "co ile sekund T: 15");
    EXPECT_EQ(rx.Values().measureInterval, 15);
    Command(*w, "mIledoredniej", "7", "7S<", "ile do sredniej: 7");
    EXPECT_EQ(rx.Values().stationAvgCount, 7);
    Command(*w, "mWspCal", "-0.25", "-0.25C<", "kalibracyjny, dodaj: -0.25");
    EXPECT_DOUBLE_EQ(rx.Values().calibrationCoef, -0.25);
    Command(*w, "mPoziomH", "312", "312.0H<", "wysokosc n.p.m. [m]: 312.0");
    EXPECT_DOUBLE_EQ(rx.Values().altitude, 312.0);
    Command(*w, "mPoziomL", "12.5", "12.5t<", "C]: 12.5");
    EXPECT_DOUBLE_EQ(rx.Values().meanTemperature, 12.5);
    Command(*w, "mCzysc", std::nullopt, "F<", "bufor wyczyszczony");
    Command(*w, "mRead", std::nullopt, "R<", "");
    Command(*w, "mInfo", std::nullopt, "I<", "I: ");
    EXPECT_EQ(w->Pages().currentIndex(), 0);  // "Dane TXT"
    // The "I: " reply put the sensors into the memo; stored back in reverse.
    QStringList ids = w->MacMemo().toPlainText().split('\n');
    ASSERT_EQ(ids.size(), 3) << w->MacMemo().toPlainText().toStdString();
    EXPECT_EQ(ids[0].toStdString(), "setROMs ");
    std::swap(ids[1], ids[2]);
    w->MacMemo().setPlainText(ids.join('\n'));
    const std::string order = "setROMs " + ids[1].toStdString() + ids[2].toStdString();
    Command(*w, "butMAC2arduino", std::nullopt, order + "<", "EEPROM: zapisano 2 ROM");
    w->MacMemo().setPlainText("setRC433\n1010");
    Command(*w, "butWyslijPolecen", std::nullopt, "setRC4331010<", "RC433: 1010");
    EXPECT_EQ(w->StatusText().toStdString(), "wyslane: setRC4331010");
    const std::string today = FormatStamp(DefaultClock().now()).substr(0, 10);
    Command(*w, "butSetDate", std::nullopt, "setDate " + today + "<", "RTC ustawiony na " + today);
    w->SecondsField().setText("0");
    Command(*w, "butGodzinaUstaw", std::nullopt, "setTime ", "RTC ustawiony na ");
    EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace pom

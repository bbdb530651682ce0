// The chart page of the main window on the offscreen platform: the rebuild
// from the log, the channel boxes, averaging, point marks and the read-out.
#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include <thread>

#include "app/ui/TMonitorT.h"
#include "plot/logic/PlotModel.h"
#include "plot/ui/TPlotPanel.h"
#include "serial/SerialPort.h"
#include "tests/support/Pty.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WaitUi.h"
#include "util/Cp1250.h"
#include "util/IniFile.h"
#include "util/SettingsKeys.h"

namespace pom {
namespace {

using test::Pty;
using test::TempDir;
using test::WaitUi;

std::string Utf8(const QString& s) {
    return s.toStdString();
}

class ChartPage : public ::testing::Test {
protected:
    ChartPage() : home_(dir_.path()) {}

    std::unique_ptr<TMonitorT> Make(std::optional<std::string> port = std::nullopt) {
        MonitorOptions o;
        o.portOverride = std::move(port);
        o.programPath = "/opt/pomiarnik/bin/pomiarnik";
        o.enumPorts = [] { return std::vector<std::string>{}; };
        o.showError = [this](const std::string& e) { errors_.push_back(e); };
        o.inputQuery = [this](const std::string& caption, const std::string& prompt,
                              const std::string& value) -> std::optional<std::string> {
            asked_.push_back(caption + "|" + prompt + "|" + value);
            return answer_;
        };
        auto w = std::make_unique<TMonitorT>(util_, o);
        // The tests open the port themselves; a slow rebuild must not meet
        // the window's own start five seconds in.
        w->StartTimer().stop();
        w->StartDatePicker().setDate(QDate(2023, 5, 1));
        return w;
    }

    std::string Ini(const std::string& section, const std::string& key) const {
        const std::string path = dir_.path() + "/ardu/pomiarnik.ini";
        if (!test::FileExists(path)) return {};
        return IniDocument::Parse(test::ReadFile(path)).Get(section, key).value_or("");
    }

    TempDir dir_;
    test::ScopedConfigHome home_;
    TdmUtil util_{DefaultClock()};
    std::vector<std::string> errors_;
    std::vector<std::string> asked_;
    std::optional<std::string> answer_;
};

// The rebuild reads the dated files in the background: waits for its end.
bool RebuildDone(TMonitorT& w) {
    return WaitUi([&] { return !w.FileRebuild().Running(); });
}

// A day of four channels around the start date, between status lines.
void FillLog(TMonitorT& w) {
    DataLog& log = w.Log();
    log.Append("2023-04-30 23:00:00 R:2023-04-30 23:00:00 99 99 99 99 W4r:0");
    log.Append("2023-05-01 00:00:00 Open: ttyACM0: 57600");
    for (int i = 0; i < 200; ++i) {
        char line[128];
        std::snprintf(line, sizeof line,
                      "2023-05-01 %02d:%02d:00 R:2023-05-01 %02d:%02d:00 %d.5 %d -888 3.%d W4r:0",
                      i / 10, i % 10 * 6, i / 10, i % 10 * 6, 20 + i % 3, 10 - i % 2, i % 5);
        log.Append(line);
        log.Append("2023-05-01 00:00:00 send command: R<");
    }
}

TEST_F(ChartPage, RebuildButtonPlotsTheDayPaintsOnceAndSaysFromWhen) {
    auto w = Make();
    w->Channel(0).setChecked(true);
    w->Channel(1).setChecked(true);
    FillLog(*w);
    util_.valueCount = -1;
    const int redraws = w->Plot().RedrawCount();
    w->RebuildButton().click();
    ASSERT_TRUE(RebuildDone(*w));

    EXPECT_EQ(Utf8(w->StatusText()), "wykresy od: 2023-05-01");
    EXPECT_EQ(w->Log().Line(w->Log().Count() - 1).substr(20), "Active 1<");
    EXPECT_EQ(util_.valueCount, 1);
    // Yesterday's 99 is not there; equal runs are kept by their ends.
    const PlotModel& m = w->Plot().Model();
    ASSERT_GT(m.Series(0).PointCount(), 3);
    for (const PlotPoint& p : m.Series(0).Points()) EXPECT_LT(p.y, 23);
    EXPECT_EQ(m.Series(2).PointCount(), 0) << "-888 is no point";
    EXPECT_GT(m.Series(3).PointCount(), 0);
    // Shown as the boxes say, drawn once (a second pass only for the margin).
    EXPECT_TRUE(w->Plot().SeriesVisible(0));
    EXPECT_TRUE(w->Plot().SeriesVisible(1));
    EXPECT_FALSE(w->Plot().SeriesVisible(3));
    EXPECT_LE(w->Plot().RedrawCount() - redraws, 2);
    EXPECT_FALSE(w->Plot().RedrawPending());
    // The port was not running, so the rebuild does not start it.
    EXPECT_FALSE(w->Port().Active());
}

TEST_F(ChartPage, RebuildReadsTheStationsDatedFilesWhileTheWindowKeepsAnswering) {
    auto w = Make();
    w->Channel(0).setChecked(true);
    util_.stationFolder = "\\ardu\\DS3231";
    const std::string data = util_.StationDataFolder();
    std::filesystem::create_directories(data);
    // Saves of four days, 60 000 readings each; the first is before the date.
    const struct {
        const char* day;
        int value;
    } days[] = {{"2023-04-29", 90}, {"2023-05-01", 10}, {"2023-05-02", 20}, {"2023-05-02", 40}};
    for (int d = 0; d < 4; ++d) {
        std::string text;
        char line[128];
        for (int i = 0; i < 60000; ++i) {
            const int s = d == 3 ? 43200 + i % 43200 : i % 43200;
            std::snprintf(line, sizeof line,
                          "%s %02d:%02d:%02d R:%s %02d:%02d:%02d %d.%d 1 2 3 W4r:0\r\n",
                          days[d].day, s / 3600, s / 60 % 60, s % 60, days[d].day, s / 3600,
                          s / 60 % 60, s % 60, days[d].value, i % 7);
            text += line;
        }
        test::WriteFile(
            data + "/Ardu" + days[d].day + (d == 3 ? " 23_59_59" : " 12_00_00") + ".txt", text);
    }
    w->Log().Append("2023-05-03 08:00:00 R:2023-05-03 08:00:00 30 1 2 3 W4r:0");

    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(1);
    w->RebuildButton().click();
    ASSERT_TRUE(w->FileRebuild().Running()) << "the click returns before the files are read";
    bool progress = false;
    ASSERT_TRUE(WaitUi([&] {
        progress = progress || Utf8(w->StatusText()).starts_with("odbudowa wykresu: ");
        return !w->FileRebuild().Running();
    }));
    EXPECT_GT(ticks, 0) << "the window's timers ran meanwhile";
    EXPECT_TRUE(progress);
    EXPECT_EQ(Utf8(w->StatusText()), "wykresy od: 2023-05-01");

    const std::vector<PlotPoint> points = w->Plot().Model().Series(0).Points();
    ASSERT_GT(points.size(), 4u);
    bool first = false, second = false;
    for (const PlotPoint& p : points) {
        EXPECT_LT(p.y, 90) << "a save before the date is not read";
        first = first || (p.y >= 10 && p.y < 11);
        second = second || (p.y >= 20 && p.y < 21);
    }
    EXPECT_TRUE(first && second);
    EXPECT_EQ(points.back().y, 30) << "the lines in memory come last";
}

// Set POM_ZOOM_SCREENSHOT to a PNG path to keep a picture of the zoomed window.
TEST_F(ChartPage, DragIntoAThinnedDayDrawsItFromTheDatedFilesDoubleClickLeaves) {
    util_.Write(settings::kDniPelnejRozdzielczosci, 1);
    auto w = Make();
    w->resize(1200, 800);
    w->Channel(0).setChecked(true);
    w->Channel(1).setChecked(true);
    util_.stationFolder = "\\ardu\\DS3231";
    const std::string data = util_.StationDataFolder();
    std::filesystem::create_directories(data);
    // Four days of two wandering channels, a reading every 20 s, one save a day.
    double a = 20, b = 8;
    unsigned seed = 1;
    const auto step = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>(seed >> 16 & 0xff) / 255.0 - 0.5;
    };
    for (int d = 1; d <= 4; ++d) {
        std::string text;
        char line[160];
        for (int s = 0; s < 86400; s += 20) {
            a += 0.3 * step();
            b += 0.2 * step();
            std::snprintf(line, sizeof line,
                          "2023-05-%02d %02d:%02d:%02d R:2023-05-%02d %02d:%02d:%02d %.2f %.2f 1 2 "
                          "W4r:0\r\n",
                          d, s / 3600, s / 60 % 60, s % 60, d, s / 3600, s / 60 % 60, s % 60, a, b);
            text += line;
        }
        char name[64];
        std::snprintf(name, sizeof name, "/Ardu2023-05-%02d 23_59_59.txt", d);
        test::WriteFile(data + name, text);
    }
    w->Pages().setCurrentWidget(&w->ChartPage());
    w->show();
    w->RebuildButton().click();
    ASSERT_TRUE(RebuildDone(*w));
    TPlotPanel& plot = w->Plot();
    ASSERT_GT(plot.Model().Series(0).ThinnedCount(), 0);

    // From 1 May 06:00 to 18:00, deep in the thinned points.
    const PlotFrame& f = plot.Frame();
    const double may1 = ToDayNumber({2023, 5, 1});
    ASSERT_LT(may1 + 0.75, *plot.Model().ThinnedUntil());
    const int y = (f.PlotTop() + f.PlotBottom()) / 2;
    QTest::mousePress(&plot, Qt::LeftButton, {}, QPoint(f.Px(may1 + 0.25), y));
    QTest::mouseRelease(&plot, Qt::LeftButton, {}, QPoint(f.Px(may1 + 0.75), y));
    ASSERT_TRUE(plot.View());
    EXPECT_NEAR(plot.View()->from, may1 + 0.25, 0.01);
    ASSERT_TRUE(WaitUi([&] { return plot.Model().HasOverlay(); }));
    // Every reading of the stretch, not four of each 64.
    const std::optional<PointExtent> shown = plot.Model().DrawnInView(0);
    ASSERT_TRUE(shown);
    EXPECT_GT(plot.Model().Drawn(0).Count(), 1000u);
    EXPECT_EQ(plot.Frame().ranges.xmin, plot.View()->from);
    if (const char* png = std::getenv("POM_ZOOM_SCREENSHOT")) w->grab().save(png);

    QTest::mouseDClick(&plot, Qt::LeftButton, {}, QPoint(f.Px(may1 + 0.5), y));
    EXPECT_FALSE(plot.View());
    EXPECT_FALSE(plot.Model().HasOverlay());
    EXPECT_EQ(plot.Frame().ranges.xmin, plot.Model().Series(0).Point(0).x);
}

TEST_F(ChartPage, RebuildStopsARunningPortOnlyForItsDuration) {
    Pty pty;
    auto w = Make(pty.slavePath());
    w->TimerStartCOMaTimer();
    ASSERT_TRUE(w->Port().Active());
    FillLog(*w);
    w->mLista2wykresyClick();
    ASSERT_TRUE(RebuildDone(*w));
    EXPECT_TRUE(w->Port().Active());
    // Lines the station sends after the rebuild still arrive.
    pty.Write("after the rebuild\n");
    EXPECT_TRUE(WaitUi([&] {
        for (const std::string& l : w->Log().Lines())
            if (l.ends_with("after the rebuild")) return true;
        return false;
    }));
}

TEST_F(ChartPage, AttachReloadsTheLastLogIntoTheChartAndTheBoxesShowItsChannels) {
    // The kind's settings name the last saved log and switch channels 1 and 3 on.
    const std::string saved = dir_.path() + "/saved.txt";
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    std::string text;
    for (int i = 0; i < 10; ++i)
        text += today.toStdString() + " 10:00:0" + std::to_string(i) + " R:" + today.toStdString() +
                " 10:00:0" + std::to_string(i) + " " + std::to_string(20 + i) + " 1 2 3 W4r:0\r\n";
    test::WriteFile(saved, text);
    IniDocument kind;
    kind.Set("Komunikacja", "OstatniLog", saved);
    kind.Set("Aktywne", "kan3", "1");
    test::WriteFile(dir_.path() + "/ardu/DS3231/pomiarnik.ini", kind.Serialize());
    Pty pty;
    auto w = Make(pty.slavePath());
    w->TimerStartCOMaTimer();
    pty.Write("Borsk DS3231\r\n");
    ASSERT_TRUE(WaitUi([&] { return util_.stationFolder == "\\ardu\\DS3231"; }));

    EXPECT_GT(w->Plot().PointCount(0), 2);
    EXPECT_TRUE(w->Plot().SeriesVisible(0));
    EXPECT_FALSE(w->Plot().SeriesVisible(1));
    EXPECT_TRUE(w->Plot().SeriesVisible(2));
    EXPECT_TRUE(w->Port().Active()) << "the reload starts the port again";
    EXPECT_TRUE(errors_.empty()) << errors_.front();
}

TEST_F(ChartPage, LinesRightAfterTheGreetingSurviveTheAttachReload) {
    // A long saved log keeps the reload busy for a while.
    const std::string saved = dir_.path() + "/saved.txt";
    std::string text;
    for (int i = 0; i < 200000; ++i)
        text += "2023-05-01 10:00:00 R:2023-05-01 10:00:00 20 1 2 3 W4r:0\r\n";
    test::WriteFile(saved, text);
    IniDocument kind;
    kind.Set("Komunikacja", "OstatniLog", saved);
    test::WriteFile(dir_.path() + "/ardu/DS3231/pomiarnik.ini", kind.Serialize());
    Pty pty;
    auto w = Make(pty.slavePath());
    w->TimerStartCOMaTimer();
    // The reload runs inside the greeting's receive event; what the station
    // says meanwhile must wait in the port, not be purged with its input.
    std::thread station([&] {
        pty.Write("Borsk DS3231\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        pty.Write("labels:Tz;U1;P;H\nI: 2 A | B | 10T\n");
    });
    const bool arrived = WaitUi([&] { return w->Channel(3).text() == "H"; });
    station.join();
    ASSERT_TRUE(arrived);
    EXPECT_EQ(w->Channel(0).text().toStdString(), "Tz");
    EXPECT_EQ(util_.valueCount, 3);
    EXPECT_TRUE(w->Port().Active());
}

TEST_F(ChartPage, ChannelBoxShowsOrHidesItsSeriesAtOnceAndIsStored) {
    auto w = Make();
    FillLog(*w);
    w->Channel(1).click();
    w->mLista2wykresyClick();
    ASSERT_TRUE(RebuildDone(*w));
    ASSERT_TRUE(w->Plot().SeriesVisible(1));
    EXPECT_EQ(Ini("Aktywne", "kan2"), "1");
    const int redraws = w->Plot().RedrawCount();
    w->Channel(1).click();
    EXPECT_FALSE(w->Plot().SeriesVisible(1));
    EXPECT_EQ(Ini("Aktywne", "kan2"), "0");
    EXPECT_GT(w->Plot().RedrawCount(), redraws) << "painted at once";
}

TEST_F(ChartPage, AveragingWindowDialogSetsWindowSettingAndCaptions) {
    auto w = Make();
    ASSERT_DOUBLE_EQ(w->Plot().AvgWindow() * 86400, 60);
    const struct {
        std::optional<std::string> typed;
        double seconds;
        const char* stored;
        const char* menu;
        const char* box;
    } steps[] = {
        {"0", 1, "1", "rysuje uśrednione co 1 sek.", "avg 0:00:01"},
        {"2.5", 2.5, "2", "rysuje uśrednione co 2 sek.", "avg 0:00:02"},
        {"abc", 2.5, "2", "rysuje uśrednione co 2 sek.", "avg 0:00:02"},
        {std::nullopt, 2.5, "2", "rysuje uśrednione co 2 sek.", "avg 0:00:02"},
        {"600", 600, "600", "rysuje uśrednione co 600 sek.", "avg 0:10:00"},
    };
    for (const auto& s : steps) {
        answer_ = s.typed;
        w->PlotAvgDeltaItem().trigger();
        EXPECT_DOUBLE_EQ(w->Plot().AvgWindow() * 86400, s.seconds);
        EXPECT_EQ(Ini("Wykres", "PlotAvgDelta"), s.stored);
        EXPECT_EQ(Utf8(w->PlotAvgDeltaItem().text()), s.menu);
        EXPECT_EQ(Utf8(w->AveragingBox().text()), s.box);
    }
    ASSERT_EQ(asked_.size(), 5u);
    EXPECT_EQ(asked_[0], Cp("średnia z okresu|uśredniaj punkty wykresu co ile sekund ?|60"));
    EXPECT_EQ(asked_[2].substr(asked_[2].rfind('|')), "|2");
}

TEST_F(ChartPage, AveragingBoxSwitchesAveragingOnlyAndPointMarksShowTheCounts) {
    auto w = Make();
    FillLog(*w);
    w->mLista2wykresyClick();
    ASSERT_TRUE(RebuildDone(*w));
    const bool was = w->Plot().Averaging();
    const int redraws = w->Plot().RedrawCount();
    w->AveragingBox().click();
    EXPECT_NE(w->Plot().Averaging(), was);
    EXPECT_EQ(w->Plot().RedrawCount(), redraws) << "nothing is redrawn";

    w->PointsBox().click();
    EXPECT_EQ(w->Plot().PlotMode(), pmDot | pmLine);
    const std::string caption = std::to_string(w->Log().Count()) + " linii w Dane TXT | " +
                                std::to_string(w->Plot().PointCount(0)) + " / " +
                                std::to_string(w->Plot().PointCount(1)) + " / " +
                                std::to_string(w->Plot().PointCount(2)) + Cp(" punktów wykresów");
    EXPECT_EQ(w->Plot().Podpis(), caption);
    w->PointsBox().click();
    EXPECT_EQ(w->Plot().PlotMode(), pmLine);
}

TEST_F(ChartPage, MouseDownInsideTheDataShowsTimeAndValueOutsideLeavesTheStatus) {
    auto w = Make();
    w->Channel(0).setChecked(true);
    FillLog(*w);
    w->mLista2wykresyClick();
    ASSERT_TRUE(RebuildDone(*w));
    w->Pages().setCurrentWidget(&w->ChartPage());
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    const PlotFrame& f = w->Plot().Frame();
    const QPoint inside((f.PlotLeft() + f.PlotRight()) / 2, (f.PlotTop() + f.PlotBottom()) / 2);
    QTest::mousePress(&w->Plot(), Qt::LeftButton, {}, inside);
    const std::string shown = Utf8(w->StatusText());
    ASSERT_EQ(shown.size(), 25u) << shown;
    EXPECT_EQ(shown.substr(0, 11), "2023-05-01 ");
    EXPECT_EQ(shown.substr(19, 2), ", ");
    double value = 0;
    double time = 0;
    ASSERT_TRUE(w->Plot().PixelToValue(inside.x(), inside.y(), value, time));
    EXPECT_NEAR(std::stod(shown.substr(21)), value, 0.06);

    QTest::mousePress(&w->Plot(), Qt::RightButton, {}, QPoint(2, 2));
    EXPECT_EQ(Utf8(w->StatusText()), shown);
}

TEST_F(ChartPage, LeavingThePageHidesTheSeriesComingBackShowsTheCheckedOnes) {
    auto w = Make();
    w->Channel(2).setChecked(true);
    w->Pages().setCurrentWidget(&w->ChartPage());
    w->Pages().setCurrentIndex(0);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(w->Plot().SeriesVisible(i)) << i;
    w->Pages().setCurrentWidget(&w->ChartPage());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(w->Plot().SeriesVisible(i), i == 2) << i;
}

}  // namespace
}  // namespace pom

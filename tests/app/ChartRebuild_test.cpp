#include "app/logic/ChartRebuild.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/logic/ChartPage.h"
#include "app/logic/DataLog.h"
#include "app/logic/Readings.h"
#include "app/logic/StationParse.h"
#include "plot/logic/PlotModel.h"
#include "tests/support/FakeReadingsHost.h"
#include "util/Cp1250.h"
#include "util/Numbers.h"

namespace pom {
namespace {

using ::testing::DoubleNear;
using ::testing::ElementsAre;
using Point = test::FakeReadingsHost::Point;

double Day(int d, int h, int m, int s) {
    return ToDayNumber(LocalDateTime{2023, 5, d, h, m, s, 0});
}

// The window's side of both the readings and the rebuild: points are
// recorded, log lines go into the log being rebuilt.
class RebuildHost final : public test::FakeReadingsHost, public ChartRebuildHost {
public:
    explicit RebuildHost(DataLog& log) : log_(log) {}

    std::string Stamp() override { return stamp; }
    void AppendLog(std::string line) override { log_.Append(std::move(line)); }
    int ValueCount() const override { return valueCount; }
    void SetValueCount(int n) override { valueCount = n; }
    void SetStatusText(const std::string& text) override { status.push_back(text); }
    void AddPoint(int series, int colorIndex, double time, double value) override {
        if (shown || portRunning) ++pointsWhileShownOrRunning;
        FakeReadingsHost::AddPoint(series, colorIndex, time, value);
    }

    void SetAllSeriesVisible(bool visible) override {
        events.push_back(visible ? "all visible" : "all hidden");
        if (!visible) shown = false;
    }
    void ClearPlot() override {
        events.push_back("clear");
        points.clear();
        shown = false;
    }
    void PausePort() override {
        events.push_back("pause");
        portRunning = false;
    }
    void ResumePort() override {
        events.push_back("resume");
        portRunning = true;
    }
    LocalDateTime RebuildStartDate() const override { return startDate; }
    void AltitudeReply(const std::string& line) override {
        altitudeLines.push_back(line);
        if (onAltitude) onAltitude(line);
    }
    void TemperatureReply(const std::string& line) override {
        if (onTemperature) onTemperature(line);
    }
    void ShowChannels() override {
        events.push_back("show channels");
        shown = true;
    }

    LocalDateTime startDate{2023, 5, 1, 0, 0, 0, 0};
    std::vector<std::string> events, altitudeLines;
    std::function<void(const std::string&)> onAltitude, onTemperature;
    bool shown = true;
    bool portRunning = true;
    int pointsWhileShownOrRunning = 0;

private:
    DataLog& log_;
};

class ChartRebuildTest : public ::testing::Test {
protected:
    ChartRebuildTest() { host.valueCount = 4; }

    std::string Rebuild() { return RebuildChartFromLog(log, host, readings); }
    std::vector<double> Series(int k) const {
        std::vector<double> values;
        for (const Point& p : host.points)
            if (p.series == k) values.push_back(p.value);
        return values;
    }

    DataLog log;
    RebuildHost host{log};
    StationValues values;
    Readings readings{host, values};
};

// ---- which lines take part

struct LineCase {
    const char* line;
    RebuildLine kind;
};

class ClassifyTable : public ::testing::TestWithParam<LineCase> {};

TEST_P(ClassifyTable, PicksReadingsAndBarometerLinesOfTheDayOnly) {
    EXPECT_EQ(ClassifyRebuildLine(GetParam().line, "2023-05-01"), GetParam().kind)
        << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ClassifyTable,
    ::testing::Values(
        LineCase{"2023-05-01 12:00:00 R:2023-05-01 11:59:58 21.5 20.9 3.30 12.4 W4r:0",
                 RebuildLine::Reading},
        LineCase{"2023-05-01 12:00:00 O:1013.2;21.5;45", RebuildLine::Barometer},
        // The day before the start date; the station time does not count.
        LineCase{"2023-04-30 23:59:59 R:2023-05-01 00:00:01 21.5 20.9 3.30 12.4 W4r:0",
                 RebuildLine::Skipped},
        LineCase{"2023-05-02 00:00:00 O:1013.2;21.5;45", RebuildLine::Barometer},
        // An altitude reply counts whatever its date, before any filter text.
        LineCase{"2023-04-01 10:00:00 wysokosc n.p.m. [m]: 120.5", RebuildLine::Altitude},
        LineCase{"2023-05-01 10:00:00 error wysokosc n.p.m. [m]: x", RebuildLine::Altitude},
        // So does the mean temperature reply, in both spellings of the degree.
        LineCase{"2023-04-01 10:00:00 temperatura [\260C]: 5.0", RebuildLine::Temperature},
        LineCase{"2023-05-01 10:00:00 temperatura [\302\260C]: 5.0", RebuildLine::Temperature},
        // Messages whose numbers are no readings, and status lines.
        LineCase{"2023-05-01 12:00:00 A:2023-05-01 11:59:58 21.5 20.9 3.30 12.4 W4r:1",
                 RebuildLine::Skipped},
        LineCase{"2023-05-01 12:00:00 I: 3 28FF0000000000A1 | 28FF0000000000A2 | 10T",
                 RebuildLine::Skipped},
        LineCase{"2023-05-01 12:00:00 Open: ttyACM0: 57600", RebuildLine::Skipped},
        LineCase{"2023-05-01 12:00:00 Baud rate: 115200", RebuildLine::Skipped},
        LineCase{"2023-05-01 12:00:00 Start", RebuildLine::Skipped},
        LineCase{"2023-05-01 12:00:00 = = = S T A R T = = =", RebuildLine::Skipped},
        LineCase{"2023-05-01 12:00:00 Active 1<", RebuildLine::Skipped},
        LineCase{"2023-05-01 12:00:00 send command: R<", RebuildLine::Skipped},
        LineCase{"2023-05-01 12:00:00 problem 160424 ccer:8", RebuildLine::Skipped},
        LineCase{"2023-05-01 12:00:00 labels: A;B;C;D", RebuildLine::Skipped},
        LineCase{"2023-05-01 12:00:00 R: temperatura 1 2 3 4 5", RebuildLine::Skipped},
        // Filter texts are case-sensitive: "ERROR" is not "error".
        LineCase{"2023-05-01 12:00:00 O:ERROR;1;2", RebuildLine::Barometer},
        // No stamp, a broken stamp, too short.
        LineCase{"test bufor: 255,255,255,255,35,0, -> -0.1 3.5", RebuildLine::Skipped},
        LineCase{"ERROR: 210816 >980.0", RebuildLine::Skipped},
        LineCase{"2023-13-01 12:00:00 R:2023-05-01 12:00:00 1 2 3 4 W4r:0", RebuildLine::Skipped},
        LineCase{"2023-05-01", RebuildLine::Skipped},
        LineCase{"|  P o m i a r n i k", RebuildLine::Skipped}));

// ---- the rebuild

TEST_F(ChartRebuildTest, RunsItsStepsInOrderAndPlotsWhileHiddenAndThePortStopped) {
    log.Append("2023-05-01 12:00:00 R:2023-05-01 12:00:00 21.5 20.9 3.30 12.4 W4r:0");
    host.stamp = "2023-05-01 13:00:00 ";
    EXPECT_EQ(Rebuild(), "wykresy od: 2023-05-01");
    EXPECT_THAT(host.events, ElementsAre("all hidden", "clear", "pause", "resume", "all visible",
                                         "show channels"));
    EXPECT_EQ(host.points.size(), 4u);
    EXPECT_EQ(host.pointsWhileShownOrRunning, 0);
    ASSERT_EQ(log.Count(), 2u);
    EXPECT_EQ(log.Line(1), "2023-05-01 13:00:00 Active 1<");
    EXPECT_THAT(host.status, ElementsAre("wykresy od: 2023-05-01"));
}

TEST_F(ChartRebuildTest, LinesStampedBeforeTheStartDateAreNotPlottedTheDaysAre) {
    log.Append("2023-04-30 23:59:50 R:2023-04-30 23:59:50 1 2 3 4 W4r:0");
    log.Append("2023-05-01 00:00:00 R:2023-05-01 00:00:00 5 6 7 8 W4r:0");
    log.Append("2023-04-30 12:00:00 O:1000.0;10;20");
    log.Append("2023-05-01 12:00:00 O:1013.2;21.5;45");
    Rebuild();
    // With readings in the log the pressure has a series of its own.
    EXPECT_THAT(Series(0), ElementsAre(5));
    EXPECT_THAT(Series(4), ElementsAre(1013.2));
}

TEST_F(ChartRebuildTest, OnlyBannerAndStatusLinesGiveAnEmptyChart) {
    log.SetText(
        "|  P o m i a r n i k\r\n| \r\n"
        "2023-05-01 12:00:00 Start\r\n"
        "2023-05-01 12:00:00 Open: ttyACM0: 57600\r\n"
        "2023-05-01 12:00:01 = = = S T A R T = = =\r\n"
        "2023-05-01 12:00:01 Active 2<\r\n"
        "2023-05-01 12:00:02 send command: i<\r\n"
        "2023-05-01 12:00:03 Borsk DS3231 v1.2 ? for help\r\n"
        "2023-05-01 12:00:04 Baud rate: 19200\r\n");
    host.startDate = {2023, 4, 7, 0, 0, 0, 0};
    EXPECT_EQ(Rebuild(), "wykresy od: 2023-04-07");
    EXPECT_TRUE(host.points.empty());
}

TEST_F(ChartRebuildTest, LoggedBarometerExamplePlotsItsThreeValuesAtItsStamp) {
    log.Append("2023-05-01 12:00:00 O:1013.2;21.5;45");
    host.valueCount = 3;
    Rebuild();
    ASSERT_GE(host.points.size(), 3u);
    const double t = Day(1, 12, 0, 0);
    EXPECT_EQ(host.points[0], (Point{0, t, 1013.2}));
    EXPECT_EQ(host.points[1], (Point{1, t, 21.5}));
    EXPECT_EQ(host.points[2], (Point{2, t, 45}));
    // The barometer labels are set once, from the record.
    EXPECT_EQ(host.labelUpdates, 1);
    EXPECT_EQ(host.labels.labBaro, " 1013.2 hPa");
    // The receive path's value count is left as it was.
    EXPECT_EQ(host.valueCount, 3);
}

TEST_F(ChartRebuildTest, MissingValueAddsNoPointAndLeavesTheOtherSeries) {
    log.Append("2023-05-01 12:00:00 R:2023-05-01 12:00:00 21.5 -888 3.3 -888 W4r:0");
    log.Append("2023-05-01 12:00:10 O:-888;21.5;45");
    Rebuild();
    for (const Point& p : host.points) EXPECT_NE(p.value, -888) << p.series;
    std::vector<int> series;
    for (const Point& p : host.points) series.push_back(p.series);
    // The barometer line after the readings' series; without a pressure
    // nothing is derived from it either.
    EXPECT_THAT(series, ElementsAre(0, 2, 5, 6));
}

TEST_F(ChartRebuildTest, StatusLinesWithNumbersAndNonReadingMessagesAddNoPoint) {
    log.Append("2023-05-01 12:00:00 Open: ttyACM0: 57600");
    log.Append("2023-05-01 12:00:01 A:2023-05-01 12:00:00 21.5 20.9 3.30 12.4 W4r:1");
    log.Append("2023-05-01 12:00:02 I: 2 28FF0000000000A1 | 28FF0000000000A2 | 10T");
    log.Append("2023-05-01 12:00:03 ERROR: 210817 >abc;1");
    log.Append("2023-05-01 12:00:04 Auto Run: 1 2 3");
    Rebuild();
    EXPECT_TRUE(host.points.empty());
}

TEST_F(ChartRebuildTest, ValueCountBelowOneIsRaisedToOneOtherwiseKept) {
    host.valueCount = -1;
    Rebuild();
    EXPECT_EQ(host.valueCount, 1);
    host.valueCount = 6;
    Rebuild();
    EXPECT_EQ(host.valueCount, 6);
}

TEST_F(ChartRebuildTest, AltitudeReplyIsHandedOverAndLinesItLogsAreNotReadAgain) {
    log.Append("2023-04-01 10:00:00 wysokosc n.p.m. [m]: 0");
    log.Append("2023-05-01 12:00:00 O:1013.2;21.5;45");
    // A complaint long enough, and often enough, to move the log's lines.
    host.onAltitude = [this](const std::string& line) {
        values.altitude = 0;
        for (int i = 0; i < 64; ++i)
            log.Append("2023-05-01 12:00:00 O:900;1;2 complaint about " + line);
    };
    Rebuild();
    EXPECT_THAT(host.altitudeLines, ElementsAre("2023-04-01 10:00:00 wysokosc n.p.m. [m]: 0"));
    // Only the logged barometer line: at sea level its reduction is itself.
    ASSERT_EQ(host.points.size(), 6u);
    EXPECT_EQ(host.points[3].value, 1013.2);
}

// The picture of a rebuild is the picture the live path drew.
TEST_F(ChartRebuildTest, RebuildOfALiveLogGivesTheLivePoints) {
    const struct {
        const char* stamp;
        const char* line;
    } received[] = {
        {"2023-05-01 12:00:00 ", "Borsk DS3231 v1.2 ? for help"},
        {"2023-05-01 12:00:01 ",
         "I: 3 28FF0000000000A1 | 28FF0000000000A2 | 28FF0000000000A3 | 10T"},
        {"2023-05-01 12:00:02 ", "A:2023-05-01 12:00:02 21.50 20.94 3.30 12.42 W4r:2"},
        {"2023-05-01 12:00:03 ", "R:2023-05-01 11:58:40 21.25 20.90 3.31 12.40 W4r:1"},
        {"2023-05-01 12:00:04 ", "R:2023-05-01 11:59:50 21.37 -888 3.31 12.44 W4r:0"},
        {"2023-05-01 12:00:05 ", "R:2023-05-01 12:00:02 21.50 20.94 W4r:0"},
        {"2023-05-01 12:00:06 ", "O:980.0;21.5;45.0"},
        {"2023-05-01 12:00:16 ", "O:981.5;21.7;44.0"},
        {"2023-05-01 12:00:26 ", "O:-888;21.9;43.5"},
    };
    host.valueCount = 4;
    for (const auto& r : received) {
        // As the receive path does: log the line, then hand it over.
        host.stamp = r.stamp;
        log.Append(std::string(r.stamp) + r.line);
        const std::string line = r.line;
        if (line.starts_with("R:") || line.starts_with("A:")) readings.HandleReading(line);
        if (line.starts_with("O:")) readings.HandleBarometer(line);
        if (line.starts_with("I: ")) readings.HandleSensorInfo(line);
    }
    const std::vector<Point> live = host.points;
    ASSERT_EQ(live.size(), 4u + 3u + 6u + 6u + 2u);

    host.stamp = "2023-05-01 12:01:00 ";
    Rebuild();
    EXPECT_EQ(host.points, live);
}

// The mean temperature replies count where they were logged, as they did
// live: the sea-level series after a restart is the one uploaded.
TEST_F(ChartRebuildTest, TemperatureRepliesReduceTheBarometerLinesAfterThem) {
    host.onTemperature = [this](const std::string& line) {
        values.meanTemperature = *ParseDecimal(line.substr(line.find("]:") + 2));
    };
    log.Append("2023-04-30 10:00:00 temperatura [\260C]: -10.0");
    log.Append("2023-05-01 12:00:00 O:980.0;21.5;45.0");
    log.Append("2023-05-01 12:00:10 temperatura [\260C]: 30.0");
    log.Append("2023-05-01 12:00:20 O:980.0;21.5;45.0");
    Rebuild();
    EXPECT_THAT(Series(3), ElementsAre(DoubleNear(980.0 / PressureRatioT(295.0, -10.0), 0.051),
                                       DoubleNear(980.0 / PressureRatioT(295.0, 30.0), 0.051)));
}

// ---- number handling the rebuild leans on

TEST(FormatFixedTest, GivesPrintfsDigitsTiesAndLargeValuesIncluded) {
    const double values[] = {0,      -0.0,     0.25, 0.35,     2.5,   -0.05,  1013.25,
                             980.05, 735.1499, 1e20, -123.456, 1e300, 5e-324, 0.125};
    for (const double v : values) {
        for (const int d : {0, 1, 2, 3}) {
            char buf[512];
            std::snprintf(buf, sizeof buf, "%.*f", d, v);
            EXPECT_EQ(FormatFixed(v, d), buf) << v << " " << d;
        }
    }
}

TEST(NumberReaderTest, ReadsTheNumbersExtractNumberCounts) {
    for (const std::string_view text :
         {std::string_view(" O:980.0;21.5;45.0;1014.4;-999"), std::string_view(";.5;-888;W4r:3"),
          std::string_view("1e5x-2.e3;E7;+-;"), std::string_view("")}) {
        NumberReader numbers(text);
        for (int n = 1; n <= 6; ++n) EXPECT_EQ(numbers.Next(), ExtractNumber(n, text)) << text;
    }
}

// ---- the page's texts

TEST(AvgWindowTest, TypedSecondsSetTheWindowTheSettingAndBothCaptions) {
    const struct {
        const char* typed;
        double seconds;
        int stored;
        const char* box;
    } cases[] = {
        {"0", 1, 1, "avg 0:00:01"},
        {"-5", 1, 1, "avg 0:00:01"},
        {"2.5", 2.5, 2, "avg 0:00:02"},
        {"3.5", 3.5, 4, "avg 0:00:03"},
        {" 60 ", 60, 60, "avg 0:01:00"},
        {"600", 600, 600, "avg 0:10:00"},
        {"90061", 90061, 90061, "avg 1:01:01"},
    };
    for (const auto& c : cases) {
        const auto choice = ParseAvgWindow(c.typed);
        ASSERT_TRUE(choice) << c.typed;
        EXPECT_DOUBLE_EQ(choice->windowDays * 86400, c.seconds) << c.typed;
        EXPECT_EQ(choice->storedSeconds, c.stored) << c.typed;
        EXPECT_EQ(choice->menuCaption,
                  Cp("rysuje uśrednione co ") + std::to_string(c.stored) + " sek.");
        EXPECT_EQ(choice->boxCaption, c.box) << c.typed;
    }
    for (const char* bad : {"", "abc", "1,5", "5 s", "1e12"})
        EXPECT_FALSE(ParseAvgWindow(bad)) << bad;
    EXPECT_EQ(AvgWindowDialogText(60 / 86400.0), "60");
    EXPECT_EQ(AvgWindowDialogText(2.5 / 86400.0), "2");
    EXPECT_EQ(AvgWindowCaption(60 / 86400.0), "avg 0:01:00");
}

TEST(ReadoutTest, TimeToTheSecondAndTheValueInFourCharacters) {
    EXPECT_EQ(ReadoutText(Day(1, 12, 0, 0), 21.456), "2023-05-01 12:00:00, 21.5");
    EXPECT_EQ(ReadoutText(Day(1, 23, 59, 59) + 0.4 / 86400, 3.14159), "2023-05-01 23:59:59, 3.14");
    EXPECT_EQ(ReadoutText(Day(2, 0, 0, 0), 1013.2), "2023-05-02 00:00:00, 1013");
    EXPECT_EQ(ReadoutText(Day(2, 0, 0, 0), 123456), "2023-05-02 00:00:00, ****");
}

}  // namespace
}  // namespace pom

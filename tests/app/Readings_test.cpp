#include "app/logic/Readings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/logic/StationParse.h"
#include "plot/logic/PlotModel.h"
#include "tests/support/FakeReadingsHost.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

using ::testing::ElementsAre;
using Point = test::FakeReadingsHost::Point;

class ReadingsTest : public ::testing::Test {
protected:
    ReadingsTest() { readings.AddSink(upload); }

    // A closed record given by its upload text only.
    static ClosedRecord Closed(const std::string& text) {
        ClosedRecord r;
        r.text = text;
        return r;
    }

    // "R:" + time + values + the count token.
    int R(const std::string& time, const std::string& values, int waiting = 0) {
        return readings.HandleReading("R:2023-05-01 " + time + " " + values +
                                      " W4r:" + std::to_string(waiting));
    }

    test::FakeReadingsHost host;
    StationValues values;
    Readings readings{host, values};
    UploadSink upload{host};
};

TEST_F(ReadingsTest, ReadingLineBecomesARecordQueuedAndCounted) {
    EXPECT_EQ(readings.HandleReading("R:2023-05-01 12:00:00 21.5 22.0 3.30 W4r:2"), 2);
    EXPECT_EQ(host.valueCount, 3);
    // The first record of a run always closes a period.
    EXPECT_THAT(host.queue, ElementsAre("2023-05-01 12:00:00 21.5; 22; 3.3; "));
    EXPECT_THAT(host.web, ElementsAre("2023-05-01 12:00:00 dopisuje do kolejki[1]: "
                                      "2023-05-01 12:00:00 21.5; 22; 3.3; "));
    EXPECT_THAT(host.uploadIntervals, ElementsAre(5000));
    EXPECT_EQ(readings.AvgReadings(), 0);
    // Three values are not the four a chart point needs.
    EXPECT_TRUE(host.points.empty());
}

TEST_F(ReadingsTest, AnnouncementSetsCountButRecordsNothing) {
    EXPECT_EQ(readings.HandleReading("A:2023-05-01 12:00:00 21.5 22.0 3.30 W4r:7"), 7);
    EXPECT_EQ(host.valueCount, 3);
    EXPECT_TRUE(host.queue.empty());
    EXPECT_TRUE(host.points.empty());
    EXPECT_EQ(readings.AvgReadings(), 0);
}

TEST_F(ReadingsTest, LineWithoutCountLosesItsLastValueAndReportsNothingWaiting) {
    EXPECT_EQ(readings.HandleReading("R:2023-05-01 12:00:00 21.5 22.0 3.30"), 0);
    EXPECT_EQ(host.valueCount, 2);
    EXPECT_THAT(host.queue, ElementsAre("2023-05-01 12:00:00 21.5; 22; "));
}

TEST_F(ReadingsTest, PeriodIsARunningHalvingClosedByTheFirstReadingPastTheInterval) {
    R("12:00:00", "1 1 1 1");
    R("12:01:00", "10 -888 4 1");
    R("12:02:00", "20 5 8 1");
    EXPECT_EQ(host.queue.size(), 1u);
    R("12:05:01", "40 7 -888 1");
    // ((10 + 20) / 2 + 40) / 2 = 27.5; a -888 in the period's first reading
    // keeps the slot empty; a later -888 leaves the slot as it was.
    EXPECT_THAT(host.queue, ElementsAre("2023-05-01 12:00:00 1; 1; 1; 1; ",
                                        "2023-05-01 12:05:01 27.5; -888; 6; 1; "));
    // Exactly the interval after the last record does not close a period.
    R("12:10:01", "2 2 2 2");
    EXPECT_EQ(host.queue.size(), 2u);
    R("12:10:02", "4 4 4 4");
    EXPECT_EQ(host.queue.back(), "2023-05-01 12:10:02 3; 3; 3; 3; ");
}

TEST_F(ReadingsTest, EveryReadingWithFourValuesIsPlottedAtItsStationTime) {
    R("12:00:00", "21.5 -888 3.3 0");
    const double t = ToDayNumber({2023, 5, 1, 12, 0, 0, 0});
    EXPECT_THAT(host.points, ElementsAre(Point{0, t, 21.5}, Point{2, t, 3.3}, Point{3, t, 0}));
}

TEST_F(ReadingsTest, ReadingWithABadTimeIsNeitherAveragedNorPlotted) {
    EXPECT_EQ(readings.HandleReading("R:2023-13-01 12:00:00 1 2 3 4 W4r:1"), 1);
    EXPECT_EQ(host.valueCount, 4);
    EXPECT_TRUE(host.queue.empty());
    EXPECT_TRUE(host.points.empty());
    EXPECT_EQ(readings.AvgReadings(), 0);
}

TEST_F(ReadingsTest, ReadingWithFewerNumbersThanExpectedClosesNoPeriod) {
    host.valueCount = 3;
    readings.AccumulateRecord("2023-05-01 12:00:00;1;x;");
    EXPECT_TRUE(host.queue.empty());
    EXPECT_EQ(readings.AvgReadings(), 1);
}

TEST_F(ReadingsTest, EqualRecordIsQueuedOnceAlsoAcrossUncheckingUpload) {
    readings.CloseRecord(Closed("2023-05-01 12:00:00 1,5; "));
    readings.CloseRecord(Closed("2023-05-01 12:00:00 1,5; "));
    EXPECT_THAT(host.queue, ElementsAre("2023-05-01 12:00:00 1.5; "));
    host.uploadChecked = false;
    readings.CloseRecord(Closed("2023-05-01 12:05:00 2; "));
    host.uploadChecked = true;
    readings.CloseRecord(Closed("2023-05-01 12:05:00 2; "));
    readings.CloseRecord(Closed("brak"));
    EXPECT_EQ(host.queue.size(), 1u);
    EXPECT_EQ(readings.LastQueued(), "brak");
}

TEST_F(ReadingsTest, QueueThatCannotKeepTheEntrySaysSoInTheStatusBar) {
    host.queueFails = true;
    upload.Queue("2023-05-01 12:00:00 1; ");
    EXPECT_THAT(host.status,
                ElementsAre("Error 160329 " + Cp("kolejka tylko w pamięci: disk full")));
    EXPECT_TRUE(host.web.empty());
}

TEST_F(ReadingsTest, ValuesPastTheEleventhAreLeftOutOfTheRecord) {
    R("12:00:00", "1 2 3 4 5 6 7 8 9 10 11 12 13");
    EXPECT_EQ(host.valueCount, 13);
    EXPECT_THAT(host.queue, ElementsAre("2023-05-01 12:00:00 1; 2; 3; 4; 5; 6; 7; 8; 9; 10; 11; "));
}

TEST_F(ReadingsTest, SensorInformationFillsTheMacMemo) {
    readings.HandleSensorInfo("I: 3 A | B | C | 10T");
    EXPECT_EQ(host.valueCount, 4);
    EXPECT_EQ(values.measureInterval, 10);
    EXPECT_EQ(host.mac, "setROMs \r\nA\r\nB\r\nC");
    readings.HandleSensorInfo("I: 1 281F948F01000021 | 30T");
    EXPECT_EQ(host.mac, "setROMs \r\n281F948F01000021");
    EXPECT_EQ(values.measureInterval, 30);
    readings.HandleSensorInfo("I: x");
    EXPECT_EQ(host.valueCount, 1);
    EXPECT_EQ(values.measureInterval, 10);
    EXPECT_EQ(host.mac, "setROMs \r\n");
}

TEST_F(ReadingsTest, BarometerLineIsRecordedPlottedAndShown) {
    EXPECT_EQ(readings.HandleBarometer("O:980.0;21.5;45.0"), 0);
    EXPECT_EQ(host.valueCount, 6);
    EXPECT_TRUE(host.log.empty());
    EXPECT_THAT(host.queue,
                ElementsAre("2023-05-01 12:00:00 980; 21.5; 45; 1014.4; 735.1; 760.9; "));
    ASSERT_EQ(host.points.size(), 6u);
    EXPECT_EQ(host.points[3].series, 3);
    EXPECT_DOUBLE_EQ(host.points[5].value, 760.9);
    EXPECT_EQ(host.labels.labBaro, " 980.0 hPa");
    EXPECT_EQ(host.labels.labBaroB, " ( 295.0 m n.p.m. )");
    EXPECT_EQ(host.labels.labBaroNPM, "1015.0 hPa");
    EXPECT_EQ(host.labels.labBaroNPMB, " ( poziom morza ) ");
    EXPECT_EQ(host.labels.labBaroNPM2, "1014.4 hPa");
    EXPECT_EQ(host.labels.labBaroNPM2B, Cp("( 0m, 18°C) "));
    EXPECT_DOUBLE_EQ(readings.LastPressure(), 980.0);
}

TEST_F(ReadingsTest, BarometerAtSeaLevelShowsTheStationPressureThreeTimes) {
    values.altitude = 0;
    readings.HandleBarometer("O:1000.0;20");
    EXPECT_EQ(host.labels.labBaro, " 1000.0 hPa");
    EXPECT_EQ(host.labels.labBaroNPM, "1000.0 hPa");
    EXPECT_EQ(host.labels.labBaroNPM2, "1000.0 hPa");
}

TEST_F(ReadingsTest, BarometerLineWithoutSemicolonLogsBothErrors) {
    readings.HandleBarometer("O:980.0");
    EXPECT_THAT(host.log, ElementsAre("ERROR: 210816 >980.0", "ERROR: 210817 >980.0"));
    EXPECT_EQ(host.valueCount, 4);
    ASSERT_EQ(host.queue.size(), 1u);
    // No pressure: nothing is derived from it.
    EXPECT_EQ(host.queue[0], "2023-05-01 12:00:00 980; -888; -888; -888; ");
}

TEST_F(ReadingsTest, BarometerPayloadWithAnEmptyFieldTakesTheClosingMark) {
    readings.HandleBarometer("O:980.0;;45.0");
    EXPECT_EQ(host.valueCount, 6);
    ASSERT_EQ(host.queue.size(), 1u);
    EXPECT_TRUE(host.queue[0].ends_with("; -999; ")) << host.queue[0];
    // The labels need every value; one short record leaves them unchanged.
    EXPECT_EQ(host.labelUpdates, 1);
    host.valueCount = 9;
    readings.ShowBarometer("2023-05-01 12:00:00 990.0;1;2;");
    EXPECT_EQ(host.labelUpdates, 1);
}

// --- a station that sends both readings and barometer records

TEST_F(ReadingsTest, NoChartLineJoinsATemperatureToAPressure) {
    // Before any reading the barometer has the low series, as for a station
    // that sends nothing else; the first reading moves it up, once.
    readings.HandleBarometer("O:1000.0;21.5;45.0");
    EXPECT_EQ(host.points.front().series, 0);
    readings.HandleReading("A:2023-05-01 12:00:00 21.5 20.9 3.30 12.4 W4r:1");
    R("12:00:00", "21.5 20.9 3.30 12.4");
    host.stamp = "2023-05-01 12:00:10 ";
    readings.HandleBarometer("O:1001.0;21.6;45.0");
    R("12:00:10", "21.6 20.9 3.30 12.4");
    EXPECT_EQ(host.shifts, 1);
    std::map<int, std::vector<double>> bySeries;
    for (const Point& p : host.points) bySeries[p.series].push_back(p.value);
    EXPECT_THAT(bySeries[0], ElementsAre(21.5, 21.6));
    EXPECT_THAT(bySeries[4], ElementsAre(1000.0, 1001.0));
    EXPECT_THAT(bySeries[5], ElementsAre(21.5, 21.6));
    EXPECT_EQ(bySeries.rbegin()->first, 9);
    EXPECT_EQ(host.labels.labBaro, " 1001.0 hPa");
}

// --- records whose time goes backwards

struct PeriodCase {
    const char* name;
    std::vector<std::string> times;  // station times of readings of value 1, 2, 3 ...
    std::vector<std::string> queued;
};

class PeriodTable : public ReadingsTest, public ::testing::WithParamInterface<PeriodCase> {};

TEST_P(PeriodTable, ARecordBeforeThePeriodsStartClosesIt) {
    int v = 0;
    for (const std::string& t : GetParam().times) R(t, std::to_string(++v));
    std::vector<std::string> queued;
    for (const std::string& q : GetParam().queued) queued.push_back("2023-05-01 " + q + "; ");
    EXPECT_EQ(host.queue, queued);
}

// A glitch to later in the day stands for one into the future.
INSTANTIATE_TEST_SUITE_P(
    Readings, PeriodTable,
    ::testing::Values(PeriodCase{"ClockSetBack",
                                 {"12:00:00", "12:01:00", "11:00:00", "11:01:00", "11:06:00"},
                                 {"12:00:00 1", "11:00:00 2.5", "11:06:00 4.5"}},
                      PeriodCase{"OneGlitchIntoTheFuture",
                                 {"12:00:00", "23:00:00", "12:01:00", "12:02:00"},
                                 {"12:00:00 1", "23:00:00 2", "12:01:00 3"}},
                      PeriodCase{"SameTimeStaysInThePeriod",
                                 {"12:00:00", "12:00:00", "12:05:01"},
                                 {"12:00:00 1", "12:05:01 2.5"}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- derived barometer values: only from a pressure, only finite numbers

struct DerivedCase {
    const char* name;
    const char* payload;
    double altitude;
    const char* values;
};

class DerivedTable : public ReadingsTest, public ::testing::WithParamInterface<DerivedCase> {};

TEST_P(DerivedTable, NoNumberFromTheMissingMarkAndNoWordForANumber) {
    const DerivedCase& c = GetParam();
    values.altitude = c.altitude;
    values.meanTemperature = 18;
    EXPECT_EQ(readings.BarometerValues(c.payload), c.values);
    readings.HandleBarometer(std::string("O:") + c.payload);
    for (const std::string& text :
         {host.queue.at(0), host.labels.labBaro, host.labels.labBaroNPM, host.labels.labBaroNPM2}) {
        EXPECT_EQ(text.find("inf"), std::string::npos) << text;
        EXPECT_EQ(text.find("nan"), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Readings, DerivedTable,
    ::testing::Values(
        DerivedCase{"MissingPressure", "-888;21.5;45", 295, "-888;21.5;45;-888;-888;-888;-999"},
        DerivedCase{"NegativePressure", "-1.5;21.5;45", 295, "-1.5;21.5;45;-888;-888;-888;-999"},
        // The temperature must not slide into the pressure's channel.
        DerivedCase{"UnreadablePressure", "abc;21.5;45", 295, "-888;21.5;45;-888;-888;-888;-999"},
        // The standard atmosphere of the label ends below this height.
        DerivedCase{"AltitudeAboveTheStandardAtmosphere", "980.0;21.5;45", 50000,
                    "980.0;21.5;45;50436.6;735.1;37830.6;-999"},
        DerivedCase{"AbsurdAltitude", "980.0;21.5;45", 1e300,
                    "980.0;21.5;45;-888;735.1;-888;-999"}),
    [](const auto& info) { return std::string(info.param.name); });

struct NumberCase {
    int n;
    const char* text;
    std::optional<double> value;
};

class ExtractNumberTable : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ExtractNumberTable, FindsTheNthNumber) {
    const NumberCase& c = GetParam();
    EXPECT_EQ(ExtractNumber(c.n, c.text), c.value) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Readings, ExtractNumberTable,
    ::testing::Values(NumberCase{1, "21.5;22.0;", 21.5}, NumberCase{2, "21.5;22.0;", 22.0},
                      NumberCase{3, "21.5;22.0;", std::nullopt}, NumberCase{1, "-888;", -888},
                      NumberCase{1, "W4r:2", 4}, NumberCase{2, "W4r:2", 2},
                      NumberCase{1, ".5;", 0.5}, NumberCase{1, "7.;", 7}, NumberCase{1, "E5;", 5},
                      NumberCase{1, "1e3x", 1000}, NumberCase{1, "5-", 5},
                      NumberCase{1, "1-2;3", 3}, NumberCase{1, "abc", std::nullopt},
                      NumberCase{1, "", std::nullopt}));

TEST(FormatGeneral7Test, SevenSignificantDigitsWithoutTrailingZeros) {
    EXPECT_EQ(FormatGeneral7(22.0), "22");
    EXPECT_EQ(FormatGeneral7(21.25), "21.25");
    EXPECT_EQ(FormatGeneral7(-888), "-888");
    EXPECT_EQ(FormatGeneral7(1.0 / 3), "0.3333333");
    EXPECT_EQ(FormatGeneral7(1014.4123456), "1014.412");
    EXPECT_EQ(FormatGeneral7(9999999.4), "9999999");
    EXPECT_EQ(FormatGeneral7(12345678), "1.234568E7");
    EXPECT_EQ(FormatGeneral7(0.00001), "0.00001");
    EXPECT_EQ(FormatGeneral7(0.000001234), "1.234E-6");
    EXPECT_EQ(FormatGeneral7(-0.0), "0");
}

TEST(ParseDateTimeTest, TakesTheStationsFormAndRefusesImpossibleDates) {
    EXPECT_EQ(ParseDateTime("2023-05-01 12:00:00"), (LocalDateTime{2023, 5, 1, 12, 0, 0, 0}));
    EXPECT_EQ(ParseDateTime("2024-2-29 9:05"), (LocalDateTime{2024, 2, 29, 9, 5, 0, 0}));
    EXPECT_EQ(ParseDateTime("2023-05-01"), (LocalDateTime{2023, 5, 1, 0, 0, 0, 0}));
    for (const char* bad : {"2023-02-29 12:00:00", "2023-04-31 00:00:00", "2023-05-01 24:00:00",
                            "2023-05-01 12:60:00", "2023/05/01 12:00:00", "2023-05-01 12:00:00x",
                            "", "Open: ttyACM0"})
        EXPECT_FALSE(ParseDateTime(bad).has_value()) << bad;
}

// --- closed records reach the other sinks, once each, with or without uploads

struct SeenRecord {
    ClosedRecord::Kind kind;
    std::string time;  // "yyyy-mm-dd hh:mm:ss"
    std::vector<double> values;
};

class RecordingSink : public RecordSink {
public:
    void RecordClosed(const ClosedRecord& r) override {
        SeenRecord s{r.kind, FormatStamp(r.time).substr(0, 19), {}};
        for (int i = 0; i < r.count; ++i) s.values.push_back(r.values[static_cast<std::size_t>(i)]);
        seen.push_back(s);
        texts.push_back(r.text);
    }
    std::vector<SeenRecord> seen;
    std::vector<std::string> texts;
};

// One step: an "O:" payload taken at `stamp`, or an "R:" line when no stamp.
struct SinkStep {
    const char* stamp;
    const char* line;
};

struct SinkCase {
    const char* name;
    bool uploads;
    std::vector<SinkStep> steps;
    std::vector<SeenRecord> expected;
};

class SinkTable : public ReadingsTest, public ::testing::WithParamInterface<SinkCase> {};

constexpr auto kR = ClosedRecord::Kind::Readings;
constexpr auto kB = ClosedRecord::Kind::Barometer;

TEST_P(SinkTable, SeesEachClosedRecordOnceWithItsKindTimeAndValues) {
    const SinkCase& c = GetParam();
    RecordingSink sink;
    readings.AddSink(sink);
    host.uploadChecked = c.uploads;
    values.altitude = 0;
    for (const SinkStep& s : c.steps) {
        if (s.stamp) {
            host.stamp = s.stamp;
            readings.HandleBarometer(s.line);
        } else {
            readings.HandleReading(s.line);
        }
    }
    ASSERT_EQ(sink.seen.size(), c.expected.size());
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
        EXPECT_EQ(sink.seen[i].kind, c.expected[i].kind) << i;
        EXPECT_EQ(sink.seen[i].time, c.expected[i].time) << i;
        EXPECT_THAT(sink.seen[i].values,
                    ::testing::Pointwise(::testing::DoubleEq(), c.expected[i].values))
            << i;
    }
    // With uploads on, the sink gets the very entries the queue got.
    if (c.uploads)
        EXPECT_EQ(sink.texts, host.queue);
    else
        EXPECT_TRUE(host.queue.empty());
}

// A pressure, a reading between, and a pressure the station could not measure.
const std::vector<SinkStep> kBarometerSteps{{"2023-05-01 12:00:00 ", "O:1000;20"},
                                            {nullptr, "R:2023-05-01 12:00:30 5 W4r:0"},
                                            {"2023-05-01 12:06:00 ", "O:-5;20"}};
const std::vector<SeenRecord> kBarometerSeen{
    {kB, "2023-05-01 12:00:00", {1000, 20, 1000, 750.1, 750.1}},
    {kR, "2023-05-01 12:00:30", {5}},
    {kB, "2023-05-01 12:06:00", {-5, 20, -888, -888, -888}}};

INSTANTIATE_TEST_SUITE_P(
    Readings, SinkTable,
    ::testing::Values(SinkCase{"ReadingsAveragedPerPeriod",
                               true,
                               {{nullptr, "R:2023-05-01 12:00:00 1 -888 W4r:0"},
                                {nullptr, "R:2023-05-01 12:01:00 10 2 W4r:0"},
                                {nullptr, "R:2023-05-01 12:02:00 20 4 W4r:0"},
                                {nullptr, "R:2023-05-01 12:05:01 40 -888 W4r:0"}},
                               {{kR, "2023-05-01 12:00:00", {1, -888}},
                                {kR, "2023-05-01 12:05:01", {27.5, 3}}}},
                      SinkCase{"BarometerApartFromReadings", true, kBarometerSteps, kBarometerSeen},
                      SinkCase{"UploadsOff", false, kBarometerSteps, kBarometerSeen},
                      SinkCase{"ClockSetBackClosesEachPeriod",
                               false,
                               {{nullptr, "R:2023-05-01 12:00:00 7 W4r:0"},
                                {nullptr, "R:2023-05-01 11:00:00 7 W4r:0"},
                                {nullptr, "R:2023-05-01 12:00:00 7 W4r:0"},
                                {nullptr, "R:2023-05-01 12:00:00 7 W4r:0"}},
                               {{kR, "2023-05-01 12:00:00", {7}},
                                {kR, "2023-05-01 11:00:00", {7}},
                                {kR, "2023-05-01 12:00:00", {7}}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReadingsTest, SinkThatThrowsIsReportedAndTheNextSinkStillGetsTheRecord) {
    struct Throwing : RecordSink {
        void RecordClosed(const ClosedRecord&) override { throw std::runtime_error("broker"); }
    } bad;
    RecordingSink good;
    readings.AddSink(bad);
    readings.AddSink(good);
    R("12:00:00", "1");
    EXPECT_THAT(host.status, ElementsAre("Error 261208 broker"));
    EXPECT_EQ(good.seen.size(), 1u);
    EXPECT_THAT(host.queue, ElementsAre("2023-05-01 12:00:00 1; "));
}

}  // namespace
}  // namespace pom

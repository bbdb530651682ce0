#include "tools/station/SimStation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "app/logic/StationParse.h"

namespace pom::station {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const LocalDateTime kStart{2023, 5, 1, 12, 0, 0, 0};

std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> r;
    std::string cur;
    for (char c : bytes) {
        if (c == '\n') {
            r.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    EXPECT_EQ(cur, "") << "station output must end with a line end";
    return r;
}

std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> r;
    std::size_t p = 0;
    while (p < line.size()) {
        const auto e = line.find(' ', p);
        r.push_back(line.substr(p, e - p));
        if (e == std::string::npos) break;
        p = e + 1;
    }
    return r;
}

class SimStationTest : public ::testing::Test {
protected:
    Options opt;
    std::int64_t now = 1000;

    SimStation Make() { return SimStation(opt, kStart, now); }
    std::vector<std::string> Say(SimStation& s, const std::string& cmd) {
        return Lines(s.Receive(cmd + "\r\n", now));
    }
};

TEST_F(SimStationTest, GreetingNamesSignatureAndKind) {
    auto ds = Make();
    const auto a = Say(ds, "i");
    ASSERT_EQ(a.size(), 2u);
    EXPECT_THAT(a[0], HasSubstr("Borsk"));
    EXPECT_THAT(a[0], ::testing::Not(HasSubstr("BME280")));
    EXPECT_EQ(a[1],
              "labels:T1 [\xC2\xB0"
              "C];T2 [\xC2\xB0"
              "C];U1 [V];U2 [V]");

    opt.kind = Kind::BME280;
    opt.degree = Degree::Byte;
    auto bme = Make();
    const auto b = Say(bme, "i");
    ASSERT_EQ(b.size(), 2u);
    EXPECT_THAT(b[0], HasSubstr("Borsk"));
    EXPECT_THAT(b[0], HasSubstr("BME280"));
    EXPECT_EQ(b[1],
              "labels:T1 [\xB0"
              "C];T2 [\xB0"
              "C];U1 [V];U2 [V]");
}

TEST_F(SimStationTest, ReadingsFollowTheIntervalOnTheStationClock) {
    opt.intervalSeconds = 10;
    auto s = Make();
    EXPECT_EQ(s.Advance(now + 9999), "");
    EXPECT_EQ(s.MsUntilNextReading(now + 9999), 1);
    const auto first = Lines(s.Advance(now + 10000));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_THAT(first[0], StartsWith("A:2023-05-01 12:00:10 "));
    EXPECT_THAT(first[0], ::testing::EndsWith(" W4r:1"));
    // Three intervals at once give three readings with their own times.
    const auto more = Lines(s.Advance(now + 40000));
    ASSERT_EQ(more.size(), 3u);
    EXPECT_THAT(more[0], StartsWith("A:2023-05-01 12:00:20 "));
    EXPECT_THAT(more[2], StartsWith("A:2023-05-01 12:00:40 "));
    EXPECT_EQ(W4rCount(more[2]), 4);
    EXPECT_EQ(s.Stored(), 4u);
}

TEST_F(SimStationTest, TimeScaleMakesTheClockRunFaster) {
    opt.timeScale = 100;
    opt.intervalSeconds = 60;
    auto s = Make();
    EXPECT_EQ(s.MsUntilNextReading(now), 600);
    const auto l = Lines(s.Advance(now + 600));
    ASSERT_EQ(l.size(), 1u);
    EXPECT_THAT(l[0], StartsWith("A:2023-05-01 12:01:00 "));
    EXPECT_EQ(s.ClockAt(now + 1200), (LocalDateTime{2023, 5, 1, 12, 2, 0, 0}));
}

TEST_F(SimStationTest, ReadingLineHasTheReceiversLayout) {
    opt.sensors = 3;
    auto s = Make();
    const auto l = Lines(s.Advance(now + 10000));
    ASSERT_EQ(l.size(), 1u);
    // "A:" + 19 characters of time + one blank, then the values, then W4r.
    EXPECT_EQ(l[0][21], ' ');
    const auto tokens = Tokens(l[0].substr(22));
    ASSERT_EQ(tokens.size(), 3u + 2 + 2 + 1);
    for (std::size_t i = 0; i + 1 < tokens.size(); ++i)
        EXPECT_TRUE(ParseDecimal(tokens[i]).has_value()) << tokens[i];
    EXPECT_EQ(tokens.back(), "W4r:1");
    // Plausible values: room temperatures, a 3.3 V and a 12 V supply.
    EXPECT_NEAR(*ParseDecimal(tokens[0]), 20.0, 3.0);
    EXPECT_NEAR(*ParseDecimal(tokens[3]), 3.3, 0.1);
    EXPECT_NEAR(*ParseDecimal(tokens[4]), 12.4, 0.6);
}

TEST_F(SimStationTest, BufferKeepsTheNewest128) {
    opt.intervalSeconds = 1;
    auto s = Make();
    s.Advance(now + 200 * 1000);
    EXPECT_EQ(s.Stored(), SimStation::kCapacity);
    const auto r = Say(s, "R");
    ASSERT_EQ(r.size(), 1u);
    // Readings 1..200 were taken at 12:00:01..12:03:20; 73..200 are kept.
    EXPECT_THAT(r[0], StartsWith("R:2023-05-01 12:01:13 "));
    EXPECT_EQ(W4rCount(r[0]), 127);
}

TEST_F(SimStationTest, ReadOutIsOldestFirstWithFallingCount) {
    opt.backlog = 3;
    opt.intervalSeconds = 10;
    auto s = Make();
    std::vector<std::string> times;
    std::vector<int> counts;
    for (int i = 0; i < 3; ++i) {
        const auto l = Say(s, "R");
        ASSERT_EQ(l.size(), 1u);
        ASSERT_THAT(l[0], StartsWith("R:"));
        times.push_back(l[0].substr(2, 19));
        counts.push_back(W4rCount(l[0]));
    }
    EXPECT_THAT(times,
                ElementsAre("2023-05-01 11:59:30", "2023-05-01 11:59:40", "2023-05-01 11:59:50"));
    EXPECT_THAT(counts, ElementsAre(2, 1, 0));
    const auto empty = Say(s, "R");
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(W4rCount(empty[0]), 0);
    EXPECT_THAT(empty[0], ::testing::Not(StartsWith("R:")));
}

TEST_F(SimStationTest, PeekReadsBackFromNewestWithoutReleasing) {
    opt.backlog = 3;
    auto s = Make();
    const auto l = Say(s, "1R");
    ASSERT_EQ(l.size(), 1u);
    // Not "R:": the program would take a peek as a read-out reading.
    EXPECT_THAT(l[0], StartsWith("1R:2023-05-01 11:59:40 "));
    EXPECT_EQ(W4rCount(l[0]), 3);
    EXPECT_EQ(s.Stored(), 3u);
}

// Typed commands reach the station unchecked: a number too long for any
// integer type must get a reply, not end the station.
TEST_F(SimStationTest, OverlongNumbersAreAnsweredNotFatal) {
    opt.backlog = 2;
    auto s = Make();
    EXPECT_THAT(Say(s, "123456789012345678901234567890R"),
                ElementsAre("brak rekordu 123456789012345678901234567890"));
    EXPECT_EQ(s.Stored(), 2u);
    EXPECT_THAT(Say(s, "99999999999T"), ElementsAre("zly parametr: 99999999999T"));
    EXPECT_EQ(s.Interval(), 10);
    EXPECT_THAT(Say(s, "99999999999S"), ElementsAre("zly parametr: 99999999999S"));
    EXPECT_EQ(s.AvgCount(), 5);
}

// The station's own help allows intervals up to 2^31 - 1 seconds.
TEST_F(SimStationTest, IntervalUpToTheLargestIntIsTaken) {
    auto s = Make();
    EXPECT_THAT(Say(s, "2147483647T"), ElementsAre("pomiar co ile sekund T: 2147483647"));
    EXPECT_EQ(s.Interval(), 2147483647);
    EXPECT_THAT(Say(s, "2147483648T"), ElementsAre("zly parametr: 2147483648T"));
    EXPECT_EQ(s.Interval(), 2147483647);
}

TEST_F(SimStationTest, ClearEmptiesTheBuffer) {
    opt.backlog = 5;
    auto s = Make();
    Say(s, "F");
    EXPECT_EQ(s.Stored(), 0u);
    EXPECT_EQ(W4rCount(Lines(s.Advance(now + 10000))[0]), 1);
}

TEST_F(SimStationTest, InfoLineHasTheLayoutTheReceiverCuts) {
    opt.sensors = 3;
    auto s = Make();
    const auto l = Say(s, "I");
    ASSERT_EQ(l.size(), 1u);
    const std::string& line = l[0];
    EXPECT_EQ(line.substr(0, 5), "I: 3 ");
    const auto p = line.rfind('|');
    EXPECT_EQ(line.substr(p + 1), " 10T");
    const std::string ids = line.substr(5, p - 1 - 5);
    EXPECT_EQ(ids, s.SensorOrder()[0] + " | " + s.SensorOrder()[1] + " | " + s.SensorOrder()[2]);
    for (const auto& id : s.SensorOrder()) EXPECT_EQ(id.size(), 16u);
}

struct ReplyCase {
    const char* name;
    const char* command;
    const char* reply;
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.name;
}

class SimStationReply : public SimStationTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(SimStationReply, AnswersWithTheTextTheParsersKnow) {
    opt.degree = Degree::Byte;
    auto s = Make();
    EXPECT_THAT(Say(s, GetParam().command), ElementsAre(GetParam().reply));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimStationReply,
    ::testing::Values(
        ReplyCase{"Interval", "15T", "pomiar co ile sekund T: 15"},
        ReplyCase{"IntervalZeroRefused", "0T", "zly parametr: 0T"},
        ReplyCase{"AvgCount", "12S", "pomiarow ile do sredniej: 12"},
        ReplyCase{"Calibration", "-0.50C", "wspolczynnik kalibracyjny, dodaj: -0.50"},
        ReplyCase{"Altitude", "300.0H", "wysokosc n.p.m. [m]: 300.0"},
        ReplyCase{"Temperature", "18.5t",
                  "temperatura [\xB0"
                  "C]: 18.5"},
        ReplyCase{"CommaIsNotANumber", "1,5C", "nieznane polecenie >1,5C<"},
        ReplyCase{"SetTime", "setTime 11:22:33", "RTC ustawiony na 2023-05-01 11:22:33"},
        ReplyCase{"SetDate", "setDate 2024-02-29", "RTC ustawiony na 2024-02-29 12:00:00"},
        ReplyCase{"SetTimeBad", "setTime 25:00:00", "setTime: zly format czasu >25:00:00<"},
        ReplyCase{"SetROMsBad", "setROMs 12345", "setROMs: zle identyfikatory, po 16 znakow hex"},
        ReplyCase{"Unknown", "xyz", "nieznane polecenie >xyz<"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimStationTest, ClockFollowsSetTimeAndSetDate) {
    auto s = Make();
    Say(s, "setTime 23:59:55");
    Say(s, "setDate 2024-12-31");
    const auto l = Lines(s.Advance(now + 10000));
    ASSERT_EQ(l.size(), 1u);
    EXPECT_THAT(l[0], StartsWith("A:2025-01-01 00:00:05 "));
}

TEST_F(SimStationTest, IntervalCommandRetimesTheReadings) {
    auto s = Make();
    now += 5000;
    Say(s, "3T");
    EXPECT_EQ(s.MsUntilNextReading(now), 3000);
    EXPECT_THAT(Say(s, "I")[0], ::testing::EndsWith("| 3T"));
}

TEST_F(SimStationTest, SensorOrderFollowsSetROMs) {
    opt.sensors = 2;
    opt.intervalSeconds = 1;
    auto s = Make();
    const std::string a = s.SensorOrder()[0], b = s.SensorOrder()[1];
    const auto before = Tokens(Lines(s.Advance(now + 1000))[0].substr(22));
    EXPECT_THAT(Say(s, "setROMs " + b + a + "28FFFFFFFFFFFF00"),
                ElementsAre("EEPROM: zapisano 3 ROM"));
    EXPECT_THAT(s.SensorOrder(), ElementsAre(b, a, "28FFFFFFFFFFFF00"));
    EXPECT_THAT(Say(s, "I")[0], StartsWith("I: 3 " + b + " | " + a + " | 28FFFFFFFFFFFF00 |"));
    const auto after = Tokens(Lines(s.Advance(now + 2000))[0].substr(22));
    // The first sensor runs around 19-20 degrees, the second 1.5 higher; an
    // unknown identifier reads -888.
    EXPECT_NEAR(*ParseDecimal(after[1]), *ParseDecimal(before[0]), 0.2);
    EXPECT_NEAR(*ParseDecimal(after[0]), *ParseDecimal(before[1]), 0.2);
    EXPECT_EQ(after[2], "-888");
    EXPECT_EQ(after.size(), before.size() + 1);
}

TEST_F(SimStationTest, CalibrationIsAddedToTheThermometers) {
    opt.seed = 7;
    auto plain = Make();
    auto shifted = Make();
    Say(shifted, "1.00C");
    const auto p = Tokens(Lines(plain.Advance(now + 10000))[0].substr(22));
    const auto q = Tokens(Lines(shifted.Advance(now + 10000))[0].substr(22));
    EXPECT_NEAR(*ParseDecimal(q[0]) - *ParseDecimal(p[0]), 1.0, 0.011);
    EXPECT_EQ(q[2], p[2]);  // voltages unchanged
}

TEST_F(SimStationTest, FailedSensorReadsMinus888) {
    opt.failedSensor = 2;
    auto s = Make();
    EXPECT_EQ(Tokens(Lines(s.Advance(now + 10000))[0].substr(22))[1], "-888");
}

TEST_F(SimStationTest, BarometerStationSendsPressureBeforeEachReading) {
    opt.kind = Kind::BME280;
    auto s = Make();
    const auto l = Lines(s.Advance(now + 10000));
    ASSERT_EQ(l.size(), 2u);
    ASSERT_THAT(l[0], StartsWith("O:"));
    EXPECT_THAT(l[1], StartsWith("A:"));
    const std::string payload = l[0].substr(2);
    const auto semi = payload.find(';');
    EXPECT_NEAR(*ParseDecimal(payload.substr(0, semi)), 1000.0, 30.0);
    EXPECT_EQ(std::count(payload.begin(), payload.end(), ';'), 2);
}

TEST_F(SimStationTest, CrlfOptionEndsLinesWithCrLf) {
    opt.crlf = true;
    auto s = Make();
    EXPECT_EQ(s.Receive("I\r\n", now).substr(0, 3), "I: ");
    const std::string out = s.Receive("15T\n", now);
    EXPECT_EQ(out, "pomiar co ile sekund T: 15\r\n");
}

TEST_F(SimStationTest, CommandMaySpanSeveralWrites) {
    auto s = Make();
    EXPECT_EQ(s.Receive("1", now), "");
    EXPECT_EQ(s.Receive("5", now), "");
    EXPECT_EQ(s.Receive("T\r", now), "pomiar co ile sekund T: 15\n");
    EXPECT_EQ(s.Receive("\n", now), "");  // the LF after CR is no second command
}

TEST_F(SimStationTest, SameSeedSameStream) {
    opt.seed = 42;
    opt.noiseRate = 0.3;
    opt.garbageRate = 0.3;
    auto a = Make();
    auto b = Make();
    EXPECT_EQ(a.Advance(now + 600000), b.Advance(now + 600000));
}

TEST_F(SimStationTest, NoiseAndGarbageAreExtraLinesOnly) {
    opt.intervalSeconds = 1;
    opt.noiseRate = 0.5;
    opt.garbageRate = 0.5;
    auto s = Make();
    const auto l = Lines(s.Advance(now + 100000));
    int readings = 0;
    for (const auto& line : l)
        if (line.starts_with("A:2023-05-01 ")) ++readings;
    EXPECT_EQ(readings, 100);
    EXPECT_GT(l.size(), 150u);
}

}  // namespace
}  // namespace pom::station

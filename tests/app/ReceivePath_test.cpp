#include "app/logic/ReceivePath.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/logic/StationParse.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

constexpr const char* kStamp = "2023-05-01 12:00:00 ";

struct Chunk {
    std::string bytes;
    int error = 0;
};

// Records everything the receive path does to the outside world.
class FakeHost : public ReceiveHost {
public:
    std::vector<std::string> log;
    std::string sent;
    std::deque<Chunk> queue;
    std::string folder = "\\Ardu";
    int valueCount = 3;
    std::vector<std::string> attached;
    std::vector<bool> panel;
    std::string captions[5];
    std::vector<int> intervals;
    std::vector<std::string> barometer, info, readings;
    int readingResult = 0;
    bool throwOnReading = false;
    bool separatorChanged = false;
    bool mayRelease = true;
    std::int64_t now = 0;

    std::string Stamp() override { return kStamp; }
    void AppendLog(std::string line) override { log.push_back(std::move(line)); }
    void SendString(const std::string& text) override { sent += text; }
    void ReadNextCluster(std::string& bytes, int& count, int& error) override {
        if (queue.empty()) {
            bytes.clear();
            count = -1;
            error = -1;
            return;
        }
        bytes = queue.front().bytes;
        count = static_cast<int>(bytes.size());
        error = queue.front().error;
        queue.pop_front();
    }
    std::string StationFolder() const override { return folder; }
    int ValueCount() const override { return valueCount; }
    void AttachStation(const std::string& kind) override {
        attached.push_back(kind);
        folder = "\\ardu\\" + kind;
    }
    void SetBarometerPanelVisible(bool visible) override { panel.push_back(visible); }
    void SetChannelCaption(int k, const std::string& caption) override { captions[k] = caption; }
    void SetCatchUpInterval(int ms) override { intervals.push_back(ms); }
    std::int64_t SteadyMs() const override { return now; }
    bool MayReleaseReadings() const override { return mayRelease; }
    bool RestoreDecimalSeparator() override {
        const bool was = separatorChanged;
        separatorChanged = false;
        return was;
    }
    int BarometerMessage(const std::string& line) override {
        barometer.push_back(line);
        return 0;
    }
    void SensorInformation(const std::string& line) override { info.push_back(line); }
    int Reading(const std::string& line) override {
        if (throwOnReading) throw std::runtime_error("handler failed");
        readings.push_back(line);
        return readingResult;
    }

    // The log without stamps, for short expectations.
    std::vector<std::string> Unstamped() const {
        std::vector<std::string> r;
        for (const auto& l : log) r.push_back(l.rfind(kStamp, 0) == 0 ? l.substr(20) : "!" + l);
        return r;
    }
};

class ReceivePathTest : public ::testing::Test {
protected:
    FakeHost host;
    ReceivePath rp{host};

    void Attach() { host.folder = "\\ardu\\DS3231"; }
    void Feed(const std::string& bytes) {
        rp.ProcessChunk(bytes.data(), static_cast<int>(bytes.size()));
    }
    void Queue(const std::string& bytes, int error = 0) { host.queue.push_back({bytes, error}); }
};

using ::testing::ElementsAre;

// --- cutting chunks into lines ---

struct SplitCase {
    const char* name;
    std::vector<std::string> chunks;
    std::vector<std::string> lines;  // as logged, without stamps
    std::string leftover;            // what waits in rxLine afterwards
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.name;
}

class ReceivePathSplit : public ReceivePathTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(ReceivePathSplit, CutsLinesAtLfAndDropsCr) {
    Attach();
    for (const auto& c : GetParam().chunks) Feed(c);
    EXPECT_EQ(host.Unstamped(), GetParam().lines);
    EXPECT_EQ(rp.RxLine(), GetParam().leftover);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReceivePathSplit,
    ::testing::Values(
        SplitCase{"LineSpanningTwoChunksIsProcessedOnce",
                  {"A:2023-05-01 12:00:00 1 2 W4r:0\r", "\n"},
                  {"A:2023-05-01 12:00:00 1 2 W4r:0"},
                  ""},
        SplitCase{"CrInsideLineIsDropped", {"ab\rcd\n"}, {"abcd"}, ""},
        SplitCase{"CrAloneEndsNothing", {"ab\r"}, {}, "ab"},
        SplitCase{"CrLfAloneIsAnEmptyLine", {"\r\n"}, {""}, ""},
        SplitCase{"LfAfterLfIsAnEmptyLine", {"x\n\ny\n"}, {"x", "", "y"}, ""},
        SplitCase{"ManyChunksOneLine", {"a", "b", "", "c", "\r", "d\n"}, {"abcd"}, ""},
        SplitCase{"BytesAfterLastLfWait", {"one\ntw", "o\nthr"}, {"one", "two"}, "thr"},
        SplitCase{"CrOnlyLineEndsNeverEndALine", {"a\rb\rc\r"}, {}, "abc"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReceivePathTest, ZeroAndNegativeCountsDoNothing) {
    rp.ProcessChunk("x\n", 0);
    rp.ProcessChunk("x\n", -1);
    rp.ProcessChunk(nullptr, 5);
    EXPECT_EQ(host.log.size(), 0u);
    EXPECT_EQ(host.sent, "");
}

TEST_F(ReceivePathTest, DegreeSignBeforeCFoldsToWindows1250) {
    Attach();
    Feed(
        "T \xC2\xB0"
        "C \xC2\xB0"
        "F\n");
    EXPECT_THAT(host.Unstamped(), ElementsAre("T \xB0"
                                              "C \xC2\xB0"
                                              "F"));
}

TEST_F(ReceivePathTest, ArbitraryBytesAreLoggedAsTheyAreOneLineEach) {
    Attach();
    std::string all;
    for (int b = 0; b < 256; ++b)
        if (b != '\n' && b != '\r') all.push_back(static_cast<char>(b));
    Feed(all + "\n" + std::string("\0\xFF\xC3", 3) + "\n");
    ASSERT_EQ(host.log.size(), 2u);
    EXPECT_EQ(host.log[0], kStamp + all);
    EXPECT_EQ(host.log[1], kStamp + std::string("\0\xFF\xC3", 3));
}

TEST_F(ReceivePathTest, OverlongRunWithoutLfIsCutAndReported) {
    Attach();
    const std::string big(ReceivePath::kMaxLine, 'x');
    Feed(big);
    EXPECT_EQ(host.log.size(), 0u);  // exactly at the limit it still waits
    Feed("yz\n");
    ASSERT_EQ(host.log.size(), 3u);
    EXPECT_EQ(host.log[0], kStamp + Cp("ERROR 160420 linia: za długa linia (ponad 65536 bajtów)"));
    EXPECT_EQ(host.log[1], kStamp + big);
    EXPECT_EQ(host.log[2], std::string(kStamp) + "yz");
}

TEST_F(ReceivePathTest, EndlessRunKeepsTheBufferBounded) {
    Attach();
    const std::string block(10000, 'q');
    for (int i = 0; i < 100; ++i) {
        Feed(block);
        ASSERT_LE(rp.RxLine().size(), ReceivePath::kMaxLine);
    }
    // 1,000,000 bytes: 15 full lines, each announced by an error line.
    EXPECT_EQ(host.log.size(), 30u);
    EXPECT_EQ(rp.RxLine().size(), 1000000u - 15 * ReceivePath::kMaxLine);
}

TEST_F(ReceivePathTest, LineOfExactlyTheLimitIsNotReported) {
    Attach();
    Feed(std::string(ReceivePath::kMaxLine, 'x') + "\r\n");
    ASSERT_EQ(host.log.size(), 1u);
    EXPECT_EQ(host.log[0].size(), 20 + ReceivePath::kMaxLine);
}

// --- identification request and greeting ---

TEST_F(ReceivePathTest, IdentificationRequestSentOnceUntilAnotherCommand) {
    Feed("x\ny\n");
    EXPECT_EQ(host.sent, "i\r\n");
    EXPECT_EQ(rp.LastCommand(), "i\r\n");
    rp.SendCommand("I");
    host.sent.clear();
    Feed("z\n");
    EXPECT_EQ(host.sent, "i\r\n");
}

TEST_F(ReceivePathTest, EmptyLineBeforeAttachLogsStampAndAsksForIdentification) {
    Feed("\r\n");
    EXPECT_THAT(host.log, ElementsAre(kStamp));
    EXPECT_EQ(host.sent, "i\r\n");
}

struct GreetingCase {
    const char* name;
    const char* line;
    const char* kind;
    bool panel;
};

void PrintTo(const GreetingCase& c, std::ostream* os) {
    *os << c.name;
}

class ReceivePathGreeting : public ReceivePathTest,
                            public ::testing::WithParamInterface<GreetingCase> {};

TEST_P(ReceivePathGreeting, AttachesTheKindNamedInTheGreeting) {
    Feed(std::string(GetParam().line) + "\n");
    EXPECT_THAT(host.attached, ElementsAre(GetParam().kind));
    EXPECT_THAT(host.panel, ElementsAre(GetParam().panel));
    EXPECT_EQ(rp.StationKind(), GetParam().kind);
    EXPECT_EQ(host.sent, "");
    // A second greeting once attached is only logged.
    Feed(std::string(GetParam().line) + "\n");
    EXPECT_EQ(host.attached.size(), 1u);
    EXPECT_EQ(host.log.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReceivePathGreeting,
    ::testing::Values(GreetingCase{"Barometer", "Stacja Borsk BME280 DS3231", "BME280", true},
                      GreetingCase{"ClockOnly", "Stacja Borsk DS3231", "DS3231", false},
                      GreetingCase{"SignatureAnywhere", "xBorskx", "DS3231", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReceivePathTest, GreetingWithoutSignatureIsNotAGreeting) {
    Feed("Stacja borsk BME280\n");
    EXPECT_EQ(host.attached.size(), 0u);
    EXPECT_EQ(host.sent, "i\r\n");
}

// After the port was opened again, only the next greeting is looked at, and
// only another kind than the attached one attaches anew; nothing is sent.
TEST_F(ReceivePathTest, GreetingAfterReopeningAttachesOnlyAnotherKind) {
    const struct {
        bool expect;
        const char* line;
        std::vector<std::string> attached;  // since the start
        bool stillExpected;
    } steps[] = {
        {false, "Stacja Borsk BME280 DS3231", {}, false},   // not asked: as before
        {true, "A:2023-05-01 12:00:00 1 W4r:0", {}, true},  // not a greeting
        {false, "Stacja Borsk DS3231", {}, false},          // same kind
        {true, "Stacja Borsk BME280 DS3231", {"BME280"}, false},
        {false, "Stacja Borsk DS3231", {"BME280"}, false},  // looked at once only
    };
    Attach();
    for (const auto& s : steps) {
        if (s.expect) rp.ExpectGreeting();
        Feed(std::string(s.line) + "\n");
        EXPECT_EQ(host.attached, s.attached) << s.line;
        EXPECT_EQ(rp.GreetingExpected(), s.stillExpected) << s.line;
    }
    EXPECT_EQ(host.folder, "\\ardu\\BME280");
    EXPECT_THAT(host.panel, ElementsAre(true));
    EXPECT_EQ(rp.StationKind(), "BME280");
    EXPECT_EQ(host.sent, "");
}

// --- measurement dispatch ---

struct DispatchCase {
    const char* name;
    const char* line;
    int valueCount;
    int expectPending;
    const char* expectSent;
    int barometer, info, readings;
};

void PrintTo(const DispatchCase& c, std::ostream* os) {
    *os << c.name;
}

class ReceivePathDispatch : public ReceivePathTest,
                            public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(ReceivePathDispatch, RoutesByPrefixAndSetsPending) {
    Attach();
    const auto& c = GetParam();
    host.valueCount = c.valueCount;
    host.readingResult = 7;
    rp.SetPendingRecords(99);
    Feed(std::string(c.line) + "\n");
    EXPECT_EQ(rp.PendingRecords(), c.expectPending);
    EXPECT_EQ(host.sent, c.expectSent);
    EXPECT_EQ(static_cast<int>(host.barometer.size()), c.barometer);
    EXPECT_EQ(static_cast<int>(host.info.size()), c.info);
    EXPECT_EQ(static_cast<int>(host.readings.size()), c.readings);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReceivePathDispatch,
    ::testing::Values(
        DispatchCase{"ReadingA", "A:2023-05-01 12:00:00 1 W4r:7", 3, 7, "", 0, 0, 1},
        DispatchCase{"ReadingR", "R:2023-05-01 12:00:00 1 W4r:7", 0, 7, "", 0, 0, 1},
        DispatchCase{"ReadingWhileCountUnknownAsksForI", "R:2023-05-01 12:00:00 1 W4r:7", -1, 0,
                     "I\r\n", 0, 0, 0},
        DispatchCase{"Barometer", "O:980.0;21.5;45.0", 3, 0, "", 1, 0, 0},
        DispatchCase{"SensorInfo", "I: 2 A | B | 10T", 3, 0, "", 0, 1, 0},
        DispatchCase{"IWithoutBlankIsNothing", "I:2 A | 10T", 3, 0, "", 0, 0, 0},
        DispatchCase{"PrefixIsCaseSensitive", "a:2023-05-01 12:00:00 1 W4r:7", 3, 0, "", 0, 0, 0},
        DispatchCase{"PrefixOnlyAtStart", " A:2023-05-01 12:00:00 1 W4r:7", 3, 0, "", 0, 0, 0},
        DispatchCase{"OtherLine", "hello", 3, 0, "", 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReceivePathTest, ReadingWhileCountUnknownAttachesClockStation) {
    host.valueCount = -1;
    host.folder = "\\ardu\\BME280";
    Feed("A:2023-05-01 12:00:00 1 W4r:3\n");
    EXPECT_THAT(host.attached, ElementsAre("DS3231"));
    EXPECT_EQ(rp.LastCommand(), "I");
}

// --- reply parsers ---

struct ReplyCase {
    const char* name;
    std::string line;
    int interval;
    int avg;
    double coef;
    double altitude;
    double temperature;
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.name;
}

class ReceivePathReply : public ReceivePathTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReceivePathReply, SetsValueOrDefault) {
    Attach();
    Feed(GetParam().line + "\n");
    const StationValues& v = rp.Values();
    EXPECT_EQ(v.measureInterval, GetParam().interval);
    EXPECT_EQ(v.stationAvgCount, GetParam().avg);
    EXPECT_EQ(v.calibrationCoef, GetParam().coef);
    EXPECT_EQ(v.altitude, GetParam().altitude);
    EXPECT_EQ(v.meanTemperature, GetParam().temperature);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReceivePathReply,
    ::testing::Values(
        ReplyCase{"NothingMatches", "co ile sekund T: 15", 10, 5, 1.0, 295.0, 18.0},
        ReplyCase{"Interval", "pomiar co ile sekund T: 15", 15, 5, 1.0, 295.0, 18.0},
        ReplyCase{"IntervalSigned", " co ile sekund T:-3", -3, 5, 1.0, 295.0, 18.0},
        ReplyCase{"IntervalTrailingBlank", " co ile sekund T:15 ", 10, 5, 1.0, 295.0, 18.0},
        ReplyCase{"IntervalNotNumber", " co ile sekund T:x", 10, 5, 1.0, 295.0, 18.0},
        ReplyCase{"IntervalDecimal", " co ile sekund T:1.5", 10, 5, 1.0, 295.0, 18.0},
        ReplyCase{"IntervalFirstColonOfLine", "x: co ile sekund T:15", 10, 5, 1.0, 295.0, 18.0},
        ReplyCase{"IntervalTooBig", " co ile sekund T:99999999999", 10, 5, 1.0, 295.0, 18.0},
        ReplyCase{"AvgCount", "pomiarow ile do sredniej: 12", 10, 12, 1.0, 295.0, 18.0},
        ReplyCase{"AvgCountDefaultIsTen", " ile do sredniej: x", 10, 10, 1.0, 295.0, 18.0},
        ReplyCase{"Calibration", "wspolczynnik kalibracyjny, dodaj: -0.50 ", 10, 5, -0.5, 295.0,
                  18.0},
        ReplyCase{"CalibrationExponent", "wspolczynnik kalibracyjny, dodaj:+2.5e-1", 10, 5, 0.25,
                  295.0, 18.0},
        ReplyCase{"CalibrationComma", "wspolczynnik kalibracyjny, dodaj: 0,5", 10, 5, 0.0, 295.0,
                  18.0},
        ReplyCase{"CalibrationEmpty", "wspolczynnik kalibracyjny, dodaj:", 10, 5, 0.0, 295.0, 18.0},
        ReplyCase{"CalibrationNan", "wspolczynnik kalibracyjny, dodaj: nan", 10, 5, 0.0, 295.0,
                  18.0},
        ReplyCase{"Altitude", "wysokosc n.p.m. [m]: 300.5", 10, 5, 1.0, 300.5, 18.0},
        ReplyCase{"AltitudeAfterBracketColon", "h: wysokosc n.p.m. [m]:12", 10, 5, 1.0, 12.0, 18.0},
        ReplyCase{"AltitudeNotNumber", "wysokosc n.p.m. [m]: abc", 10, 5, 1.0, -99.0, 18.0},
        ReplyCase{"TemperatureByte",
                  "temperatura [\xB0"
                  "C]: 21.5",
                  10, 5, 1.0, 295.0, 21.5},
        ReplyCase{"TemperatureUtf8",
                  "temperatura [\xC2\xB0"
                  "C]: -4",
                  10, 5, 1.0, 295.0, -4.0},
        ReplyCase{"TemperatureNotNumber",
                  "temperatura [\xB0"
                  "C]: ?",
                  10, 5, 1.0, 295.0, 18.0},
        ReplyCase{"TemperatureWithoutDegree", "temperatura [C]: 5", 10, 5, 1.0, 295.0, 18.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReceivePathTest, AltitudeNotAboveZeroIsLogged) {
    Attach();
    Feed("wysokosc n.p.m. [m]: abc\n");
    EXPECT_THAT(host.Unstamped(), ElementsAre("wysokosc n.p.m. [m]: abc", "wysoNPM:-99", " abc"));
    host.log.clear();
    Feed("wysokosc n.p.m. [m]:-0.5\n");
    EXPECT_THAT(host.Unstamped(), ElementsAre("wysokosc n.p.m. [m]:-0.5", "wysoNPM:-0.5", "-0.5"));
    host.log.clear();
    Feed("wysokosc n.p.m. [m]: 1\n");
    EXPECT_EQ(host.log.size(), 1u);
}

TEST_F(ReceivePathTest, AltitudeReportsRestoredDecimalSeparator) {
    Attach();
    host.separatorChanged = true;
    Feed("wysokosc n.p.m. [m]: 10\n");
    EXPECT_THAT(host.Unstamped(), ElementsAre("wysokosc n.p.m. [m]: 10", "DecimalSeparator<>."));
    EXPECT_EQ(rp.Values().altitude, 10.0);
}

struct LabelsCase {
    const char* name;
    std::string line;
    std::vector<std::string> captions;
};

void PrintTo(const LabelsCase& c, std::ostream* os) {
    *os << c.name;
}

class ReceivePathLabels : public ReceivePathTest,
                          public ::testing::WithParamInterface<LabelsCase> {};

TEST_P(ReceivePathLabels, SetsFourCaptions) {
    Attach();
    Feed(GetParam().line + "\n");
    EXPECT_EQ(std::vector<std::string>(host.captions + 1, host.captions + 5), GetParam().captions);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReceivePathLabels,
    ::testing::Values(LabelsCase{"Four",
                                 "labels:T1 [\xC2\xB0"
                                 "C];T2 [\xB0"
                                 "C];U1 [V];U2 [V]",
                                 {"T1 [\xB0"
                                  "C]",
                                  "T2 [\xB0"
                                  "C]",
                                  "U1 [V]", "U2 [V]"}},
                      LabelsCase{"TwoFieldsLeaveEmptyCaptions", "labels:a;b", {"a", "b", "", ""}},
                      LabelsCase{
                          "FirstColonOfLine", "x:labels:a;b;c;d;e", {"labels:a", "b", "c", "d"}},
                      LabelsCase{"NoSemicolonCutsAt254",
                                 "labels:" + std::string(300, 'z'),
                                 {std::string(254, 'z'), std::string(45, 'z'), "", ""}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReceivePathTest, LineWithoutLabelsLeavesCaptions) {
    Attach();
    host.captions[1] = "keep";
    Feed("label:a;b\n");
    EXPECT_EQ(host.captions[1], "keep");
}

// --- catch-up timer ---

struct CatchUpCase {
    const char* name;
    int pending;
    int interval;
    std::string sent;
    std::vector<int> timer;
    bool mayRelease = true;
};

void PrintTo(const CatchUpCase& c, std::ostream* os) {
    *os << c.name;
}

class ReceivePathCatchUp : public ReceivePathTest,
                           public ::testing::WithParamInterface<CatchUpCase> {};

TEST_P(ReceivePathCatchUp, SendsRAndRetimes) {
    rp.SetPendingRecords(GetParam().pending);
    rp.Values().measureInterval = GetParam().interval;
    host.mayRelease = GetParam().mayRelease;
    rp.TimerCzytajZalegleTimer();
    EXPECT_EQ(host.sent, GetParam().sent);
    EXPECT_EQ(host.intervals, GetParam().timer);
    EXPECT_EQ(rp.PendingRecords(), GetParam().pending);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReceivePathCatchUp,
    ::testing::Values(CatchUpCase{"None", 0, 10, "", {}}, CatchUpCase{"Negative", -2, 10, "", {}},
                      CatchUpCase{"OneUsesHalfTheInterval", 1, 10, "R\r\n", {5000}},
                      CatchUpCase{"OneOfASevenSecondStation", 1, 7, "R\r\n", {3500}},
                      CatchUpCase{"TwoAreABacklog", 2, 10, "R\r\n", {1000}},
                      CatchUpCase{"BacklogOfASlowStation", 128, 600, "R\r\n", {1000}},
                      CatchUpCase{
                          "HugeIntervalDoesNotOverflow", 1, 2147483647, "R\r\n", {2147483647}},
                      CatchUpCase{"BadIntervalTakenAsOneSecond", 1, -5, "R\r\n", {500}},
                      CatchUpCase{"QueueCannotKeepReadings", 9, 10, "", {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the read-out against a station that goes on measuring, on a fake clock

struct DrainCase {
    const char* name;
    int measureSeconds;
    int waiting;             // readings stored when the run starts
    int withinSeconds;       // the buffer must be empty by then
    bool barometer = false;  // an "O:" line before every "A:"
    int blockedSeconds = 0;  // the queue cannot keep readings until then
};

// The station's side: one reading per measuring interval announced by "A:"
// (after an "O:" line for a barometer station), each "R" answered 30 ms
// later by "R:" with the oldest reading, which leaves the buffer. The host's
// timer ticks as a periodic timer does, restarted by every interval set.
class DrainRun final : public FakeHost {
public:
    static constexpr int kCapacity = 128;

    explicit DrainRun(const DrainCase& c) : case_(c), stored(c.waiting) {
        folder = "\\ardu\\DS3231";
        valueCount = 4;
    }
    static std::string Line(const char* kind, int left) {
        return std::string(kind) +
               ":2023-05-01 12:00:00 21.5 20.9 3.30 12.4 W4r:" + std::to_string(left);
    }

    void SendString(const std::string& text) override {
        if (text != "R\r\n") return;
        if (now < case_.blockedSeconds * 1000LL) ++requestsWhileBlocked;
        replies.push_back({now + 30, stored > 0 ? Line("R", --stored) : "bufor pusty"});
    }
    int Reading(const std::string& line) override { return W4rCount(line); }
    void SetCatchUpInterval(int ms) override {
        timerMs = ms;
        timerDue = ms > 0 ? now + ms : -1;
    }

    // Steps the clock 10 ms at a time up to `untilMs`, or until the buffer is
    // empty; the most readings waiting meanwhile.
    int Run(ReceivePath& path, std::int64_t untilMs, bool untilEmpty = false) {
        int most = 0;
        for (; now <= untilMs && !(untilEmpty && stored == 0); now += 10) {
            mayRelease = now >= case_.blockedSeconds * 1000LL;
            for (; !replies.empty() && replies.front().first <= now; replies.pop_front())
                path.ProcessLine(replies.front().second);
            if (now >= nextReading) {
                nextReading += case_.measureSeconds * 1000LL;
                if (stored == kCapacity) ++overwritten;
                stored = std::min(stored + 1, kCapacity);
                if (case_.barometer) path.ProcessLine("O:1000.0;20.5;45.0");
                path.ProcessLine(Line("A", stored));
            }
            if (timerDue >= 0 && now >= timerDue) {
                timerDue = now + timerMs;
                path.TimerCzytajZalegleTimer();
            }
            most = std::max(most, stored);
        }
        return most;
    }

    const DrainCase case_;
    int stored;
    int overwritten = 0;
    int requestsWhileBlocked = 0;
    int timerMs = CatchUpRule::kStartMs;
    std::int64_t timerDue = CatchUpRule::kStartMs;
    std::int64_t nextReading = 0;
    std::deque<std::pair<std::int64_t, std::string>> replies;
};

class CatchUpDrain : public ::testing::TestWithParam<DrainCase> {};

TEST_P(CatchUpDrain, EmptiesTheStationsBufferWhileItGoesOnMeasuring) {
    const DrainCase& c = GetParam();
    DrainRun station(c);
    ReceivePath path(station);
    path.Values().measureInterval = c.measureSeconds;
    // The run starts as the station announces the last of its readings.
    path.ProcessLine(DrainRun::Line("A", c.waiting));
    station.nextReading = c.measureSeconds * 1000LL;
    station.Run(path, c.withinSeconds * 1000LL, true);
    EXPECT_EQ(station.stored, 0) << "still waiting after " << c.withinSeconds << " s";
    EXPECT_EQ(station.requestsWhileBlocked, 0);
    // Once empty it stays so: each new reading is read out before the next.
    EXPECT_LE(station.Run(path, station.now + 20LL * c.measureSeconds * 1000), 1);
    EXPECT_EQ(station.overwritten, 0) << "the station overwrote readings";
}

INSTANTIATE_TEST_SUITE_P(FakeClock, CatchUpDrain,
                         ::testing::Values(DrainCase{"Full128At5s", 5, 128, 200},
                                           DrainCase{"Full128At10s", 10, 128, 250},
                                           DrainCase{"Thirty30At2sWithin100s", 2, 30, 100},
                                           DrainCase{"Full128At1s", 1, 128, 300},
                                           DrainCase{"BarometerStation128At5s", 5, 128, 200, true},
                                           DrainCase{"SlowStation", 600, 20, 60},
                                           DrainCase{"QueueBlockedFor60sThenResumes", 5, 60, 200,
                                                     false, 60}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReceivePathTest, AnnouncementNeverPutsTheNextRequestFurtherAway) {
    Attach();
    host.readingResult = 3;
    // At program start the timer waits 21 s; an "A:" brings the request to 5 s.
    host.now = 1000;
    rp.ProcessLine("A:2023-05-01 12:00:00 1 2 3 W4r:3");
    EXPECT_THAT(host.intervals, ElementsAre(5000));
    // Later ones within those 5 s leave it alone.
    host.now = 4000;
    rp.ProcessLine("A:2023-05-01 12:00:03 1 2 3 W4r:4");
    EXPECT_THAT(host.intervals, ElementsAre(5000));
    // A slow station's long pause after a request is cut short by an "A:".
    host.now = 7000;
    rp.Values().measureInterval = 600;
    rp.SetPendingRecords(1);
    rp.TimerCzytajZalegleTimer();
    EXPECT_THAT(host.intervals, ElementsAre(5000, 300000));
    host.now = 8000;
    rp.ProcessLine("A:2023-05-01 12:10:00 1 2 3 W4r:1");
    EXPECT_THAT(host.intervals, ElementsAre(5000, 300000, 5000));
}

TEST_F(ReceivePathTest, CatchUpStoresRAsLastCommand) {
    rp.SetPendingRecords(1);
    rp.TimerCzytajZalegleTimer();
    EXPECT_EQ(rp.LastCommand(), "R");
}

// --- events ---

TEST_F(ReceivePathTest, WriteDoneEchoesLastCommand) {
    rp.SendCommand("10T");
    rp.SerialPort1WriteDone();
    EXPECT_THAT(host.Unstamped(), ElementsAre("send command: 10T<"));
}

TEST_F(ReceivePathTest, WriteDoneEchoOfIdentificationShowsAsTwoLines) {
    Feed("x\n");
    host.log.clear();
    rp.SerialPort1WriteDone();
    EXPECT_THAT(host.log, ElementsAre(std::string(kStamp) + "send command: i", "<"));
}

TEST_F(ReceivePathTest, LastCommandIsCutTo255) {
    rp.SendCommand(std::string(300, 'c'));
    EXPECT_EQ(rp.LastCommand(), std::string(255, 'c'));
    EXPECT_EQ(host.sent, std::string(255, 'c') + "\r\n");
}

TEST_F(ReceivePathTest, EventProcessesQueuedChunk) {
    Attach();
    Queue("abc\n");
    rp.SerialPort1RxClusterEvent();
    EXPECT_THAT(host.Unstamped(), ElementsAre("abc"));
    EXPECT_FALSE(rp.RxBusy());
}

TEST_F(ReceivePathTest, EventWithoutChunkReportsMinusOne) {
    rp.SerialPort1RxClusterEvent();
    EXPECT_THAT(host.Unstamped(), ElementsAre("problem 160424 ccer:-1"));
    EXPECT_FALSE(rp.RxBusy());
}

TEST_F(ReceivePathTest, ChunkWithLineErrorIsDroppedAndPartialLineKept) {
    Attach();
    Queue("par");
    Queue("junk\n", 8);
    Queue("tial\n");
    for (int i = 0; i < 3; ++i) rp.SerialPort1RxClusterEvent();
    EXPECT_THAT(host.Unstamped(), ElementsAre("problem 160424 ccer:8", "partial"));
}

TEST_F(ReceivePathTest, FailingHandlerKeepsBusyUntilThe101stEvent) {
    Attach();
    host.throwOnReading = true;
    Queue("A:2023-05-01 12:00:00 1 W4r:2\nafter\n");
    rp.SerialPort1RxClusterEvent();  // throws inside, caught
    EXPECT_TRUE(rp.RxBusy());
    ASSERT_EQ(host.log.size(), 2u);
    EXPECT_EQ(host.Unstamped()[1], "ERROR 160420 linia: handler failed");
    host.log.erase(host.log.begin() + 1);
    host.throwOnReading = false;
    // One chunk arrives with each event, as the port raises them.
    for (int i = 0; i < 100; ++i) {
        Queue("L" + std::to_string(i) + "\n");
        rp.SerialPort1RxClusterEvent();
    }
    EXPECT_TRUE(rp.RxBusy());
    EXPECT_EQ(rp.RxSkipped(), 100);
    EXPECT_EQ(host.log.size(), 1u);
    Queue("L100\n");
    rp.SerialPort1RxClusterEvent();  // 101st skipped event
    EXPECT_FALSE(rp.RxBusy());
    ASSERT_EQ(host.log.size(), 2u);
    EXPECT_EQ(host.Unstamped()[1], "ERROR 160420 linia: linia 244");
    EXPECT_EQ(host.queue.size(), 101u);  // chunks stay queued in the port

    // The next event is handled normally and also takes what the skipped
    // events left queued, so the path does not lag 101 chunks behind for
    // good; the line after the failing one is not lost either.
    Queue("L101\n");
    rp.SerialPort1RxClusterEvent();
    EXPECT_FALSE(rp.RxBusy());
    EXPECT_EQ(rp.RxSkipped(), 0);
    EXPECT_EQ(host.queue.size(), 0u);
    const auto lines = host.Unstamped();
    ASSERT_EQ(lines.size(), 2u + 1 + 102);
    EXPECT_EQ(lines[2], "after");
    EXPECT_EQ(lines[3], "L0");
    EXPECT_EQ(lines.back(), "L101");
    // From then on one event, one chunk.
    Queue("L102\n");
    rp.SerialPort1RxClusterEvent();
    EXPECT_EQ(host.Unstamped().back(), "L102");
    rp.SerialPort1RxClusterEvent();
    EXPECT_EQ(host.Unstamped().back(), "problem 160424 ccer:-1");
}

TEST_F(ReceivePathTest, FailingLineIsNotJoinedToTheNextOne) {
    Attach();
    host.throwOnReading = true;
    EXPECT_THROW(Feed("A:2023-05-01 12:00:00 1 W4r:2\nR:x"), std::runtime_error);
    host.throwOnReading = false;
    EXPECT_EQ(rp.RxLine(), "");
    Feed("yz\n");
    EXPECT_THAT(host.Unstamped(), ElementsAre("A:2023-05-01 12:00:00 1 W4r:2", "R:xyz"));
}

// --- helpers ---

struct W4rCase {
    const char* line;
    int count;
};

void PrintTo(const W4rCase& c, std::ostream* os) {
    *os << '"' << c.line << '"';
}

class W4rCountTest : public ::testing::TestWithParam<W4rCase> {};

TEST_P(W4rCountTest, ReadsTheNumberAfterW4r) {
    EXPECT_EQ(W4rCount(GetParam().line), GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(Cases, W4rCountTest,
                         ::testing::Values(W4rCase{"R:2023-05-01 12:00:00 21.5 W4r:2", 2},
                                           W4rCase{"A:2023-05-01 12:00:00 1 W4r 127", 127},
                                           W4rCase{"A:x W4r:-3", -3}, W4rCase{"A:x W4r:2 ", 0},
                                           W4rCase{"A:x W4r:", 0}, W4rCase{"A:x W4r", 0},
                                           W4rCase{"A:2023-05-01 12:00:00 1 2", 0},
                                           W4rCase{"A: 5", 5}, W4rCase{"", 0}));

struct DecimalCase {
    const char* text;
    bool ok;
    double value;
};

void PrintTo(const DecimalCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class ParseDecimalTest : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(ParseDecimalTest, FollowsTheStationsNumberForm) {
    const auto v = ParseDecimal(GetParam().text);
    ASSERT_EQ(v.has_value(), GetParam().ok);
    if (v) {
        EXPECT_EQ(*v, GetParam().value);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseDecimalTest,
    ::testing::Values(DecimalCase{"1.5", true, 1.5}, DecimalCase{"  -2.25  ", true, -2.25},
                      DecimalCase{"+3", true, 3}, DecimalCase{"1e3", true, 1000},
                      DecimalCase{"2.5E-1", true, 0.25}, DecimalCase{".5", true, 0.5},
                      DecimalCase{"5.", true, 5}, DecimalCase{"", false, 0},
                      DecimalCase{"  ", false, 0}, DecimalCase{"1,5", false, 0},
                      DecimalCase{".", false, 0}, DecimalCase{"1e", false, 0},
                      DecimalCase{"e5", false, 0}, DecimalCase{"inf", false, 0},
                      DecimalCase{"nan", false, 0}, DecimalCase{"0x10", false, 0},
                      DecimalCase{"1e999", false, 0}, DecimalCase{"--1", false, 0},
                      DecimalCase{"1 2", false, 0}));

struct IntegerCase {
    const char* text;
    bool ok;
    int value;
};

void PrintTo(const IntegerCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class ParseIntegerTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(ParseIntegerTest, AllowsBlanksOnlyBefore) {
    const auto v = ParseInteger(GetParam().text);
    ASSERT_EQ(v.has_value(), GetParam().ok);
    if (v) {
        EXPECT_EQ(*v, GetParam().value);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseIntegerTest,
                         ::testing::Values(IntegerCase{"15", true, 15},
                                           IntegerCase{" 15", true, 15},
                                           IntegerCase{"-7", true, -7}, IntegerCase{"+7", true, 7},
                                           IntegerCase{"15 ", false, 0},
                                           IntegerCase{"1.0", false, 0}, IntegerCase{"", false, 0},
                                           IntegerCase{"-", false, 0},
                                           IntegerCase{"2147483647", true, 2147483647},
                                           IntegerCase{"-2147483648", true, -2147483647 - 1},
                                           IntegerCase{"2147483648", false, 0},
                                           IntegerCase{"99999999999999999999", false, 0}));

TEST(FormatGeneral15Test, MatchesTheLogsNumberForm) {
    EXPECT_EQ(FormatGeneral15(-99.0), "-99");
    EXPECT_EQ(FormatGeneral15(-0.0), "0");
    EXPECT_EQ(FormatGeneral15(-0.5), "-0.5");
    EXPECT_EQ(FormatGeneral15(-1e20), "-1E20");
    EXPECT_EQ(FormatGeneral15(-1.5e-7), "-1.5E-7");
}

}  // namespace
}  // namespace pom

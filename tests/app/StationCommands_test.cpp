#include "app/logic/StationCommands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "app/logic/ReceivePath.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

using ::testing::ElementsAre;

// The port and the window as the commands see them.
class Host final : public ReceiveHost, public CommandsHost {
public:
    std::string sent;
    std::deque<std::optional<std::string>> answers;  // what the user types, in order
    struct Asked {
        std::string caption, prompt, value;
    };
    std::vector<Asked> asked;
    std::vector<std::string> messages, status;
    std::string mac, seconds = "00";
    int dataPageShown = 0;
    LocalDateTime now{2023, 5, 1, 12, 0, 10, 0};

    // ReceiveHost: only the port matters here.
    std::string Stamp() override { return "2023-05-01 12:00:10 "; }
    void AppendLog(std::string) override {}
    void SendString(const std::string& text) override { sent += text; }
    void ReadNextCluster(std::string&, int& count, int& error) override { count = error = -1; }
    std::string StationFolder() const override { return "\\ardu\\DS3231"; }
    int ValueCount() const override { return 3; }
    void AttachStation(const std::string&) override {}
    void SetBarometerPanelVisible(bool) override {}
    void SetChannelCaption(int, const std::string&) override {}
    void SetCatchUpInterval(int) override {}
    int BarometerMessage(const std::string&) override { return 0; }
    void SensorInformation(const std::string&) override {}
    int Reading(const std::string&) override { return 0; }

    // CommandsHost
    std::optional<std::string> InputQuery(const std::string& caption, const std::string& prompt,
                                          const std::string& value) override {
        asked.push_back({caption, prompt, value});
        if (answers.empty()) return std::nullopt;
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::string MacText() const override { return mac; }
    void SetMacText(const std::string& text) override { mac = text; }
    std::string SecondsCorrection() const override { return seconds; }
    void SetStatusText(const std::string& text) override { status.push_back(text); }
    void ShowDataPage() override { ++dataPageShown; }
    LocalDateTime Now() const override { return now; }
};

class StationCommandsTest : public ::testing::Test {
protected:
    // Types `text` into the next dialog and runs the handler; what was sent.
    std::string Type(std::optional<std::string> text, void (StationCommands::*handler)()) {
        host.sent.clear();
        host.answers.push_back(std::move(text));
        (commands.*handler)();
        return host.sent;
    }

    Host host;
    ReceivePath path{host};
    StationCommands commands{path, host};
};

TEST_F(StationCommandsTest, PlainCommandsSendTheirLetterAndShowTheLog) {
    commands.mInfoClick();
    commands.mReadClick();
    commands.mCzyscClick();
    EXPECT_EQ(host.sent, "I\r\nR\r\nF\r\n");
    EXPECT_EQ(path.LastCommand(), "F");
    EXPECT_EQ(host.dataPageShown, 3);
}

TEST_F(StationCommandsTest, IntervalIsRoundedHalvesToEvenAndAtLeastOne) {
    const auto T = &StationCommands::mDeltaTClick;
    EXPECT_EQ(Type("2.5", T), "2T\r\n");
    EXPECT_EQ(Type("3.5", T), "4T\r\n");
    EXPECT_EQ(Type("0", T), "1T\r\n");
    EXPECT_EQ(Type("-7", T), "1T\r\n");
    EXPECT_EQ(Type("99999999999", T), "2147483647T\r\n");
    EXPECT_EQ(Type(" 60 ", T), "60T\r\n");
    EXPECT_EQ(path.Values().measureInterval, 60);
    // Not a number, or cancelled: nothing is sent or changed.
    EXPECT_EQ(Type("abc", T), "");
    EXPECT_EQ(Type("1,5", T), "");
    EXPECT_EQ(Type(std::nullopt, T), "");
    EXPECT_EQ(path.Values().measureInterval, 60);
    EXPECT_EQ(host.asked.back().caption, "pomiary w arduino");
    EXPECT_EQ(host.asked.back().prompt, "Co ile sekund");
    EXPECT_EQ(host.asked.back().value, "60");
}

TEST_F(StationCommandsTest, AveragingCountIsKeptForTheNextDialog) {
    EXPECT_EQ(Type("12", &StationCommands::mIledoredniejClick), "12S\r\n");
    Type(std::nullopt, &StationCommands::mIledoredniejClick);
    EXPECT_EQ(host.asked.back().prompt, Cp("ile do średniej"));
    EXPECT_EQ(host.asked.back().value, "12");
}

TEST_F(StationCommandsTest, NumberCommandsCarryTheirDecimals) {
    EXPECT_EQ(host.asked.size(), 0u);
    EXPECT_EQ(Type("0.5", &StationCommands::mWspCalClick), "0.50C\r\n");
    EXPECT_EQ(Type("-1", &StationCommands::mWspCalClick), "-1.00C\r\n");
    EXPECT_EQ(host.asked.back().value, "0.50");
    EXPECT_DOUBLE_EQ(path.Values().calibrationCoef, -1.0);
    EXPECT_EQ(Type("312", &StationCommands::mPoziomHClick), "312.0H\r\n");
    EXPECT_EQ(Type("-12.34", &StationCommands::mPoziomLClick), "-12.3t\r\n");
    // Altitude and temperature always offer the same defaults.
    Type(std::nullopt, &StationCommands::mPoziomHClick);
    Type(std::nullopt, &StationCommands::mPoziomLClick);
    const auto& a = host.asked;
    EXPECT_EQ(a[a.size() - 2].value, "300.0");
    EXPECT_EQ(a[a.size() - 2].caption, Cp("dla przeliczeń z wysokością"));
    EXPECT_EQ(a.back().value, "18.0");
    EXPECT_EQ(a.back().prompt, Cp("średnia temperatura powietrza"));
}

// A number whose command would pass the 255-character cut would reach the
// station without its letter: the dialog refuses it and asks again.
struct LongNumber {
    void (StationCommands::*handler)();
    const char* longest;  // the longest number that still fits
    const char* tooLong;  // one digit more, or a sign
    char letter;
};

class StationCommandsLongNumber : public StationCommandsTest,
                                  public ::testing::WithParamInterface<LongNumber> {};

TEST_P(StationCommandsLongNumber, IsRefusedWithAMessageAndAskedAgain) {
    const LongNumber& c = GetParam();
    const std::string fits = Type(c.longest, c.handler);
    ASSERT_EQ(fits.size(), 255u + 2u);
    EXPECT_EQ(fits[254], c.letter);
    // Refused, then cancelled: nothing sent, nothing kept.
    const double coef = path.Values().calibrationCoef;
    host.answers.push_back(c.tooLong);
    EXPECT_EQ(Type(std::nullopt, c.handler), "");
    EXPECT_DOUBLE_EQ(path.Values().calibrationCoef, coef);
    EXPECT_EQ(host.asked.back().value, c.tooLong);  // the dialog shows what was typed
    // Refused, then corrected: the corrected number goes out.
    host.answers.push_back(c.tooLong);
    EXPECT_EQ(Type("12", c.handler).substr(0, 2), "12");
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_NE(host.messages[0].find("255"), std::string::npos) << host.messages[0];
}

INSTANTIATE_TEST_SUITE_P(
    Commands, StationCommandsLongNumber,
    ::testing::Values(LongNumber{&StationCommands::mWspCalClick, "5e250", "5e251", 'C'},
                      LongNumber{&StationCommands::mWspCalClick, "5e250", "-5e250", 'C'},
                      LongNumber{&StationCommands::mPoziomHClick, "5e251", "5e252", 'H'},
                      LongNumber{&StationCommands::mPoziomLClick, "-5e250", "-5e251", 't'}));

TEST_F(StationCommandsTest, ClockCommandsTakeThePcTimeWithTheCorrection) {
    host.seconds = "-30";
    commands.butGodzinaUstawClick();
    EXPECT_EQ(host.sent, "setTime 11:59:40\r\n");
    EXPECT_EQ(host.mac, "setTime 12:00:10");
    host.sent.clear();
    host.seconds = "x";
    host.now = {2023, 5, 1, 23, 59, 59, 0};
    commands.butGodzinaUstawClick();
    EXPECT_EQ(host.sent, "setTime 23:59:59\r\n");
    host.sent.clear();
    host.seconds = "1";
    commands.butGodzinaUstawClick();
    EXPECT_EQ(host.sent, "setTime 00:00:00\r\n");  // wraps, no date command
    host.sent.clear();
    commands.butSetDateClick();
    EXPECT_EQ(host.sent, "setDate 2023-05-01\r\n");
    EXPECT_EQ(host.mac, "setDate 2023-05-01");
    EXPECT_EQ(host.dataPageShown, 0);
}

TEST_F(StationCommandsTest, SensorOrderNeedsTheSetRomsLine) {
    host.mac = "setROM\r\n281F948F01000021";
    commands.butMAC2arduinoClick();
    EXPECT_EQ(host.sent, "");
    EXPECT_EQ(path.LastCommand(), "");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].starts_with(Cp("pierwsza linia musi zawierać: \"setROMs\"")));
    EXPECT_NE(host.messages[0].find(".\r Po"), std::string::npos);

    host.mac = "setROMs";
    commands.butMAC2arduinoClick();
    EXPECT_EQ(host.sent, "setROMs \r\n");
    host.sent.clear();
    host.mac = "setROMs \r\n281F948F01000021\r\n28AA000000000001\r\n";
    commands.butMAC2arduinoClick();
    EXPECT_EQ(host.sent, "setROMs 281F948F0100002128AA000000000001\r\n");
    EXPECT_EQ(host.status.back(), "wyslane: setROMs 281F948F0100002128AA000000000001");
}

TEST_F(StationCommandsTest, TypedCommandJoinsTheLinesAndIsCutAt255) {
    host.mac = "setRC433\r\n1010";
    commands.butWyslijPolecenClick();
    EXPECT_EQ(host.sent, "setRC4331010\r\n");
    EXPECT_EQ(host.status.back(), "wyslane: setRC4331010");
    host.sent.clear();
    host.mac = "";
    commands.butWyslijPolecenClick();
    EXPECT_EQ(host.sent, "\r\n");
    host.sent.clear();
    host.mac = std::string(200, 'a') + "\r\n" + std::string(100, 'b');
    commands.butWyslijPolecenClick();
    EXPECT_EQ(host.sent, std::string(200, 'a') + std::string(55, 'b') + "\r\n");
}

TEST_F(StationCommandsTest, HelpListsTheStationsCommands) {
    commands.butHelpClick();
    const std::vector<std::string> lines = MemoLines(host.mac);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], ">   R < - czyta najstarszy rekord i zwalnia miejsce w buforze");
    EXPECT_EQ(lines[10], "> setRC433ssss steruje RCswitchem s: x 1 lub 0 ustawia stan");
    EXPECT_FALSE(host.mac.ends_with("\n"));
    EXPECT_EQ(host.sent, "");
}

TEST(MemoLinesTest, CountsLinesAsAMemoDoes) {
    EXPECT_THAT(MemoLines(""), ElementsAre());
    EXPECT_THAT(MemoLines("a\r\n"), ElementsAre("a"));
    EXPECT_THAT(MemoLines("a\n\nb"), ElementsAre("a", "", "b"));
    EXPECT_THAT(MemoLines("a\rb"), ElementsAre("a", "b"));
}

}  // namespace
}  // namespace pom

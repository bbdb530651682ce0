#include "app/logic/HeadlessReport.h"

#include <gtest/gtest.h>

#include "util/Cp1250.h"

namespace pom {
namespace {

// A run of reports and the lines a service prints for them: one per change
// of outcome, none for a report like the one before.
struct OutcomeCase {
    const char* name;
    std::vector<bool> successes;
    std::vector<std::string> printed;  // what each printed line starts with
};

class OutcomeChanges : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(OutcomeChanges, OneLinePerChange) {
    UploadOutcomeWatch watch;
    std::vector<std::string> printed;
    for (bool ok : GetParam().successes) {
        const std::string report =
            ok ? "2026-01-01 12:00:00 wymiana ok" : "2026-01-01 12:00:00 http Error: 500\r\n<html>";
        if (const auto line = watch.Report(ok, report)) printed.push_back(Cp1250ToUtf8(*line));
    }
    ASSERT_EQ(printed.size(), GetParam().printed.size());
    for (std::size_t i = 0; i < printed.size(); ++i)
        EXPECT_TRUE(printed[i].starts_with(GetParam().printed[i])) << printed[i];
}

const std::string kWorks = "wysyłka działa: 2026-01-01 12:00:00 wymiana ok";
const std::string kFails = "wysyłka nie działa";
const std::string kAgain = "wysyłka znowu działa: ";

INSTANTIATE_TEST_SUITE_P(Runs, OutcomeChanges,
                         ::testing::Values(OutcomeCase{"OutageAndBack",
                                                       {true, true, false, false, false, true,
                                                        true},
                                                       {kWorks, kFails, kAgain}},
                                           OutcomeCase{"Flapping",
                                                       {false, true, false, true},
                                                       {kFails, kAgain, kFails, kAgain}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OutcomeChanges, AFailureShowsOnlyTheReportsFirstLineCutShort) {
    UploadOutcomeWatch watch;
    const auto line = watch.Report(false, "http Error: " + std::string(5000, 'x') + "\r\nResult");
    ASSERT_TRUE(line);
    EXPECT_LT(line->size(), 300u);
    EXPECT_EQ(line->find("Result"), std::string::npos);
    EXPECT_TRUE(line->ends_with("..."));
}

TEST(HeadlessSettings, UploadLineSaysWhereToAndHowToSwitchOn) {
    const std::string on =
        Cp1250ToUtf8(UploadSettingsLine("BME280", "/h/.config/ardu/BME280/pomiarnik.ini", true, 300,
                                        "127.0.0.1:8080/Zapisz2Pomiary.php", "test"));
    EXPECT_NE(on.find("/h/.config/ardu/BME280/pomiarnik.ini"), std::string::npos) << on;
    EXPECT_NE(
        on.find("wysyłka włączona, co 300 s do 127.0.0.1:8080/Zapisz2Pomiary.php, tabela test"),
        std::string::npos)
        << on;
    const std::string off =
        Cp1250ToUtf8(UploadSettingsLine("DS3231", "/h/x.ini", false, 300, "a", "t"));
    EXPECT_NE(off.find("wysyłka wyłączona"), std::string::npos) << off;
    EXPECT_NE(off.find("POST=1 w sekcji [CONFIG]"), std::string::npos) << off;
}

}  // namespace
}  // namespace pom

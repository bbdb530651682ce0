#include "app/logic/HeadlessReport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "util/Cp1250.h"

namespace pom {
namespace {

using ::testing::HasSubstr;

// A service prints one line per change of upload outcome, none for a report
// like the one before.
TEST(OutcomeChanges, OneLinePerChange) {
    const std::string works = "wysyłka działa: 2026-01-01 12:00:00 wymiana ok";
    const std::string fails = "wysyłka nie działa";
    const std::string again = "wysyłka znowu działa: ";
    const struct {
        std::vector<bool> successes;
        std::vector<std::string> printed;  // what each printed line starts with
    } runs[] = {{{true, true, false, false, false, true, true}, {works, fails, again}},
                {{false, true, false, true}, {fails, again, fails, again}}};
    for (const auto& run : runs) {
        UploadOutcomeWatch watch;
        std::vector<std::string> printed;
        for (bool ok : run.successes) {
            const std::string report = ok ? "2026-01-01 12:00:00 wymiana ok"
                                          : "2026-01-01 12:00:00 http Error: 500\r\n<html>";
            if (const auto line = watch.Report(ok, report)) printed.push_back(Cp1250ToUtf8(*line));
        }
        ASSERT_EQ(printed.size(), run.printed.size());
        for (std::size_t i = 0; i < printed.size(); ++i)
            EXPECT_TRUE(printed[i].starts_with(run.printed[i])) << printed[i];
    }
}

TEST(OutcomeChanges, AFailureShowsOnlyTheReportsFirstLineCutShort) {
    UploadOutcomeWatch watch;
    const auto line = watch.Report(false, "http Error: " + std::string(5000, 'x') + "\r\nResult");
    ASSERT_TRUE(line);
    EXPECT_LT(line->size(), 300u);
    EXPECT_EQ(line->find("Result"), std::string::npos);
    EXPECT_TRUE(line->ends_with("..."));
}

TEST(HeadlessSettings, UploadLineSaysWhereToAndHowToSwitchOn) {
    const std::string on = Cp1250ToUtf8(UploadSettingsLine(
        "BME280", "/h/b.ini", true, 300, "127.0.0.1:8080/Zapisz2Pomiary.php", "test"));
    EXPECT_THAT(on, HasSubstr("/h/b.ini"));
    EXPECT_THAT(
        on,
        HasSubstr("wysyłka włączona, co 300 s do 127.0.0.1:8080/Zapisz2Pomiary.php, tabela test"));
    const std::string off =
        Cp1250ToUtf8(UploadSettingsLine("DS3231", "/h/d.ini", false, 300, "a", "t"));
    EXPECT_THAT(off, HasSubstr("wysyłka wyłączona"));
    EXPECT_THAT(off, HasSubstr("POST=1 w sekcji [CONFIG]"));
}

}  // namespace
}  // namespace pom

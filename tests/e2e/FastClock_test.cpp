// The real program on a fast clock, as the soak benchmark runs it: the
// dated log files follow that clock (days pass in seconds), the chart's
// report comes once a second, and a scale that is no number is refused.
#include <signal.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"

namespace pom {
namespace {

namespace fs = std::filesystem;

// The dates in the names of the saved log files ("Ardu2027-01-10 12_00_07.txt").
std::set<std::string> FileDates(const std::string& dir) {
    std::set<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("Ardu", 0) == 0 && name.size() > 14) out.insert(name.substr(4, 10));
    }
    return out;
}

TEST(FastClock, DaysPassInSecondsAndTheChartReports) {
    test::TempDir home;
    // A day in about 4 s; the program takes what it can, the station keeps
    // the rest in its buffer.
    const std::string scale = "20000";
    test::ChildProcess station("pomiarnik-station", {"--interval", "10", "--time-scale", scale});
    const std::string device = station.ReadLine();
    ASSERT_FALSE(device.empty());
    test::ChildProcess app("pomiarnik",
                           {"--port", device, "--time-scale", scale, "--redraw-report"},
                           {{"XDG_CONFIG_HOME", home.path()}, {"QT_QPA_PLATFORM", "offscreen"}});

    long long redraws = 0, points = 0;
    ASSERT_TRUE(test::WaitFor(
        [&] {
            long long ns = 0, maxNs = 0, kept = 0;
            const std::string line = app.ReadLine(std::chrono::seconds(2));
            return std::sscanf(line.c_str(),
                               "wykres: rysowania=%lld ns=%lld max_ns=%lld punkty=%lld "
                               "trzymane=%lld",
                               &redraws, &ns, &maxNs, &points, &kept) == 5 &&
                   points > 0 && redraws > 0 && ns > 0 && kept > 0 && kept <= points;
        },
        std::chrono::seconds(40)))
        << "no report of a chart with points";

    const std::string data = home.path() + "/ardu/DS3231/data";
    ASSERT_TRUE(
        test::WaitFor([&] { return FileDates(data).size() >= 2; }, std::chrono::seconds(40)))
        << "the log files of a second day";

    ASSERT_TRUE(app.Signal(SIGTERM));
    EXPECT_EQ(app.WaitExit(std::chrono::seconds(20)), 0);
}

class BadScale : public ::testing::TestWithParam<const char*> {};

TEST_P(BadScale, IsRefusedBeforeAnythingStarts) {
    test::TempDir home;
    test::ChildProcess app("pomiarnik", {"--time-scale", GetParam()},
                           {{"XDG_CONFIG_HOME", home.path()}, {"QT_QPA_PLATFORM", "offscreen"}});
    EXPECT_EQ(app.WaitExit(std::chrono::seconds(10)), 2);
    EXPECT_FALSE(fs::exists(home.path() + "/ardu"));
}

INSTANTIATE_TEST_SUITE_P(Values, BadScale,
                         ::testing::Values("0", "-3", "abc", "2x", "", "1e7", "nan"));

}  // namespace
}  // namespace pom

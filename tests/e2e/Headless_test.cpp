// The real program as a service: `pomiarnik --headless` with no display and
// no platform chosen records the simulated station and ends on SIGTERM with 0.
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"

namespace pom {
namespace {

namespace fs = std::filesystem;

bool AnyFileHolds(const std::string& dir, const std::string& text) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (test::ReadFile(it->path().string()).find(text) != std::string::npos) return true;
    return false;
}

TEST(Headless, RecordsTheStationWithoutADisplayAndEndsOnSigterm) {
    // The child inherits this environment: nothing tells Qt where to draw.
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::unsetenv(v);
    test::TempDir home;
    test::ChildProcess station("pomiarnik-station", {"--interval", "1", "--backlog", "3"});
    const std::string device = station.ReadLine();
    ASSERT_FALSE(device.empty());
    test::ChildProcess app("pomiarnik", {"--headless", "--port", device},
                           {{"XDG_CONFIG_HOME", home.path()}});
    ASSERT_TRUE(app.started());

    // 5 s after start the port opens; the station's first reading attaches
    // it while the program asks what it measures.
    const std::string kindDir = home.path() + "/ardu/DS3231";
    ASSERT_TRUE(test::WaitFor([&] { return fs::exists(kindDir); }, std::chrono::seconds(40)));
    EXPECT_EQ(app.WaitExit(std::chrono::milliseconds(0)), -1);  // still running

    ASSERT_TRUE(app.Signal(SIGTERM));
    EXPECT_EQ(app.WaitExit(std::chrono::seconds(20)), 0);
    EXPECT_TRUE(fs::exists(kindDir + "/pomiarnik.ini"));
    EXPECT_TRUE(fs::exists(kindDir + "/data/niewyslane.txt"));
    // The station's reading that attached it is in the saved log.
    EXPECT_TRUE(AnyFileHolds(kindDir + "/data", "A:"));
}

}  // namespace
}  // namespace pom

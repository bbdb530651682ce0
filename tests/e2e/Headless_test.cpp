// The real program as a service: `pomiarnik --headless` with no display and
// no platform chosen records the simulated station and ends on SIGTERM with 0.
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/HeadlessService.h"
#include "tests/support/RawHttpServer.h"
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

using test::LineWith;

TEST(Headless, RecordsTheStationWithoutADisplayAndEndsOnSigterm) {
    test::TempDir home;
    test::ChildProcess station("pomiarnik-station", {"--interval", "1", "--backlog", "3"});
    const std::string device = station.ReadLine();
    ASSERT_FALSE(device.empty());
    test::ChildProcess app = test::StartHeadless(home.path(), device);
    ASSERT_TRUE(app.started());
    // Its first words: where the settings are; at attach, that uploads are
    // off by default and how to switch them on.
    EXPECT_NE(LineWith(app, "ustawienia: " + home.path() + "/ardu/pomiarnik.ini (port " + device),
              "");
    const std::string upload = LineWith(app, "stacja DS3231");
    EXPECT_NE(upload.find(home.path() + "/ardu/DS3231/pomiarnik.ini"), std::string::npos) << upload;
    EXPECT_NE(upload.find("wysyłka wyłączona"), std::string::npos) << upload;

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

// Uploads on in the station's settings: the journal says where they go, and
// one line that they work, not one a post. A barometer station's own records
// are queued without a read-out, so the posts start soon after the greeting.
TEST(Headless, SaysWhereItUploadsAndOnlyWhenTheOutcomeChanges) {
    test::TempDir home;
    test::RawHttpServer recorder;
    const std::string url = recorder.url("/Zapisz2Pomiary.php");
    test::WriteFile(
        home.path() + "/ardu/BME280/pomiarnik.ini",
        "[CONFIG]\r\nPOST=1\r\nwysylkaPOST=1\r\n[PostWWW]\r\nadresSkryptu=" + url + "\r\n");
    test::ChildProcess station("pomiarnik-station", {"--kind", "BME280", "--interval", "1"});
    const std::string device = station.ReadLine();
    ASSERT_FALSE(device.empty());
    test::ChildProcess app = test::StartHeadless(home.path(), device);
    const std::string upload = LineWith(app, "stacja BME280");
    EXPECT_NE(upload.find("wysyłka włączona, co 1 s do " + url), std::string::npos) << upload;
    EXPECT_NE(LineWith(app, "wysyłka działa"), "");
    ASSERT_TRUE(
        test::WaitFor([&] { return recorder.RequestCount() >= 2; }, std::chrono::seconds(40)));
    ASSERT_TRUE(app.Signal(SIGTERM));
    EXPECT_EQ(app.WaitExit(std::chrono::seconds(20)), 0);
    EXPECT_EQ(LineWith(app, "wysyłka", std::chrono::seconds(1)), "")
        << "one line while the uploads work, not one a post";
}

}  // namespace
}  // namespace pom

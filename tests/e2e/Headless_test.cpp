// The real program as a service: `pomiarnik --headless` with no display and
// no platform chosen records the simulated station and ends on SIGTERM with 0.
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestSupport.h"
#include "util/IniFile.h"

namespace pom {
namespace {

namespace fs = std::filesystem;

bool AnyFileHolds(const std::string& dir, const std::string& text) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (test::ReadFile(it->path().string()).find(text) != std::string::npos) return true;
    return false;
}

// The service with its standard error on the pipe the test reads.
test::ChildProcess StartService(const std::string& home, const std::string& device) {
    return test::ChildProcess(
        "/bin/sh",
        {"-c", "exec \"$0\" --headless --port \"$1\" 2>&1", test::BinDir() + "/pomiarnik", device},
        {{"XDG_CONFIG_HOME", home}});
}

// The next line of the service's output that holds `text`, or empty.
std::string LineWith(test::ChildProcess& app, const std::string& text,
                     std::chrono::seconds deadline = std::chrono::seconds(40)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        const std::string line = app.ReadLine(std::chrono::seconds(1));
        if (line.find(text) != std::string::npos) return line;
    }
    return {};
}

TEST(Headless, RecordsTheStationWithoutADisplayAndEndsOnSigterm) {
    // The child inherits this environment: nothing tells Qt where to draw.
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::unsetenv(v);
    test::TempDir home;
    test::ChildProcess station("pomiarnik-station", {"--interval", "1", "--backlog", "3"});
    const std::string device = station.ReadLine();
    ASSERT_FALSE(device.empty());
    test::ChildProcess app = StartService(home.path(), device);
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

// Uploads switched on in the station's settings: the journal says where
// they go, and one line that they work, not one per reading.
TEST(Headless, SaysWhereItUploadsAndOnlyWhenTheOutcomeChanges) {
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::unsetenv(v);
    test::TempDir home;
    test::RawHttpServer recorder;
    IniDocument ini;
    ini.Set("CONFIG", "POST", "1");
    ini.Set("CONFIG", "wysylkaPOST", "1");
    ini.Set("PostWWW", "adresSkryptu", recorder.url("/Zapisz2Pomiary.php"));
    test::WriteFile(home.path() + "/ardu/DS3231/pomiarnik.ini", ini.Serialize());
    test::ChildProcess station("pomiarnik-station", {"--interval", "1", "--backlog", "3"});
    const std::string device = station.ReadLine();
    ASSERT_FALSE(device.empty());
    test::ChildProcess app = StartService(home.path(), device);
    const std::string upload = LineWith(app, "stacja DS3231");
    EXPECT_NE(upload.find("wysyłka włączona, co 1 s do " + recorder.url("/Zapisz2Pomiary.php")),
              std::string::npos)
        << upload;
    EXPECT_NE(LineWith(app, "wysyłka działa"), "");
    ASSERT_TRUE(
        test::WaitFor([&] { return recorder.RequestCount() >= 3; }, std::chrono::seconds(40)));
    ASSERT_TRUE(app.Signal(SIGTERM));
    EXPECT_EQ(app.WaitExit(std::chrono::seconds(20)), 0);
    int more = 0;  // what it wrote until the end, still in the pipe
    for (std::string l = app.ReadLine(std::chrono::seconds(1)); !l.empty();
         l = app.ReadLine(std::chrono::seconds(1)))
        more += l.find("wysyłka") != std::string::npos ? 1 : 0;
    EXPECT_EQ(more, 0) << "one line while the uploads work, not one a post";
}

}  // namespace
}  // namespace pom

// The real program, offscreen, against a pseudo-terminal: the end of the
// session (SIGTERM, SIGHUP, SIGINT) saves everything and exits with 0.
#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/Pty.h"
#include "tests/support/TestSupport.h"

namespace pom {
namespace {

namespace fs = std::filesystem;

test::ChildProcess StartMonitor(const std::string& configHome, std::vector<std::string> args) {
    return test::ChildProcess("pomiarnik", std::move(args),
                              {{"XDG_CONFIG_HOME", configHome}, {"QT_QPA_PLATFORM", "offscreen"}});
}

class EndOfSession : public ::testing::TestWithParam<int> {};

TEST_P(EndOfSession, SavesEverythingAndExitsWithZero) {
    test::TempDir home;
    test::Pty pty;
    test::ChildProcess app = StartMonitor(home.path(), {"--port", pty.slavePath()});
    ASSERT_TRUE(app.started());
    const std::string kindDir = home.path() + "/ardu/DS3231";
    // The port opens 5 s after start; greet until the station is attached.
    ASSERT_TRUE(test::WaitFor(
        [&] {
            pty.Write("Borsk DS3231\n");
            pty.ReadAvailable();
            return fs::exists(kindDir + "/data/niewyslane.txt") || fs::exists(kindDir);
        },
        std::chrono::seconds(30)));
    // A reading while the value count is unknown makes the program ask for
    // the sensor information: then the line is in the log.
    pty.Write("A:2023-05-01 12:00:00 21.5 1 W4r:0\n");
    std::string sent;
    ASSERT_TRUE(test::WaitFor([&] {
        sent += pty.ReadAvailable();
        return sent.find("I\r\n") != std::string::npos;
    }));

    ASSERT_TRUE(app.Signal(GetParam()));
    EXPECT_EQ(app.WaitExit(std::chrono::seconds(20)), 0);

    EXPECT_TRUE(fs::exists(kindDir + "/data/niewyslane.txt"));
    EXPECT_TRUE(fs::exists(kindDir + "/pomiarnik.ini"));
    const std::string ini = test::ReadFile(kindDir + "/pomiarnik.ini");
    EXPECT_NE(ini.find("idxZakladki"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Form_W"), std::string::npos) << ini;
    bool logSaved = false;
    for (const auto& e : fs::directory_iterator(kindDir + "/data"))
        if (test::ReadFile(e.path().string()).find("Borsk DS3231") != std::string::npos)
            logSaved = true;
    EXPECT_TRUE(logSaved);
}

INSTANTIATE_TEST_SUITE_P(Signals, EndOfSession, ::testing::Values(SIGTERM, SIGHUP, SIGINT));

TEST(CommandLine, HelpAndVersionAnswerWithoutAWindow) {
    test::TempDir home;
    test::ChildProcess help = StartMonitor(home.path(), {"--help"});
    EXPECT_EQ(help.ReadLine(), "Użycie: pomiarnik [opcje]");
    EXPECT_EQ(help.WaitExit(std::chrono::seconds(10)), 0);
    test::ChildProcess version = StartMonitor(home.path(), {"--version"});
    EXPECT_EQ(version.ReadLine().rfind("pomiarnik ", 0), 0u);
    EXPECT_EQ(version.WaitExit(std::chrono::seconds(10)), 0);
    test::ChildProcess bad = StartMonitor(home.path(), {"--no-such-option"});
    EXPECT_EQ(bad.WaitExit(std::chrono::seconds(10)), 2);
    EXPECT_FALSE(fs::exists(home.path() + "/ardu"));
}

// Without a home folder the settings and data would land in a shared folder:
// the program refuses to start instead.
TEST(CommandLine, NoUsableHomeRefusesToStart) {
    test::ChildProcess app("pomiarnik", {},
                           {{"XDG_CONFIG_HOME", ""},
                            {"HOME", "/nonexistent-pomiarnik-home"},
                            {"QT_QPA_PLATFORM", "offscreen"}});
    EXPECT_EQ(app.WaitExit(std::chrono::seconds(10)), 1);
}

}  // namespace
}  // namespace pom

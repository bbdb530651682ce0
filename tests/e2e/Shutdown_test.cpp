// The real program, offscreen, against a pseudo-terminal: the end of the
// session (SIGTERM, SIGHUP, SIGINT) saves everything and exits with 0.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Pty.h"
#include "tests/support/TestSupport.h"

extern char** environ;

namespace pom {
namespace {

namespace fs = std::filesystem;

class RunningMonitor {
public:
    RunningMonitor(const std::string& configHome, const std::vector<std::string>& args) {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string v = *e;
            if (!v.starts_with("XDG_CONFIG_HOME=") && !v.starts_with("QT_QPA_PLATFORM="))
                env.push_back(v);
        }
        env.push_back("XDG_CONFIG_HOME=" + configHome);
        env.push_back("QT_QPA_PLATFORM=offscreen");
        std::vector<std::string> argv = {test::BinDir() + "/pomiarnik"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> a, e;
        for (auto& s : argv) a.push_back(s.data());
        a.push_back(nullptr);
        for (auto& s : env) e.push_back(s.data());
        e.push_back(nullptr);
        if (posix_spawn(&pid_, a[0], nullptr, nullptr, a.data(), e.data()) != 0) pid_ = -1;
    }
    ~RunningMonitor() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    // The exit status once the program has ended, -1 while it runs past the deadline.
    int WaitExit(std::chrono::milliseconds deadline) {
        int status = 0;
        const bool done =
            test::WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, deadline);
        if (!done) return -1;
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
};

class EndOfSession : public ::testing::TestWithParam<int> {};

TEST_P(EndOfSession, SavesEverythingAndExitsWithZero) {
    test::TempDir home;
    test::Pty pty;
    RunningMonitor app(home.path(), {"--port", pty.slavePath()});
    ASSERT_GT(app.pid(), 0);
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

    ASSERT_EQ(::kill(app.pid(), GetParam()), 0);
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
    RunningMonitor help(home.path(), {"--help"});
    EXPECT_EQ(help.WaitExit(std::chrono::seconds(10)), 0);
    RunningMonitor version(home.path(), {"--version"});
    EXPECT_EQ(version.WaitExit(std::chrono::seconds(10)), 0);
    RunningMonitor bad(home.path(), {"--no-such-option"});
    EXPECT_EQ(bad.WaitExit(std::chrono::seconds(10)), 2);
    EXPECT_FALSE(fs::exists(home.path() + "/ardu"));
}

}  // namespace
}  // namespace pom

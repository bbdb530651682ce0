// Starts the real pomiarnik-station and talks to it over its pseudo-terminal.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/logic/StationParse.h"
#include "tests/support/TestSupport.h"

extern char** environ;

namespace pom {
namespace {

// The built programs share one folder; when the environment does not name
// it, the folder of this test program is the one.
std::string StationBinary() {
    std::string bin = test::BinDir() + "/pomiarnik-station";
    if (access(bin.c_str(), X_OK) == 0) return bin;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return bin;
    std::string dir(self, static_cast<std::size_t>(n));
    return dir.substr(0, dir.rfind('/')) + "/pomiarnik-station";
}

// The station process, stopped by its own pid when the test ends.
class StationProcess {
public:
    explicit StationProcess(std::vector<std::string> args) {
        const std::string bin = StationBinary();
        args.insert(args.begin(), bin);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        if (posix_spawn(&pid_, bin.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        stdout_ = out[0];
    }
    ~StationProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        if (stdout_ >= 0) close(stdout_);
    }
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;

    // The first line the station prints: the device it serves.
    std::string FirstLine() {
        std::string line;
        char c;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{stdout_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            if (read(stdout_, &c, 1) != 1) break;
            if (c == '\n') return line;
            line += c;
        }
        return line;
    }

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
};

// The PC's end of the line, in raw mode.
class Terminal {
public:
    explicit Terminal(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) return;
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~Terminal() {
        if (fd_ >= 0) close(fd_);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    bool ok() const { return fd_ >= 0; }

    void Send(const std::string& s) {
        ASSERT_EQ(write(fd_, s.data(), s.size()), static_cast<ssize_t>(s.size()));
    }

    // Waits for a line that starts with `prefix`; the lines before it go to
    // `skipped`. Empty on time-out.
    std::string WaitLine(const std::string& prefix) {
        std::string found;
        test::WaitFor([&] {
            Pump();
            std::size_t nl;
            while ((nl = buf_.find('\n')) != std::string::npos) {
                std::string line = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line.starts_with(prefix)) {
                    found = line;
                    return true;
                }
                skipped.push_back(line);
            }
            return false;
        });
        return found;
    }

    std::vector<std::string> skipped;

private:
    void Pump() {
        char b[4096];
        ssize_t n;
        while ((n = read(fd_, b, sizeof b)) > 0) buf_.append(b, static_cast<std::size_t>(n));
    }
    int fd_ = -1;
    std::string buf_;
};

TEST(StationProcessTest, HoldsTheGreetingAndReadOutConversationAcrossReopen) {
    StationProcess station({"--backlog", "3", "--interval", "3600", "--seed", "5", "--crlf"});
    ASSERT_GT(station.pid(), 0) << "pomiarnik-station not built: " << StationBinary();
    const std::string path = station.FirstLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;

    {
        Terminal pc(path);
        ASSERT_TRUE(pc.ok());
        pc.Send("i\r\n");
        const std::string greeting = pc.WaitLine("Stacja");
        EXPECT_NE(greeting.find("Borsk"), std::string::npos) << greeting;
        EXPECT_EQ(greeting.find("BME280"), std::string::npos) << greeting;
        EXPECT_EQ(pc.WaitLine("labels:"),
                  "labels:T1 [\xC2\xB0"
                  "C];T2 [\xC2\xB0"
                  "C];U1 [V];U2 [V]");
        pc.Send("R\r\n");
        const std::string r = pc.WaitLine("R:");
        EXPECT_EQ(W4rCount(r), 2) << r;
    }
    // The PC closed the port; the station keeps serving the next opening.
    {
        Terminal pc(path);
        ASSERT_TRUE(pc.ok());
        pc.Send("R\r\n");
        const std::string r = pc.WaitLine("R:");
        EXPECT_EQ(W4rCount(r), 1) << r;
        pc.Send("I\r\n");
        EXPECT_EQ(pc.WaitLine("I: ").substr(0, 5), "I: 2 ");
    }
}

TEST(StationProcessTest, SlowWritesStillCarryWholeLines) {
    StationProcess station({"--kind", "BME280", "--chunk", "3", "--chunk-delay", "1"});
    const std::string path = station.FirstLine();
    Terminal pc(path);
    ASSERT_TRUE(pc.ok()) << path;
    pc.Send("i\r\n15T\r\n");
    const std::string greeting = pc.WaitLine("Stacja");
    EXPECT_NE(greeting.find("BME280"), std::string::npos) << greeting;
    EXPECT_EQ(pc.WaitLine("pomiar"), "pomiar co ile sekund T: 15");
}

TEST(StationProcessTest, HelpExitsCleanly) {
    StationProcess station({"--help"});
    ASSERT_GT(station.pid(), 0);
    EXPECT_EQ(station.FirstLine(), "usage: pomiarnik-station [options]");
}

}  // namespace
}  // namespace pom

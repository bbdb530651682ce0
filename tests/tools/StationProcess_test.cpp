// Starts the real pomiarnik-station and talks to it over its pseudo-terminal.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/logic/StationParse.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"

namespace pom {
namespace {

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
    test::ChildProcess station("pomiarnik-station",
                               {"--backlog", "3", "--interval", "3600", "--seed", "5", "--crlf"});
    ASSERT_TRUE(station.started()) << "pomiarnik-station not built in " << test::BinDir();
    const std::string path = station.ReadLine();
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
    test::ChildProcess station("pomiarnik-station",
                               {"--kind", "BME280", "--chunk", "3", "--chunk-delay", "1"});
    const std::string path = station.ReadLine();
    Terminal pc(path);
    ASSERT_TRUE(pc.ok()) << path;
    pc.Send("i\r\n15T\r\n");
    const std::string greeting = pc.WaitLine("Stacja");
    EXPECT_NE(greeting.find("BME280"), std::string::npos) << greeting;
    EXPECT_EQ(pc.WaitLine("pomiar"), "pomiar co ile sekund T: 15");
}

TEST(StationProcessTest, DeviceThatHangsUpEndsTheStationWithAnError) {
    // The test holds the master side; the station serves the slave as a device.
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    // The station must not inherit the master, or closing it here hangs nothing up.
    ASSERT_EQ(fcntl(master, F_SETFD, FD_CLOEXEC), 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    char name[256];
    ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
    test::ChildProcess station("pomiarnik-station", {"--device", name});
    ASSERT_TRUE(station.started());
    ASSERT_EQ(station.ReadLine(), name);
    ASSERT_EQ(write(master, "I\r\n", 3), 3);
    // Answers while the line is up.
    std::string got;
    test::WaitFor([&] {
        char b[256];
        const ssize_t n = read(master, b, sizeof b);
        if (n > 0) got.append(b, static_cast<std::size_t>(n));
        return got.find("10T\n") != std::string::npos;
    });
    EXPECT_EQ(got.substr(0, 5), "I: 2 ");
    close(master);
    EXPECT_EQ(station.WaitExit(std::chrono::seconds(10)), 1);
}

TEST(StationProcessTest, HelpExitsCleanly) {
    test::ChildProcess station("pomiarnik-station", {"--help"});
    ASSERT_TRUE(station.started());
    EXPECT_EQ(station.ReadLine(), "usage: pomiarnik-station [options]");
}

}  // namespace
}  // namespace pom

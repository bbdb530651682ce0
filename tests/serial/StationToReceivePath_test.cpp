// The real pomiarnik-station on a pseudo-terminal, read by the serial port,
// its clusters handed on the (pumped) main thread to the receive path, which
// writes the data log.

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/logic/DataLog.h"
#include "app/logic/ReceivePath.h"
#include "serial/QueuedDispatcher.h"
#include "serial/SerialPort.h"
#include "tests/support/TestSupport.h"
#include "util/Clock.h"

extern char** environ;

namespace pom {
namespace {

std::string StationBinary() {
    std::string bin = test::BinDir() + "/pomiarnik-station";
    if (access(bin.c_str(), X_OK) == 0) return bin;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return bin;
    std::string dir(self, static_cast<std::size_t>(n));
    return dir.substr(0, dir.rfind('/')) + "/pomiarnik-station";
}

// The station process, ended by its own pid with the test.
class Station {
public:
    explicit Station(std::vector<std::string> args) {
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
    ~Station() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        if (stdout_ >= 0) close(stdout_);
    }
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // The first line it prints: the device it serves.
    std::string DevicePath() {
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

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
};

// The main window's part: the port's events drive the receive path.
class Window final : public ReceiveHost {
public:
    explicit Window(CancellableDispatcher& d) : port(d), path(*this), standIn(path, *this) {
        port.SetBaudRate(57600);
        port.SetRTOCharDelayTime(190);
        port.SetWTOCharDelayTime(190);
        port.SetOnRxClusterEvent([this](TSerialPort&) { path.SerialPort1RxClusterEvent(); });
        port.SetOnWriteDone([this](TSerialPort&) { path.SerialPort1WriteDone(); });
    }

    std::string Stamp() override { return FormatStamp(clock.now()); }
    void AppendLog(std::string line) override { log.Append(std::move(line)); }
    void SendString(const std::string& text) override { port.SendString(text); }
    void ReadNextCluster(std::string& bytes, int& count, int& error) override {
        std::int32_t size = 0, err = 0;
        auto data = port.ReadNextCluster(size, err);
        bytes = size > 0 ? std::string(data.get(), static_cast<std::size_t>(size)) : "";
        count = size;
        error = err;
    }
    std::string StationFolder() const override { return folder; }
    int ValueCount() const override { return standIn.ValueCount(); }
    void AttachStation(const std::string& kind) override {
        attached.push_back(kind);
        folder = "\\ardu\\" + kind;
    }
    void SetBarometerPanelVisible(bool) override {}
    void SetChannelCaption(int, const std::string&) override {}
    void SetCatchUpInterval(int) override {}
    int BarometerMessage(const std::string& line) override {
        return standIn.BarometerMessage(line);
    }
    void SensorInformation(const std::string& line) override { standIn.SensorInformation(line); }
    int Reading(const std::string& line) override { return standIn.Reading(line); }

    int Count(const std::string& textPrefix) const {
        int n = 0;
        for (const auto& l : log.Lines())
            n += l.size() >= 20 && l.compare(20, textPrefix.size(), textPrefix) == 0;
        return n;
    }

    test::FakeClock clock{LocalDateTime{2024, 3, 9, 8, 15, 0, 0}};
    TSerialPort port;
    DataLog log;
    ReceivePath path;
    StandInMeasurements standIn;
    std::string folder = "\\Ardu";
    std::vector<std::string> attached;
};

TEST(StationToReceivePath, StationLinesReachTheDataLogThroughClusters) {
    Station station({"--interval", "10", "--time-scale", "20", "--backlog", "4", "--seed", "7",
                     "--crlf", "--start", "2024-03-09 08:00:00"});
    const std::string device = station.DevicePath();
    ASSERT_FALSE(device.empty());

    QueuedDispatcher main;
    Window w(main);
    w.port.SetCommPort(device);
    w.port.SetActive(true);
    ASSERT_EQ(w.port.Active(), true);

    // Readings arrive every half second; the backlog is asked for with "R",
    // as the catch-up timer would, once the station is known.
    auto next = std::chrono::steady_clock::now();
    ASSERT_TRUE(main.PumpUntil(
        [&] {
            if (!w.attached.empty() && std::chrono::steady_clock::now() >= next) {
                w.path.TimerCzytajZalegleTimer();
                next += std::chrono::milliseconds(300);
            }
            return w.Count("R:") >= 4 && w.Count("A:") >= 3;
        },
        std::chrono::seconds(30)));

    EXPECT_EQ(w.attached, std::vector<std::string>{"DS3231"});
    // Every received line is stamped and whole: no CR or LF left, no reading
    // cut in two by a cluster boundary.
    int readings = 0;
    for (const auto& line : w.log.Lines()) {
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        if (line.size() < 22 || (line.compare(20, 2, "R:") != 0 && line.compare(20, 2, "A:") != 0))
            continue;
        ++readings;
        EXPECT_EQ(line.substr(0, 20), "2024-03-09 08:15:00 ") << line;
        EXPECT_EQ(line.substr(22, 5), "2024-") << line;
        EXPECT_NE(line.find(" W4r:"), std::string::npos) << line;
    }
    EXPECT_GE(readings, 7);
    // The stored readings come out oldest first, one interval apart.
    std::vector<std::string> readOut;
    for (const auto& line : w.log.Lines())
        if (line.size() > 41 && line.compare(20, 2, "R:") == 0)
            readOut.push_back(line.substr(22, 19));
    ASSERT_GE(readOut.size(), 4u);
    for (std::size_t i = 1; i < 4; ++i) EXPECT_LT(readOut[i - 1], readOut[i]);
    // The echo of the commands sent, raised by the write-done event.
    EXPECT_GE(w.Count("send command: R"), w.Count("R:"));
    EXPECT_EQ(w.port.ClusterCount(), 0u);
}

}  // namespace
}  // namespace pom

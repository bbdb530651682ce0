// The real pomiarnik-station on a pseudo-terminal, read by the serial port,
// its clusters handed on the (pumped) main thread to the receive path, which
// writes the data log.

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
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeReadingsHost.h"
#include "tests/support/TestSupport.h"
#include "util/Clock.h"

namespace pom {
namespace {

// The main window's part: the port's events drive the receive path.
class Window final : public ReceiveHost {
public:
    explicit Window(CancellableDispatcher& d)
        : port(d), path(*this), readings(readingsHost, path.Values()) {
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
    int ValueCount() const override { return readingsHost.valueCount; }
    void AttachStation(const std::string& kind) override {
        attached.push_back(kind);
        folder = "\\ardu\\" + kind;
    }
    void SetBarometerPanelVisible(bool) override {}
    void SetChannelCaption(int, const std::string&) override {}
    void SetCatchUpInterval(int) override {}
    int BarometerMessage(const std::string& line) override {
        return readings.BarometerMessage(line);
    }
    void SensorInformation(const std::string& line) override { readings.SensorInformation(line); }
    int Reading(const std::string& line) override { return readings.Reading(line); }

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
    test::FakeReadingsHost readingsHost;
    Readings readings;
    std::string folder = "\\Ardu";
    std::vector<std::string> attached;
};

TEST(StationToReceivePath, StationLinesReachTheDataLogThroughClusters) {
    test::ChildProcess station(
        "pomiarnik-station", {"--interval", "10", "--time-scale", "20", "--backlog", "4", "--seed",
                              "7", "--crlf", "--start", "2024-03-09 08:00:00"});
    const std::string device = station.ReadLine();
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

// The simulated station and the receive path talk to each other directly:
// what one writes the other reads, so their formats must agree.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/logic/ReceivePath.h"
#include "tests/support/FakeReadingsHost.h"
#include "tools/station/SimStation.h"

namespace pom {
namespace {

using ::testing::ElementsAre;

class Wire final : public ReceiveHost {
public:
    explicit Wire(const station::Options& opt)
        : station(opt, LocalDateTime{2023, 5, 1, 12, 0, 0, 0}, 0), path(*this) {
        readings = std::make_unique<Readings>(readingsHost, path.Values());
    }

    station::SimStation station;
    ReceivePath path;
    test::FakeReadingsHost readingsHost;
    std::unique_ptr<Readings> readings;
    std::int64_t now = 0;
    std::deque<std::string> chunks;
    std::vector<std::string> log, readOut;
    std::string folder = "\\Ardu";
    std::vector<std::string> attached;
    std::string captions[5];
    int catchUpMs = 21000;

    // Lets the station's time run, delivering what it says in small chunks.
    void Run(std::int64_t ms) {
        const std::int64_t end = now + ms;
        while (now < end) {
            now += 100;
            Deliver(station.Advance(now));
            while (!chunks.empty()) path.SerialPort1RxClusterEvent();
            if (catchUpMs > 0 && now % catchUpMs < 100) path.TimerCzytajZalegleTimer();
        }
    }

    std::string Stamp() override { return "2023-05-01 12:00:00 "; }
    void AppendLog(std::string line) override {
        if (line.substr(20).starts_with("R:")) readOut.push_back(line.substr(22, 19));
        log.push_back(std::move(line));
    }
    void SendString(const std::string& text) override { Deliver(station.Receive(text, now)); }
    void ReadNextCluster(std::string& bytes, int& count, int& error) override {
        if (chunks.empty()) {
            count = error = -1;
            return;
        }
        bytes = chunks.front();
        chunks.pop_front();
        count = static_cast<int>(bytes.size());
        error = 0;
    }
    std::string StationFolder() const override { return folder; }
    int ValueCount() const override { return readingsHost.valueCount; }
    void AttachStation(const std::string& kind) override {
        attached.push_back(kind);
        folder = "\\ardu\\" + kind;
    }
    void SetBarometerPanelVisible(bool) override {}
    void SetChannelCaption(int k, const std::string& c) override { captions[k] = c; }
    void SetCatchUpInterval(int ms) override { catchUpMs = ms; }
    std::int64_t SteadyMs() const override { return now; }
    int BarometerMessage(const std::string& line) override {
        return readings->BarometerMessage(line);
    }
    void SensorInformation(const std::string& line) override { readings->SensorInformation(line); }
    int Reading(const std::string& line) override { return readings->Reading(line); }

private:
    void Deliver(const std::string& bytes) {
        for (std::size_t i = 0; i < bytes.size(); i += 23) chunks.push_back(bytes.substr(i, 23));
    }
};

TEST(StationConversationTest, BacklogIsReadOutOldestFirstDespiteNoise) {
    station::Options opt;
    opt.backlog = 5;
    opt.intervalSeconds = 10;
    opt.noiseRate = 0.3;
    opt.garbageRate = 0.2;
    opt.crlf = true;
    opt.seed = 3;
    Wire w(opt);
    // The first reading comes before the greeting: the PC asks for both the
    // greeting and the sensor information, and attaches a clock station.
    w.Run(10000);
    EXPECT_THAT(w.attached, ElementsAre("DS3231"));
    EXPECT_EQ(w.readingsHost.valueCount, 3);  // two DS1820 sensors + 1, from "I: "
    EXPECT_EQ(w.captions[1],
              "T1 [\xB0"
              "C]");
    EXPECT_EQ(w.captions[4], "U2 [V]");
    // The next reading starts the read-out; the catch-up timer empties the
    // buffer within a few of its ticks.
    w.Run(60000);
    ASSERT_GE(w.readOut.size(), 7u);
    EXPECT_THAT(std::vector<std::string>(w.readOut.begin(), w.readOut.begin() + 7),
                ElementsAre("2023-05-01 11:59:10", "2023-05-01 11:59:20", "2023-05-01 11:59:30",
                            "2023-05-01 11:59:40", "2023-05-01 11:59:50", "2023-05-01 12:00:10",
                            "2023-05-01 12:00:20"));
    EXPECT_EQ(w.readingsHost.valueCount, 6);  // from the readings themselves
    EXPECT_LE(w.station.Stored(), 1u);
}

TEST(StationConversationTest, SettingRepliesReachTheMirroredValues) {
    station::Options opt;
    opt.degree = station::Degree::Utf8;
    Wire w(opt);
    w.path.SendCommand("15T");
    w.path.SendCommand("7S");
    w.path.SendCommand("-0.25C");
    w.path.SendCommand("-12.0H");
    w.path.SendCommand("12.5t");
    w.Run(100);
    EXPECT_EQ(w.path.Values().measureInterval, 15);
    EXPECT_EQ(w.path.Values().stationAvgCount, 7);
    EXPECT_EQ(w.path.Values().calibrationCoef, -0.25);
    EXPECT_EQ(w.path.Values().altitude, -12.0);
    EXPECT_EQ(w.path.Values().meanTemperature, 12.5);
}

}  // namespace
}  // namespace pom

// The real program as a service publishing a simulated station's records to
// a real broker: what Home Assistant reads, a broker away across a kill, a
// wrong password, a legend renamed.
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/HeadlessService.h"
#include "tests/support/MqttBroker.h"
#include "tests/support/TestSupport.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::LineWith;

// The raw text of a top-level field of a JSON object ("..." with its quotes,
// a number, or a nested object or array); empty when it is not there.
std::string Field(const std::string& json, const std::string& key) {
    int depth = 0;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '"') {
            std::size_t end = i + 1;
            while (end < json.size() && json[end] != '"') end += json[end] == '\\' ? 2 : 1;
            const std::string text = json.substr(i + 1, end - i - 1);
            if (depth == 1 && text == key && end + 1 < json.size() && json[end + 1] == ':') {
                std::size_t from = end + 2, to = from;
                int inner = 0;
                bool quoted = false;
                for (; to < json.size(); ++to) {
                    const char d = json[to];
                    if (quoted) {
                        if (d == '\\')
                            ++to;
                        else if (d == '"')
                            quoted = false;
                    } else if (d == '"') {
                        quoted = true;
                    } else if (d == '{' || d == '[') {
                        ++inner;
                    } else if (d == '}' || d == ']') {
                        if (inner == 0) break;
                        --inner;
                    } else if (d == ',' && inner == 0) {
                        break;
                    }
                }
                return json.substr(from, to - from);
            }
            i = end;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return {};
}

// The state payloads of the queue file ("topic<TAB>payload" lines).
std::vector<std::string> QueuedStates(const std::string& file) {
    std::vector<std::string> r;
    const std::string text = test::ReadFile(file);
    std::size_t at = 0;
    for (std::size_t nl; (nl = text.find("\r\n", at)) != std::string::npos; at = nl + 2) {
        const std::string line = text.substr(at, nl - at);
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos) r.push_back(line.substr(tab + 1));
    }
    return r;
}

struct MqttRun : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(test::FileExists(test::kBroker)) << "scripts/install-deps installs mosquitto";
        port = test::FreePort();
        kindDir = home.path() + "/ardu/DS3231";
        queueFile = kindDir + "/data/niewyslane_mqtt.txt";
        device = station.ReadLine();
        ASSERT_FALSE(device.empty());
    }
    // The station's settings: a record a second, publishing on.
    void Settings(const std::string& extra) {
        test::WriteFile(kindDir + "/pomiarnik.ini",
                        "[CONFIG]\r\nwysylkaPOST=1\r\n[MQTT]\r\nWlacz=1\r\n"
                        "Port=" +
                            std::to_string(port) + "\r\n" + extra);
    }
    std::string Topic(const std::string& rest) const { return "pomiarnik/test/" + rest; }

    test::TempDir home;
    test::TempDir brokerDir;
    test::ChildProcess station{"pomiarnik-station", {"--interval", "1", "--backlog", "3"}};
    std::string device;
    int port = 0;
    std::string kindDir;
    std::string queueFile;
};

TEST_F(MqttRun, DiscoveryAndStatesAsHomeAssistantTakesThemAndARenamedLegendFollows) {
    test::Broker broker(brokerDir, port);
    ASSERT_TRUE(broker.Start());
    test::Subscriber sub(port, "#");
    ASSERT_TRUE(sub.ok());
    Settings("[Legendy]\r\nkan1=" + Cp("Temperatura wody") + "\r\nJed1=" + Cp("°C") + "\r\n");
    test::ChildProcess app = test::StartHeadless(home.path(), device);
    const std::string config = "homeassistant/sensor/pomiarnik_test/sonda";
    ASSERT_TRUE(sub.Wait([&] { return sub.Count(Topic("state")) >= 3; }, 40s));
    ASSERT_TRUE(app.Signal(SIGTERM));
    EXPECT_EQ(app.WaitExit(20s), 0);
    ASSERT_TRUE(sub.Wait([&] { return sub.Count(Topic("status")) >= 2; }));

    const auto status = sub.Payloads(Topic("status"));
    EXPECT_EQ(status.front(), "online");
    EXPECT_EQ(status.back(), "offline");
    // The simulated station sends six values; each has its config, retained.
    int channels = 0;
    for (const test::Subscriber::Got& g : sub.Messages()) {
        if (!g.topic.starts_with(config)) continue;
        ++channels;
        // ".../sondaN/config"
        const std::string key =
            "sonda" + g.topic.substr(config.size(), g.topic.size() - config.size() - 7);
        SCOPED_TRACE(g.topic + " " + g.payload);
        EXPECT_EQ(Field(g.payload, "state_class"), "\"measurement\"");
        EXPECT_EQ(Field(g.payload, "unique_id"), "\"pomiarnik_test_" + key + "\"");
        EXPECT_EQ(Field(g.payload, "state_topic"), "\"pomiarnik/test/state\"");
        EXPECT_EQ(Field(g.payload, "availability_topic"), "\"pomiarnik/test/status\"");
        EXPECT_EQ(Field(g.payload, "value_template"),
                  "\"{{ value_json." + key + " | default(none) }}\"");
        const std::string device = Field(g.payload, "device");
        EXPECT_EQ(Field(device, "identifiers"), "[\"pomiarnik_DS3231\"]");
        EXPECT_EQ(Field(device, "name"), "\"Pomiarnik DS3231\"");
        EXPECT_NE(Field(device, "sw_version"), "");
        if (key == "sonda0") {
            EXPECT_EQ(Field(g.payload, "name"), "\"Temperatura wody\"");
            EXPECT_EQ(Field(g.payload, "unit_of_measurement"), "\"°C\"");
            EXPECT_EQ(Field(g.payload, "device_class"), "\"temperature\"");
        } else if (key == "sonda1") {
            EXPECT_EQ(Field(g.payload, "name"), "\"B1\"");
            EXPECT_EQ(Field(g.payload, "unit_of_measurement"), "\"mV\"");
            EXPECT_EQ(Field(g.payload, "device_class"), "\"voltage\"");
        } else if (key == "sonda5") {
            EXPECT_EQ(Field(g.payload, "name"), "\"Sonda 5\"");
            EXPECT_EQ(Field(g.payload, "unit_of_measurement"), "");
            EXPECT_EQ(Field(g.payload, "device_class"), "");
        }
    }
    EXPECT_EQ(channels, 6);
    // What the broker keeps for Home Assistant coming later: the configs and
    // "offline".
    test::Subscriber late(port, "#");
    ASSERT_TRUE(late.ok());
    EXPECT_TRUE(late.Wait([&] {
        std::size_t kept = 0;
        for (const test::Subscriber::Got& g : late.Received())
            kept += g.retained && (g.topic.starts_with(config) ||
                                   (g.topic == Topic("status") && g.payload == "offline"));
        return kept == 7;
    }));
    // States: the record's time with its zone, then every channel a number.
    const std::regex time(R"("\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d")");
    const std::regex number(R"(-?\d+(\.\d+)?)");
    std::string last;
    for (const std::string& s : sub.Payloads(Topic("state"))) {
        SCOPED_TRACE(s);
        EXPECT_TRUE(std::regex_match(Field(s, "time"), time));
        EXPECT_GT(Field(s, "time"), last);  // in order, each once
        last = Field(s, "time");
        for (int k = 0; k < 6; ++k)
            EXPECT_TRUE(std::regex_match(Field(s, "sonda" + std::to_string(k)), number)) << k;
        EXPECT_EQ(Field(s, "sonda6"), "");
    }

    // The legend renamed in the settings: the next run's config has it.
    Settings("[Legendy]\r\nkan1=Woda\r\nJed1=" + Cp("°C") + "\r\n");
    test::ChildProcess again = test::StartHeadless(home.path(), device);
    ASSERT_TRUE(sub.Wait(
        [&] {
            for (const test::Subscriber::Got& g : sub.Received())
                if (g.topic == config + "0/config" && Field(g.payload, "name") == "\"Woda\"")
                    return true;
            return false;
        },
        40s));
}

TEST_F(MqttRun, KilledWhileTheBrokerIsAwayThenTheBrokerComesAndEveryRecordArrivesInOrder) {
    Settings("");
    {
        test::ChildProcess first = test::StartHeadless(home.path(), device);
        ASSERT_TRUE(test::WaitFor([&] { return QueuedStates(queueFile).size() >= 3; }, 40s));
        ASSERT_TRUE(first.Signal(SIGKILL));
        first.WaitExit(5s);
    }
    const std::vector<std::string> left = QueuedStates(queueFile);
    test::ChildProcess second = test::StartHeadless(home.path(), device);
    // Started while the next attempt is a few seconds off, so the
    // subscriber is in before the program comes.
    std::vector<std::string> lines;
    ASSERT_NE(LineWith(second, Cp1250ToUtf8(Cp("następna próba za 4 s")), 40s, &lines), "");
    for (const std::string& l : lines) {
        if (l.find("MQTT") != std::string::npos) {
            EXPECT_NE(l.find("127.0.0.1:" + std::to_string(port)), std::string::npos) << l;
        }
    }
    test::Broker broker(brokerDir, port);
    ASSERT_TRUE(broker.Start());
    test::Subscriber sub(port, "pomiarnik/#");
    ASSERT_TRUE(sub.ok());
    const std::vector<std::string> queued = QueuedStates(queueFile);
    ASSERT_GT(queued.size(), left.size());
    // The killed run's records are still first in the queue.
    EXPECT_TRUE(std::equal(left.begin(), left.end(), queued.begin()));
    // Every one arrives, in the queue's order (one may come twice).
    const auto arrived = [&] {
        std::size_t next = 0;
        for (const test::Subscriber::Got& g : sub.Received())
            if (next < queued.size() && g.topic == Topic("state") && g.payload == queued[next])
                ++next;
        return next == queued.size();
    };
    EXPECT_TRUE(sub.Wait(arrived, 60s));
    ASSERT_TRUE(second.Signal(SIGTERM));
    EXPECT_EQ(second.WaitExit(20s), 0);
}

TEST_F(MqttRun, AWrongPasswordIsSaidInPolishAndTheRecordsStay) {
    const std::string passwords = brokerDir.file("hasla");
    test::ChildProcess make(test::kPasswd, {"-c", "-b", passwords, "jan", "dobre-haslo"});
    ASSERT_EQ(make.WaitExit(5s), 0);
    test::Broker broker(brokerDir, port,
                        "allow_anonymous false\npassword_file " + passwords + "\n");
    ASSERT_TRUE(broker.Start());
    Settings("Uzytkownik=jan\r\nHaslo=zle-haslo\r\n");
    test::ChildProcess app = test::StartHeadless(home.path(), device);
    std::vector<std::string> lines;
    const std::string refused =
        LineWith(app, "MQTT: 127.0.0.1:" + std::to_string(port), 40s, &lines);
    EXPECT_TRUE(refused.find("sprawdź użytkownika i hasło") != std::string::npos ||
                refused.find("nazwę użytkownika lub hasło") != std::string::npos)
        << refused;
    ASSERT_TRUE(test::WaitFor([&] { return QueuedStates(queueFile).size() >= 2; }, 40s));
    ASSERT_TRUE(app.Signal(SIGTERM));
    EXPECT_EQ(app.WaitExit(20s), 0);
    for (std::string l = app.ReadLine(1s); !l.empty(); l = app.ReadLine(1s)) lines.push_back(l);
    for (const std::string& l : lines) EXPECT_EQ(l.find("zle-haslo"), std::string::npos) << l;
    EXPECT_GE(QueuedStates(queueFile).size(), 2u);
}

}  // namespace
}  // namespace pom

// The real program as a service publishing a simulated station's records to
// a real broker: what Home Assistant reads, a broker away across a kill, a
// legend renamed.
#include <signal.h>

#include <algorithm>
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

using namespace std::chrono_literals;
using test::LineWith;

constexpr const char* kState = "pomiarnik/test/state";
constexpr const char* kStatus = "pomiarnik/test/status";
constexpr const char* kConfig = "homeassistant/sensor/pomiarnik_test/sonda";

// The state payloads of the queue file ("topic<TAB>payload" lines).
std::vector<std::string> QueuedStates(const std::string& file) {
    std::vector<std::string> r;
    const std::string text = test::ReadFile(file);
    for (std::size_t at = 0, nl; (nl = text.find("\r\n", at)) != std::string::npos; at = nl + 2)
        if (const std::size_t tab = text.find('\t', at); tab < nl)
            r.push_back(text.substr(tab + 1, nl - tab - 1));
    return r;
}

// Channel k's discovery config, whole; `legend` is what the legend gives, the
// version reads "V".
std::string Config(int k, const std::string& legend) {
    const std::string key = "sonda" + std::to_string(k);
    return "{" + legend + R"("state_class":"measurement","unique_id":"pomiarnik_test_)" + key +
           R"(","state_topic":"pomiarnik/test/state","value_template":"{{ value_json.)" + key +
           R"( | default(none) }}","availability_topic":"pomiarnik/test/status","device":)"
           R"({"identifiers":["pomiarnik_DS3231"],"name":"Pomiarnik DS3231","sw_version":"V"}})";
}

struct MqttRun : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(test::FileExists(test::kBroker)) << "scripts/install-deps installs mosquitto";
        ASSERT_FALSE(device.empty());
    }
    // The station's settings: a record a second, publishing on.
    void Settings(const std::string& extra) {
        test::WriteFile(kindDir + "/pomiarnik.ini",
                        "[CONFIG]\r\nwysylkaPOST=1\r\n[MQTT]\r\nWlacz=1\r\nPort=" +
                            std::to_string(port) + "\r\n" + extra);
    }
    test::ChildProcess Start() { return test::StartHeadless(home.path(), device); }

    test::TempDir home;
    test::TempDir brokerDir;
    test::ChildProcess station{"pomiarnik-station", {"--interval", "1", "--backlog", "3"}};
    std::string device = station.ReadLine();
    int port = test::FreePort();
    std::string kindDir = home.path() + "/ardu/DS3231";
    std::string queueFile = kindDir + "/data/niewyslane_mqtt.txt";
};

TEST_F(MqttRun, DiscoveryAndStatesAsHomeAssistantTakesThemAndARenamedLegendFollows) {
    test::Broker broker(brokerDir, port);
    ASSERT_TRUE(broker.Start());
    test::Subscriber sub(port, "#");
    ASSERT_TRUE(sub.ok());
    Settings("[Legendy]\r\nkan1=" + Cp("Temperatura wody") + "\r\nJed1=" + Cp("°C") + "\r\n");
    test::ChildProcess app = Start();
    ASSERT_TRUE(sub.Wait([&] { return sub.Count(kState) >= 3; }, 40s));
    ASSERT_TRUE(app.Signal(SIGTERM));
    EXPECT_EQ(app.WaitExit(20s), 0);
    ASSERT_TRUE(sub.Wait([&] { return sub.Count(kStatus) >= 2; }));
    EXPECT_EQ(sub.Payloads(kStatus), (std::vector<std::string>{"online", "offline"}));

    // The simulated station sends six values: one config each, and no other.
    const std::string legends[] = {
        R"("name":"Temperatura wody","unit_of_measurement":"°C","device_class":"temperature",)",
        R"("name":"B1","unit_of_measurement":"mV","device_class":"voltage",)",
        R"("name":"C1","unit_of_measurement":"hPa","device_class":"pressure",)",
        R"("name":"D1","unit_of_measurement":"%","device_class":"humidity",)",
        R"("name":"Sonda 4",)",
        R"("name":"Sonda 5",)"};
    const std::regex version(R"("sw_version":"[^"]+")");
    for (int k = 0; k < 6; ++k) {
        const auto got = sub.Payloads(kConfig + std::to_string(k) + "/config");
        ASSERT_EQ(got.size(), 1u) << k;
        EXPECT_EQ(std::regex_replace(got[0], version, R"("sw_version":"V")"),
                  Config(k, legends[k]));
    }
    const auto all = sub.Messages();
    EXPECT_EQ(
        std::ranges::count_if(all, [](const auto& g) { return g.topic.starts_with(kConfig); }), 6);
    // States: the record's time with its zone, then every channel a number;
    // in order, each once.
    std::string state = R"re(\{"time":"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")re";
    for (int k = 0; k < 6; ++k) state += ",\"sonda" + std::to_string(k) + R"(":-?\d+(\.\d+)?)";
    const std::regex stateRe(state + "\\}");
    std::string last;
    for (const std::string& s : sub.Payloads(kState)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(s, m, stateRe)) << s;
        EXPECT_GT(m.str(1), last) << s;
        last = m.str(1);
    }

    // The legend renamed in the settings: the next run's config has it.
    Settings("[Legendy]\r\nkan1=Woda\r\nJed1=" + Cp("°C") + "\r\n");
    test::ChildProcess again = Start();
    const std::string config0 = std::string(kConfig) + "0/config";
    ASSERT_TRUE(sub.Wait([&] { return sub.Count(config0) >= 2; }, 40s));
    EXPECT_TRUE(sub.Payloads(config0).back().starts_with(R"({"name":"Woda",)"));
}

TEST_F(MqttRun, KilledWhileTheBrokerIsAwayEveryRecordArrivesInOrderAndThePasswordIsNeverShown) {
    Settings("Uzytkownik=jan\r\nHaslo=tajne-haslo\r\n");
    {
        test::ChildProcess first = Start();
        ASSERT_TRUE(test::WaitFor([&] { return QueuedStates(queueFile).size() >= 3; }, 40s));
        ASSERT_TRUE(first.Signal(SIGKILL));
        first.WaitExit(5s);
    }
    const std::vector<std::string> left = QueuedStates(queueFile);
    test::ChildProcess second = Start();
    // Started while the next attempt is a few seconds off, so the
    // subscriber is in before the program comes.
    std::vector<std::string> lines;
    ASSERT_NE(LineWith(second, Cp1250ToUtf8(Cp("następna próba za 4 s")), 40s, &lines), "");
    test::Broker broker(brokerDir, port);
    ASSERT_TRUE(broker.Start());
    test::Subscriber sub(port, "pomiarnik/#");
    ASSERT_TRUE(sub.ok());
    const std::vector<std::string> queued = QueuedStates(queueFile);
    ASSERT_GT(queued.size(), left.size());
    // The killed run's records are still first in the queue.
    EXPECT_TRUE(std::equal(left.begin(), left.end(), queued.begin()));
    // Every one arrives, in the queue's order (one may come twice).
    EXPECT_TRUE(sub.Wait(
        [&] {
            std::size_t next = 0;
            for (const test::Subscriber::Got& g : sub.Received())
                next += next < queued.size() && g.topic == kState && g.payload == queued[next];
            return next == queued.size();
        },
        60s));
    ASSERT_TRUE(second.Signal(SIGTERM));
    EXPECT_EQ(second.WaitExit(20s), 0);
    for (std::string l = second.ReadLine(1s); !l.empty(); l = second.ReadLine(1s))
        lines.push_back(l);
    for (const std::string& l : lines) EXPECT_EQ(l.find("tajne-haslo"), std::string::npos) << l;
}

}  // namespace
}  // namespace pom

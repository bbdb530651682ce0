#include "mqtt/logic/MqttSettings.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/TestSupport.h"
#include "util/Cp1250.h"

namespace pom::mqtt {
namespace {

using test::FakeClock;
using test::ReadFile;
using test::ScopedConfigHome;
using test::TempDir;
using test::WriteFile;

class MqttSettingsTest : public ::testing::Test {
protected:
    MqttSettingsTest() { util.stationFolder = "\\ardu\\DS3231"; }

    // The station kind's file with this [MQTT] section.
    void Section(const std::string& body) { WriteFile(util.IniFileName(), "[MQTT]\r\n" + body); }

    TempDir dir;
    ScopedConfigHome home{dir.file("cfg")};
    FakeClock clock;
    TdmUtil util{clock};
};

TEST_F(MqttSettingsTest, WithoutASectionEveryKeyHasItsDefault) {
    std::string problem = "old";
    const MqttSettings s = ReadMqttSettings(util, &problem);
    EXPECT_FALSE(s.enabled);
    EXPECT_EQ(s.host, "127.0.0.1");
    EXPECT_EQ(s.port, 1883);
    EXPECT_EQ(s.user, "");
    EXPECT_EQ(s.password, "");
    EXPECT_FALSE(s.tls);
    EXPECT_EQ(s.caFile, "");
    EXPECT_EQ(s.baseTopic, "pomiarnik");
    EXPECT_EQ(s.discoveryPrefix, "homeassistant");
    EXPECT_EQ(problem, "");
}

TEST_F(MqttSettingsTest, KeysWrittenByAnotherToolAreReadUnderTheirFixedNames) {
    Section(
        "Wlacz=1\r\nHost=broker.lan\r\nPort=8883\r\nUzytkownik=ola\r\nHaslo=tajne\r\n"
        "TLS=1\r\nPlikCA=/etc/ssl/ca.pem\r\nTemat=dom/stacja\r\nPrefiksOdkrywania=ha\r\n");
    const MqttSettings s = ReadMqttSettings(util);
    EXPECT_TRUE(s.enabled);
    EXPECT_EQ(s.host, "broker.lan");
    EXPECT_EQ(s.port, 8883);
    EXPECT_EQ(s.user, "ola");
    EXPECT_EQ(s.password, "tajne");
    EXPECT_TRUE(s.tls);
    EXPECT_EQ(s.caFile, "/etc/ssl/ca.pem");
    EXPECT_EQ(s.baseTopic, "dom/stacja");
    EXPECT_EQ(s.discoveryPrefix, "ha");
}

TEST_F(MqttSettingsTest, WrittenSettingsReadBackAndOtherSectionsStay) {
    util.Write(settings::kTabela, "pomiary");
    MqttSettings s;
    s.enabled = true;
    s.host = "10.0.0.5";
    s.port = 1884;
    s.user = Cp("użytkownik");
    s.password = "p=a;s s";
    s.tls = true;
    s.caFile = "/tmp/ca.crt";
    s.baseTopic = Cp("łąka");
    s.discoveryPrefix = "homeassistant";
    WriteMqttSettings(util, s);
    std::string problem;
    EXPECT_EQ(ReadMqttSettings(util, &problem), s);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(util.Read(settings::kTabela), "pomiary");
}

struct BadCase {
    const char* name;
    const char* body;
    int port;
    const char* host;
    const char* base;
    const char* prefix;
    std::string problem;  // UTF-8
};

class MqttBadValues : public MqttSettingsTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(MqttBadValues, GiveWayToTheDefaultAndAreReported) {
    const BadCase& c = GetParam();
    Section(c.body);
    std::string problem;
    const MqttSettings s = ReadMqttSettings(util, &problem);
    EXPECT_EQ(s.port, c.port);
    EXPECT_EQ(s.host, c.host);
    EXPECT_EQ(s.baseTopic, c.base);
    EXPECT_EQ(s.discoveryPrefix, c.prefix);
    EXPECT_EQ(Cp1250ToUtf8(problem), c.problem);
}

INSTANTIATE_TEST_SUITE_P(
    Mqtt, MqttBadValues,
    ::testing::Values(
        BadCase{"PortZero", "Port=0\r\n", 1883, "127.0.0.1", "pomiarnik", "homeassistant",
                "MQTT: port 0 poza zakresem 1..65535, używam 1883."},
        BadCase{"PortTooLarge", "Port=70000\r\nHost=b\r\n", 1883, "b", "pomiarnik", "homeassistant",
                "MQTT: port 70000 poza zakresem 1..65535, używam 1883."},
        BadCase{"EmptyTexts", "Host=\r\nTemat=\r\nPrefiksOdkrywania=\r\n", 1883, "127.0.0.1",
                "pomiarnik", "homeassistant",
                "MQTT: pusty klucz Host, używam \"127.0.0.1\". MQTT: pusty klucz Temat, używam "
                "\"pomiarnik\". MQTT: pusty klucz PrefiksOdkrywania, używam \"homeassistant\"."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MqttTarget, TakesTopicsFromTheSettings) {
    MqttSettings s;
    s.baseTopic = "dom";
    s.discoveryPrefix = "ha";
    const Target t = MakeTarget(s, "test", "BME280", "0.1.0");
    EXPECT_EQ(StateTopic(t, ClosedRecord::Kind::Readings), "dom/test/state");
    EXPECT_EQ(DiscoveryTopic(t, ClosedRecord::Kind::Readings, 1),
              "ha/sensor/pomiarnik_test/sonda1/config");
}

}  // namespace
}  // namespace pom::mqtt

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
    EXPECT_EQ(s, MqttSettings{});
    EXPECT_FALSE(s.enabled || s.tls);
    EXPECT_EQ(s.host + ":" + std::to_string(s.port) + " " + s.baseTopic + " " + s.discoveryPrefix,
              "127.0.0.1:1883 pomiarnik homeassistant");
    EXPECT_EQ(problem, "");
}

// Read under the fixed names another tool writes; written, they read back and
// the station kind's other sections stay.
TEST_F(MqttSettingsTest, KeysReadUnderTheirFixedNamesAndWrittenBack) {
    Section(
        "Wlacz=1\r\nHost=broker.lan\r\nPort=8883\r\nUzytkownik=ola\r\nHaslo=tajne\r\n"
        "TLS=1\r\nPlikCA=/etc/ssl/ca.pem\r\nTemat=dom/stacja\r\nPrefiksOdkrywania=ha\r\n"
        "Wersja=5\r\n");
    MqttSettings s{true, "broker.lan",      8883,         "ola", "tajne",
                   true, "/etc/ssl/ca.pem", "dom/stacja", "ha",  kMqtt5};
    EXPECT_EQ(ReadMqttSettings(util), s);

    util.Write(settings::kTabela, "pomiary");
    s = {true, "10.0.0.5",    1884,       Cp("użytkownik"), "p=a;s s",
         true, "/tmp/ca.crt", Cp("łąka"), "homeassistant",  kMqtt311};
    WriteMqttSettings(util, s);
    std::string problem;
    EXPECT_EQ(ReadMqttSettings(util, &problem), s);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(util.Read(settings::kTabela), "pomiary");
}

struct BadCase {
    const char* name;
    const char* body;
    const char* host;
    std::string problem;  // UTF-8
};

class MqttBadValues : public MqttSettingsTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(MqttBadValues, GiveWayToTheDefaultAndAreReported) {
    const BadCase& c = GetParam();
    Section(c.body);
    std::string problem;
    MqttSettings expected;
    expected.host = c.host;  // a bad value costs only its own key
    EXPECT_EQ(ReadMqttSettings(util, &problem), expected);
    EXPECT_EQ(Cp1250ToUtf8(problem), c.problem);
}

INSTANTIATE_TEST_SUITE_P(
    Mqtt, MqttBadValues,
    ::testing::Values(
        BadCase{"PortZero", "Port=0\r\n", "127.0.0.1",
                "MQTT: port 0 poza zakresem 1..65535, używam 1883."},
        BadCase{"PortTooLarge", "Port=70000\r\nHost=b\r\n", "b",
                "MQTT: port 70000 poza zakresem 1..65535, używam 1883."},
        BadCase{"UnknownProtocol", "Wersja=3\r\n", "127.0.0.1",
                "MQTT: Wersja 3 to ani 4 (MQTT 3.1.1), ani 5 (MQTT 5), używam 4."},
        BadCase{"EmptyTexts", "Host=\r\nTemat=\r\nPrefiksOdkrywania=\r\n", "127.0.0.1",
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

// --- the dialog's form: only usable settings are saved

struct FormCase {
    const char* name;
    void (*edit)(MqttForm&, const std::string& ca);
    const char* problem;  // part of the message; empty: accepted
};

class MqttFormTable : public ::testing::TestWithParam<FormCase> {};

TEST_P(MqttFormTable, RefusesWhatCannotBeUsedAndSaysWhich) {
    TempDir dir;
    const std::string ca = dir.file("ca.crt");
    WriteFile(ca, "-----BEGIN CERTIFICATE-----\n");
    MqttSettings on;
    on.enabled = true;
    MqttForm form = ToForm(on);
    GetParam().edit(form, ca);
    MqttSettings out;
    out.host = "untouched";
    std::string problem;
    const bool ok = FromForm(form, &out, &problem);
    const std::string expected = Cp(GetParam().problem);
    EXPECT_EQ(ok, expected.empty()) << problem;
    if (ok) {
        EXPECT_EQ(out.port, std::stoi(form.port));
        EXPECT_FALSE(out.host.empty());
    } else {
        EXPECT_NE(problem.find(expected), std::string::npos) << problem;
        EXPECT_EQ(out.host, "untouched");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Mqtt, MqttFormTable,
    ::testing::Values(
        FormCase{"Defaults", [](MqttForm&, const std::string&) {}, ""},
        FormCase{"PortZero", [](MqttForm& f, const std::string&) { f.port = "0"; },
                 "od 1 do 65535"},
        FormCase{"PortTooBig", [](MqttForm& f, const std::string&) { f.port = "65536"; },
                 "od 1 do 65535"},
        FormCase{"PortNotANumber", [](MqttForm& f, const std::string&) { f.port = "18x3"; },
                 "(jest: \"18x3\")"},
        FormCase{"PortWithBlanks", [](MqttForm& f, const std::string&) { f.port = " 8883 "; }, ""},
        FormCase{"NoHostWhileOn", [](MqttForm& f, const std::string&) { f.host = "  "; },
                 "Podaj adres brokera"},
        FormCase{"NoHostWhileOffTakesTheDefault",
                 [](MqttForm& f, const std::string&) {
                     f.enabled = false;
                     f.host = "";
                 },
                 ""},
        FormCase{"EmptyBaseTopic", [](MqttForm& f, const std::string&) { f.baseTopic = ""; },
                 "Temat główny"},
        FormCase{"EmptyPrefix", [](MqttForm& f, const std::string&) { f.discoveryPrefix = ""; },
                 "Prefiks odkrywania"},
        FormCase{"TlsWithoutCa", [](MqttForm& f, const std::string&) { f.tls = true; },
                 "podaj plik CA"},
        FormCase{"TlsWithAMissingCa",
                 [](MqttForm& f, const std::string& ca) {
                     f.tls = true;
                     f.caFile = ca + ".brak";
                 },
                 "Nie można odczytać pliku CA"},
        FormCase{"TlsWithItsCa",
                 [](MqttForm& f, const std::string& ca) {
                     f.tls = true;
                     f.caFile = ca;
                 },
                 ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pom::mqtt

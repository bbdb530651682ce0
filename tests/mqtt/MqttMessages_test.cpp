#include "mqtt/logic/MqttMessages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "util/Cp1250.h"

namespace pom::mqtt {
namespace {

constexpr auto kR = ClosedRecord::Kind::Readings;
constexpr auto kB = ClosedRecord::Kind::Barometer;
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Target Station() {
    Target t;
    t.table = "test";
    t.stationKind = "DS3231";
    t.version = "0.1.0";
    return t;
}

ClosedRecord Record(ClosedRecord::Kind kind, std::vector<double> values) {
    ClosedRecord r;
    r.kind = kind;
    r.time = {2026, 12, 8, 18, 0, 0, 0};
    r.values.fill(ClosedRecord::kMissing);
    r.count = static_cast<int>(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) r.values[i] = values[i];
    return r;
}

// --- state messages, byte for byte

struct StateCase {
    const char* name;
    ClosedRecord::Kind kind;
    std::vector<double> values;
    int offset;
    const char* payload;
};

class StateTable : public ::testing::TestWithParam<StateCase> {};

TEST_P(StateTable, TopicAndPayload) {
    const StateCase& c = GetParam();
    const Message m = StateMessage(Station(), Record(c.kind, c.values), c.offset);
    EXPECT_EQ(m.topic, c.kind == kB ? "pomiarnik/test/barometr/state" : "pomiarnik/test/state");
    EXPECT_EQ(m.payload, c.payload);
    EXPECT_EQ(m.qos, 1);
    EXPECT_FALSE(m.retained);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Mqtt, StateTable, ::testing::Values(
    StateCase{"Barometer", kB, {980, 21.5, 1014.4, 735.1, 760.9}, 3600,
              R"({"time":"2026-12-08T18:00:00+01:00","sonda0":980,"sonda1":21.5,)"
              R"("sonda2":1014.4,"sonda3":735.1,"sonda4":760.9})"},
    StateCase{"MissingChannelsLeftOut", kR, {-888, 2, -888, -0.25}, 7200,
              R"({"time":"2026-12-08T18:00:00+02:00","sonda1":2,"sonda3":-0.25})"},
    StateCase{"NoFiniteNumberInJson", kR, {kNan, kInf, -kInf, 1.5e10, 1.234e-7}, -16200,
              R"({"time":"2026-12-08T18:00:00-04:30","sonda3":1.5E10,"sonda4":1.234E-7})"},
    StateCase{"NothingButTheTime", kR, {-888}, 0, R"({"time":"2026-12-08T18:00:00+00:00"})"},
    StateCase{"ElevenChannels", kR, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 3600,
              R"({"time":"2026-12-08T18:00:00+01:00","sonda0":0,"sonda1":1,"sonda2":2,)"
              R"("sonda3":3,"sonda4":4,"sonda5":5,"sonda6":6,"sonda7":7,"sonda8":8,)"
              R"("sonda9":9,"sonda10":10})"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// --- discovery configs, byte for byte

struct DiscoveryCase {
    const char* name;
    ClosedRecord::Kind kind;
    int index;
    std::string legendName;  // Windows-1250
    std::string legendUnit;
    const char* topic;
    std::string payload;  // UTF-8
};

// Every config ends with the station device.
const char kDevice[] = R"("availability_topic":"pomiarnik/test/status","device":{"identifiers":)"
                       R"(["pomiarnik_DS3231"],"name":"Pomiarnik DS3231","sw_version":"0.1.0"}})";

class DiscoveryTable : public ::testing::TestWithParam<DiscoveryCase> {};

TEST_P(DiscoveryTable, TopicAndPayload) {
    const DiscoveryCase& c = GetParam();
    const Message m =
        DiscoveryConfig(Station(), c.kind, c.index, Legend{c.legendName, c.legendUnit});
    EXPECT_EQ(m.topic, c.topic);
    EXPECT_EQ(m.payload, c.payload + kDevice);
    EXPECT_TRUE(m.retained);
    EXPECT_EQ(m.qos, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Mqtt, DiscoveryTable,
    ::testing::Values(
        DiscoveryCase{"PolishLegendInDegrees", kR, 0, Cp("Temperatura zewnętrzna"), Cp("°C"),
                      "homeassistant/sensor/pomiarnik_test/sonda0/config",
                      R"({"name":"Temperatura zewnętrzna","unit_of_measurement":"°C",)"
                      R"("device_class":"temperature","state_class":"measurement",)"
                      R"("unique_id":"pomiarnik_test_sonda0","state_topic":"pomiarnik/test/state",)"
                      R"("value_template":"{{ value_json.sonda0 | default(none) }}",)"},
        DiscoveryCase{"NoLegendIsSondaN", kR, 4, "", "",
                      "homeassistant/sensor/pomiarnik_test/sonda4/config",
                      R"({"name":"Sonda 4","state_class":"measurement",)"
                      R"("unique_id":"pomiarnik_test_sonda4","state_topic":"pomiarnik/test/state",)"
                      R"("value_template":"{{ value_json.sonda4 | default(none) }}",)"},
        DiscoveryCase{"UnitWithoutAClass", kR, 2, Cp("Wiatr \"N\"\\1"), " m/s ",
                      "homeassistant/sensor/pomiarnik_test/sonda2/config",
                      R"({"name":"Wiatr \"N\"\\1","unit_of_measurement":"m/s",)"
                      R"("state_class":"measurement",)"
                      R"("unique_id":"pomiarnik_test_sonda2","state_topic":"pomiarnik/test/state",)"
                      R"("value_template":"{{ value_json.sonda2 | default(none) }}",)"},
        DiscoveryCase{"BarometerChannelApart", kB, 0, Cp("Ciśnienie"), "hPa",
                      "homeassistant/sensor/pomiarnik_test/barometr_sonda0/config",
                      R"({"name":"Ciśnienie","unit_of_measurement":"hPa",)"
                      R"("device_class":"pressure","state_class":"measurement",)"
                      R"("unique_id":"pomiarnik_test_barometr_sonda0",)"
                      R"("state_topic":"pomiarnik/test/barometr/state",)"
                      R"("value_template":"{{ value_json.sonda0 | default(none) }}",)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MqttUnits, DeviceClassOnlyForUnitsHomeAssistantTakes) {
    const std::pair<std::string, const char*> cases[] = {{Cp("°C"), "temperature"},
                                                         {Cp(" °C "), "temperature"},
                                                         {"hPa", "pressure"},
                                                         {"%", "humidity"},
                                                         {"V", "voltage"},
                                                         {"mV", "voltage"},
                                                         {"C", ""},
                                                         {"HPA", ""},
                                                         {"mmHg", ""},
                                                         {"", ""},
                                                         {Cp("°F"), ""}};
    for (const auto& [unit, deviceClass] : cases) EXPECT_EQ(DeviceClass(unit), deviceClass) << unit;
}

TEST(MqttUnits, BarometerChannelsAreNamedFromBothEndsOfTheRecord) {
    const Legend p{Cp("Ciśnienie"), "hPa"}, sea{Cp("Ciśnienie n.p.m."), "hPa"},
        mm{Cp("Ciśnienie"), "mmHg"}, seaMm{Cp("Ciśnienie n.p.m."), "mmHg"};
    // count -> the legends of channels 0..count-1
    const std::vector<std::pair<int, std::vector<Legend>>> cases{
        {4, {p, sea, mm, seaMm}},
        {6, {p, {}, {}, sea, mm, seaMm}},
        {2, {p, {}}},                                       // too short to hold the derived values
        {11, {p, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}}},  // may be cut: no guess
    };
    for (const auto& [count, legends] : cases)
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(BarometerLegend(i, count), legends[static_cast<std::size_t>(i)])
                << count << " " << i;
}

// --- topics stay valid whatever the settings hold

TEST(MqttTopics, WildcardsAndSlashesInTheTableCannotBreakATopic) {
    Target t = Station();
    t.baseTopic = Cp("dom/pomiarnik+łódź");
    t.table = "a/b#c+d";
    t.discoveryPrefix = "ha";
    EXPECT_EQ(StateTopic(t, kR), "dom/pomiarnik_łódź/a_b_c_d/state");
    EXPECT_EQ(AvailabilityTopic(t), "dom/pomiarnik_łódź/a_b_c_d/status");
    // Home Assistant takes only letters, digits, "_" and "-" in the node id.
    EXPECT_EQ(DiscoveryTopic(t, kB, 10), "ha/sensor/pomiarnik_a_b_c_d/barometr_sonda10/config");
}

TEST(MqttTopics, AvailabilityAndRemovalAreRetainedAndJsonIsEscaped) {
    EXPECT_EQ(Availability(Station(), true), (Message{"pomiarnik/test/status", "online", true, 1}));
    EXPECT_EQ(Availability(Station(), false),
              (Message{"pomiarnik/test/status", "offline", true, 1}));
    EXPECT_EQ(DiscoveryRemoval(Station(), kR, 3),
              (Message{"homeassistant/sensor/pomiarnik_test/sonda3/config", "", true, 1}));
    EXPECT_EQ(JsonEscape(std::string("a\"b\\c\nd\te\x01", 10)),
              "a\\\"b\\\\c\\u000ad\\u0009e\\u0001");
    EXPECT_EQ(JsonEscape(Cp("zażółć")), "zażółć");
}

// --- the zone offset of a record's local time

TEST(MqttZone, WinterAndSummerTimeGetTheirOwnOffsets) {
    const char* saved = std::getenv("TZ");
    const std::string old = saved ? saved : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    const LocalDateTime summer{2026, 7, 1, 12, 0, 0, 0};
    EXPECT_EQ(LocalUtcOffset({2026, 12, 8, 18, 0, 0, 0}), 3600);
    EXPECT_EQ(LocalUtcOffset(summer), 7200);
    EXPECT_EQ(IsoTime(summer, LocalUtcOffset(summer)), "2026-07-01T12:00:00+02:00");
    saved ? setenv("TZ", old.c_str(), 1) : unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace pom::mqtt

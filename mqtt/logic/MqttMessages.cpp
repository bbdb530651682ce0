#include "mqtt/logic/MqttMessages.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "app/logic/StationParse.h"
#include "util/Cp1250.h"

namespace pom::mqtt {
namespace {

// Text for a topic level: UTF-8, and no wildcard, no NUL and no control
// character, which a broker refuses in a published topic (the connection
// would drop on every record). A "/" splits levels; only the base may.
std::string TopicText(std::string_view cp1250, bool allowSlash) {
    std::string s(cp1250);
    for (char& c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '+' || c == '#' || u < 0x20 || (c == '/' && !allowSlash)) c = '_';
    }
    return Cp1250ToUtf8(s);
}

// Home Assistant takes only letters, digits, "_" and "-" in a node or
// object id.
std::string IdText(std::string_view cp1250) {
    std::string s(cp1250);
    for (char& c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!ok) c = '_';
    }
    return s;
}

std::string NodeId(const Target& t) {
    return "pomiarnik_" + IdText(t.table);
}

std::string ObjectId(ClosedRecord::Kind kind, int index) {
    return (kind == ClosedRecord::Kind::Barometer ? "barometr_" : "") + ChannelKey(index);
}

std::string EscapeUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

std::string Quoted(std::string_view cp1250) {
    return '"' + JsonEscape(cp1250) + '"';
}

std::string QuotedUtf8(std::string_view utf8) {
    return '"' + EscapeUtf8(utf8) + '"';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

std::string ChannelKey(int index) {
    return "sonda" + std::to_string(index);
}

int LocalUtcOffset(const LocalDateTime& t) {
    std::tm tm = ToTm(t);
    tm.tm_isdst = -1;  // the zone's rules decide whether summer time holds
    if (std::mktime(&tm) == static_cast<std::time_t>(-1)) return 0;
    return static_cast<int>(tm.tm_gmtoff);
}

std::string IsoTime(const LocalDateTime& t, int utcOffsetSeconds) {
    const char sign = utcOffsetSeconds < 0 ? '-' : '+';
    const int off = std::abs(utcOffsetSeconds) / 60;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, sign, off / 60, off % 60);
    return buf;
}

std::string JsonEscape(std::string_view cp1250) {
    return EscapeUtf8(Cp1250ToUtf8(cp1250));
}

std::string JsonNumber(double v) {
    if (!std::isfinite(v) || std::fabs(v - ClosedRecord::kMissing) <= 1) return {};
    return FormatGeneral7(v);
}

std::string StateTopic(const Target& t, ClosedRecord::Kind kind) {
    return TopicText(t.baseTopic, true) + '/' + TopicText(t.table, false) +
           (kind == ClosedRecord::Kind::Barometer ? "/barometr/state" : "/state");
}

std::string AvailabilityTopic(const Target& t) {
    return TopicText(t.baseTopic, true) + '/' + TopicText(t.table, false) + "/status";
}

Message Availability(const Target& t, bool online) {
    return {AvailabilityTopic(t), online ? "online" : "offline", true, 1};
}

Message StateMessage(const Target& t, const ClosedRecord& r, int utcOffsetSeconds) {
    std::string json = "{\"time\":\"" + IsoTime(r.time, utcOffsetSeconds) + '"';
    for (int i = 0; i < r.count && i < ClosedRecord::kSlots; ++i) {
        const std::string n = JsonNumber(r.values[static_cast<std::size_t>(i)]);
        if (n.empty()) continue;
        json += ",\"" + ChannelKey(i) + "\":" + n;
    }
    json += '}';
    return {StateTopic(t, r.kind), std::move(json), false, 1};
}

std::string DiscoveryTopic(const Target& t, ClosedRecord::Kind kind, int index) {
    return TopicText(t.discoveryPrefix, true) + "/sensor/" + NodeId(t) + '/' +
           ObjectId(kind, index) + "/config";
}

std::string DeviceClass(std::string_view unitCp1250) {
    const std::string_view u = TrimBlanks(unitCp1250);
    if (u ==
        "\xB0"
        "C")
        return "temperature";
    if (u == "hPa") return "pressure";
    if (u == "%") return "humidity";
    if (u == "V" || u == "mV") return "voltage";
    return {};
}

Message DiscoveryConfig(const Target& t, ClosedRecord::Kind kind, int index, const Legend& legend) {
    const std::string_view name = TrimBlanks(legend.name);
    const std::string_view unit = TrimBlanks(legend.unit);
    const std::string key = ChannelKey(index);
    std::string json = "{\"name\":";
    json += name.empty() ? Quoted("Sonda " + std::to_string(index)) : Quoted(name);
    if (!unit.empty()) json += ",\"unit_of_measurement\":" + Quoted(unit);
    const std::string deviceClass = DeviceClass(unit);
    if (!deviceClass.empty()) json += ",\"device_class\":\"" + deviceClass + '"';
    json += ",\"state_class\":\"measurement\"";
    json += ",\"unique_id\":\"" + NodeId(t) + '_' + ObjectId(kind, index) + '"';
    json += ",\"state_topic\":" + QuotedUtf8(StateTopic(t, kind));
    // A channel left out of a state (no value in that period) reads as
    // unknown rather than as a template error.
    json += ",\"value_template\":\"{{ value_json." + key + " | default(none) }}\"";
    json += ",\"availability_topic\":" + QuotedUtf8(AvailabilityTopic(t));
    json += ",\"device\":{\"identifiers\":[" + Quoted("pomiarnik_" + t.stationKind) +
            "],\"name\":" + Quoted("Pomiarnik " + t.stationKind) +
            ",\"sw_version\":" + Quoted(t.version) + "}}";
    return {DiscoveryTopic(t, kind, index), std::move(json), true, 1};
}

Legend BarometerLegend(int index, int count) {
    if (index == 0) return {Cp("Ciśnienie"), "hPa"};
    // Past the last slot the derived values are not in the record.
    if (count < 4 || count >= ClosedRecord::kSlots) return {};
    if (index == count - 3) return {Cp("Ciśnienie n.p.m."), "hPa"};
    if (index == count - 2) return {Cp("Ciśnienie"), "mmHg"};
    if (index == count - 1) return {Cp("Ciśnienie n.p.m."), "mmHg"};
    return {};
}

Message DiscoveryRemoval(const Target& t, ClosedRecord::Kind kind, int index) {
    return {DiscoveryTopic(t, kind, index), {}, true, 1};
}

}  // namespace pom::mqtt

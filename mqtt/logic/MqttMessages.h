#pragma once

#include <string>
#include <string_view>

#include "app/logic/RecordSink.h"
#include "util/Clock.h"

namespace pom::mqtt {

// One message for the broker. Topic and payload are UTF-8.
struct Message {
    std::string topic;
    std::string payload;
    bool retained = false;
    int qos = 1;

    bool operator==(const Message&) const = default;
};

// Where a station's messages go. Texts are Windows-1250, as the settings
// hold them.
struct Target {
    std::string baseTopic = "pomiarnik";            // [MQTT] Temat
    std::string discoveryPrefix = "homeassistant";  // [MQTT] PrefiksOdkrywania
    std::string table;                              // the upload's table name
    std::string stationKind;                        // e.g. "DS3231"
    std::string version;                            // the program's version
};

// A channel's legend: name and unit (Windows-1250); empty when it has none.
struct Legend {
    std::string name;
    std::string unit;

    bool operator==(const Legend&) const = default;
};

// "sonda0" ... "sonda10".
std::string ChannelKey(int index);

// The local zone's offset from UTC in seconds at a local date and time.
int LocalUtcOffset(const LocalDateTime& t);
// "2026-12-08T18:00:00+01:00".
std::string IsoTime(const LocalDateTime& t, int utcOffsetSeconds);

// Windows-1250 text as the body of a JSON string: UTF-8, with quotes,
// backslashes and control characters escaped.
std::string JsonEscape(std::string_view cp1250);
// A value as a JSON number with the upload's seven significant digits;
// empty for the missing mark and for anything that is no finite number.
std::string JsonNumber(double v);

// "<base>/<table>/state", "<base>/<table>/barometr/state" for barometer
// records.
std::string StateTopic(const Target& t, ClosedRecord::Kind kind);
// "<base>/<table>/status": "online" / "offline", retained.
std::string AvailabilityTopic(const Target& t);
Message Availability(const Target& t, bool online);

// The state message of a closed record: its time and every channel that has
// a value; QoS 1, not retained.
Message StateMessage(const Target& t, const ClosedRecord& r, int utcOffsetSeconds);

// "<prefix>/sensor/pomiarnik_<table>/<object>/config", where <object> is the
// channel's key, "barometr_" + key for barometer channels (their keys repeat
// the readings' keys, and the two must stay apart).
std::string DiscoveryTopic(const Target& t, ClosedRecord::Kind kind, int index);
// Home Assistant's device class for a unit; empty when none fits. Only the
// units Home Assistant accepts for that class, exactly: a class with a unit
// it does not take makes it refuse the sensor.
std::string DeviceClass(std::string_view unitCp1250);
// The retained discovery config of one channel. A legend without a name
// gives "Sonda N".
Message DiscoveryConfig(const Target& t, ClosedRecord::Kind kind, int index, const Legend& legend);
// The legend of barometer channel `index` in a record of `count` channels:
// the station pressure first, the three values derived from it last (sea-level
// pressure in hPa, station and sea-level pressure in mmHg); no legend for the
// station's further fields between them.
Legend BarometerLegend(int index, int count);
// The empty retained config that removes a channel from Home Assistant.
Message DiscoveryRemoval(const Target& t, ClosedRecord::Kind kind, int index);

}  // namespace pom::mqtt

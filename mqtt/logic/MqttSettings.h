#pragma once

#include <string>

#include "mqtt/logic/MqttMessages.h"
#include "util/TdmUtil.h"

namespace pom::mqtt {

inline constexpr int kMqtt311 = 4;
inline constexpr int kMqtt5 = 5;

// The [MQTT] section of the station kind's settings. Texts are Windows-1250.
struct MqttSettings {
    bool enabled = false;
    std::string host = "127.0.0.1";
    int port = 1883;
    std::string user;
    // Never to be written into a log line or a status text.
    std::string password;
    bool tls = false;
    std::string caFile;
    std::string baseTopic = "pomiarnik";
    std::string discoveryPrefix = "homeassistant";
    // kMqtt311 or kMqtt5.
    int protocol = 4;

    bool operator==(const MqttSettings&) const = default;
};

// Reads the section of the current station's file. A value that cannot be
// used (a port outside 1..65535, an empty host, base topic or prefix) gives
// way to its default, and `problem` (if given) gets a Polish line saying so;
// it is emptied when all values were usable. A protocol other than 4 or 5
// gives way to 4 (MQTT 3.1.1).
MqttSettings ReadMqttSettings(const TdmUtil& util, std::string* problem = nullptr);
// Writes every key; throws as TdmUtil's writes do.
void WriteMqttSettings(TdmUtil& util, const MqttSettings& s);

// The dialog's fields as typed (Windows-1250); the port still a text.
struct MqttForm {
    bool enabled = false;
    std::string host;
    std::string port;
    std::string user;
    std::string password;
    bool tls = false;
    std::string caFile;
    std::string baseTopic;
    std::string discoveryPrefix;
    bool mqtt5 = false;
};

// The form of the settings, for the dialog to show.
MqttForm ToForm(const MqttSettings& s);
// The settings a form gives; false and `problem` (Polish, Windows-1250,
// naming the field) when they cannot be used: a port that is no number in
// 1..65535, no host while publishing is on, an empty base topic or prefix,
// TLS on without a CA file that can be read.
bool FromForm(const MqttForm& form, MqttSettings* out, std::string* problem);

// Where a station's messages go under these settings.
Target MakeTarget(const MqttSettings& s, std::string table, std::string stationKind,
                  std::string version);

}  // namespace pom::mqtt

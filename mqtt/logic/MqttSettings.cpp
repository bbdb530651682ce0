#include "mqtt/logic/MqttSettings.h"

#include <utility>

#include "util/Cp1250.h"

namespace pom::mqtt {
namespace {

// An empty text in place of one that must not be empty: the key's default.
void DefaultIfEmpty(std::string& value, const settings::StringKey& k, std::string& problems) {
    if (!value.empty()) return;
    value = k.def;
    problems += Cp("MQTT: pusty klucz ") + std::string(k.key) + Cp(", używam \"") +
                std::string(k.def) + "\". ";
}

}  // namespace

MqttSettings ReadMqttSettings(const TdmUtil& util, std::string* problem) {
    using namespace settings;
    MqttSettings s;
    std::string problems;
    s.enabled = util.Read(kMqttWlacz);
    s.host = util.Read(kMqttHost);
    s.port = util.Read(kMqttPort);
    s.user = util.Read(kMqttUzytkownik);
    s.password = util.Read(kMqttHaslo);
    s.tls = util.Read(kMqttTls);
    s.caFile = util.Read(kMqttPlikCa);
    s.baseTopic = util.Read(kMqttTemat);
    s.discoveryPrefix = util.Read(kMqttPrefiksOdkrywania);
    if (s.port < 1 || s.port > 65535) {
        problems += Cp("MQTT: port ") + std::to_string(s.port) +
                    Cp(" poza zakresem 1..65535, używam ") + std::to_string(kMqttPort.def) + ". ";
        s.port = kMqttPort.def;
    }
    DefaultIfEmpty(s.host, kMqttHost, problems);
    DefaultIfEmpty(s.baseTopic, kMqttTemat, problems);
    DefaultIfEmpty(s.discoveryPrefix, kMqttPrefiksOdkrywania, problems);
    if (!problems.empty()) problems.pop_back();
    if (problem) *problem = std::move(problems);
    return s;
}

void WriteMqttSettings(TdmUtil& util, const MqttSettings& s) {
    using namespace settings;
    util.Write(kMqttWlacz, s.enabled);
    util.Write(kMqttHost, s.host);
    util.Write(kMqttPort, s.port);
    util.Write(kMqttUzytkownik, s.user);
    util.Write(kMqttHaslo, s.password);
    util.Write(kMqttTls, s.tls);
    util.Write(kMqttPlikCa, s.caFile);
    util.Write(kMqttTemat, s.baseTopic);
    util.Write(kMqttPrefiksOdkrywania, s.discoveryPrefix);
}

Target MakeTarget(const MqttSettings& s, std::string table, std::string stationKind,
                  std::string version) {
    Target t;
    t.baseTopic = s.baseTopic;
    t.discoveryPrefix = s.discoveryPrefix;
    t.table = std::move(table);
    t.stationKind = std::move(stationKind);
    t.version = std::move(version);
    return t;
}

}  // namespace pom::mqtt

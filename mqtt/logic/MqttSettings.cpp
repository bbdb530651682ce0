#include "mqtt/logic/MqttSettings.h"

#include <charconv>
#include <cstdio>
#include <utility>

#include "util/Cp1250.h"
#include "util/FileUtil.h"

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
    s.protocol = util.Read(kMqttWersja);
    if (s.protocol != kMqtt311 && s.protocol != kMqtt5) {
        problems += Cp("MQTT: Wersja ") + std::to_string(s.protocol) +
                    Cp(" to ani 4 (MQTT 3.1.1), ani 5 (MQTT 5), używam 4. ");
        s.protocol = kMqtt311;
    }
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
    util.Write(kMqttWersja, s.protocol);
}

MqttForm ToForm(const MqttSettings& s) {
    return {s.enabled,
            s.host,
            std::to_string(s.port),
            s.user,
            s.password,
            s.tls,
            s.caFile,
            s.baseTopic,
            s.discoveryPrefix,
            s.protocol == kMqtt5};
}

namespace {

std::string_view Trimmed(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

bool Readable(const std::string& cp1250Path) {
    std::FILE* f = std::fopen(TextToPath(cp1250Path).c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

}  // namespace

bool FromForm(const MqttForm& form, MqttSettings* out, std::string* problem) {
    MqttSettings s;
    s.enabled = form.enabled;
    s.host = Trimmed(form.host);
    s.user = form.user;
    s.password = form.password;
    s.tls = form.tls;
    s.caFile = Trimmed(form.caFile);
    s.baseTopic = Trimmed(form.baseTopic);
    s.discoveryPrefix = Trimmed(form.discoveryPrefix);
    s.protocol = form.mqtt5 ? kMqtt5 : kMqtt311;
    const std::string_view port = Trimmed(form.port);
    int n = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), n);
    std::string why;
    if (ec != std::errc() || end != port.data() + port.size() || n < 1 || n > 65535)
        why = Cp("Port musi być liczbą od 1 do 65535 (jest: \"") + std::string(port) + "\").";
    else if (s.enabled && s.host.empty())
        why = Cp("Podaj adres brokera (Host), gdy publikowanie jest włączone.");
    else if (s.baseTopic.empty())
        why = Cp("Temat główny nie może być pusty.");
    else if (s.discoveryPrefix.empty())
        why = Cp("Prefiks odkrywania nie może być pusty.");
    else if (s.tls && s.caFile.empty())
        why = Cp("Przy włączonym TLS podaj plik CA.");
    else if (s.tls && !Readable(s.caFile))
        why = Cp("Nie można odczytać pliku CA: ") + s.caFile;
    if (!why.empty()) {
        if (problem) *problem = why;
        return false;
    }
    s.port = n;
    if (s.host.empty()) s.host = settings::kMqttHost.def;
    if (out) *out = std::move(s);
    return true;
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

// MQTT publishing as the main window wires it: the link to the readings, its
// timer, the dialog, and a start afresh at each attach and each OK.
#include <cstdio>

#include "app/ui/TMonitorT.h"
#include "mqtt/client/MosquittoTransport.h"
#include "mqtt/ui/TfMqtt.h"
#include "util/Cp1250.h"

namespace pom {

void TMonitorT::CreateMqtt() {
    mqtt::MqttLink::TransportFactory transports = options_.mqttTransport;
    if (!transports) transports = [] { return std::make_unique<mqtt::MosquittoTransport>(); };
    mqtt_ = std::make_unique<mqtt::MqttLink>(std::move(transports),
                                             [this](const std::string& line) { MqttEvent(line); });
    readings_->AddSink(*mqtt_);
    mqttDialog_ = new TfMqtt(util_, this);
    TimerMqtt.setInterval(100);
    connect(&TimerMqtt, &QTimer::timeout, this, [this] { RunGuarded([this] { mqtt_->Tick(); }); });
    TimerMqtt.start();
}

void TMonitorT::StartMqtt() {
    // Before a station greets there is no station file to read it from.
    if (util_.stationFolder == TdmUtil::kBaseStationFolder) return;
    mqtt::MqttLink::Station station;
    station.kind = stationKind_;
    station.table = UploadTable();
    station.version = options_.version;
    std::string why;
    const std::string unsent = util_.UnsentFileName(&why);
    const std::size_t slash = unsent.rfind('/');
    station.folder = slash == std::string::npos ? std::string() : unsent.substr(0, slash);
    mqtt_->StartFrom(util_, station);
}

void TMonitorT::MqttEvent(const std::string& cp1250) {
    AppendWeb(Stamp() + cp1250);
    if (options_.headless) std::fprintf(stderr, "pomiarnik: %s\n", Cp1250ToUtf8(cp1250).c_str());
}

void TMonitorT::mMqttClick() {
    if (util_.stationFolder == TdmUtil::kBaseStationFolder) {
        // The settings belong to a station kind: none is known yet.
        ShowMessage(
            Cp("Ustawienia MQTT należą do rodzaju stacji: poczekaj, aż stacja się "
               "przedstawi."));
        return;
    }
    if (!mqttDialog_->Execute()) return;
    StartMqtt();
    AppendWeb(Stamp() + Cp("MQTT: zapisano ustawienia"));
    pcZakladki->setCurrentWidget(tsReZapisy);
}

}  // namespace pom

#include "mqtt/logic/MqttLink.h"

#include <utility>

#include "util/Cp1250.h"
#include "util/SettingsKeys.h"

namespace pom::mqtt {

MqttLink::MqttLink(TransportFactory transports, EventSink events)
    : transports_(std::move(transports)), events_(std::move(events)) {}

MqttLink::~MqttLink() {
    Stop();
}

std::array<Legend, 4> MqttLink::ReadLegends(const TdmUtil& util) {
    std::array<Legend, 4> legends;
    for (std::size_t k = 0; k < 4; ++k)
        legends[k] = {util.Read(settings::kLegendName[k]), util.Read(settings::kLegendUnit[k])};
    return legends;
}

void MqttLink::StartFrom(const TdmUtil& util, Station station) {
    std::string problem;
    const MqttSettings s = ReadMqttSettings(util, &problem);
    if (s.enabled && !problem.empty() && events_) events_(problem);
    station.legends = ReadLegends(util);
    Start(s, station);
}

void MqttLink::Start(const MqttSettings& settings, const Station& station) {
    Stop();
    station_ = station;
    if (!settings.enabled) return;
    transport_ = transports_();
    publisher_ = std::make_unique<MqttPublisher>(
        *transport_, settings, MakeTarget(settings, station.table, station.kind, station.version),
        events_);
    const std::string folder = station.folder.empty() ? std::string() : station.folder + "/";
    // A queue file that cannot be read is left as it is (the publisher said
    // so); this run's records then wait in memory.
    publisher_->Open(folder.empty() ? std::string() : folder + kQueueFile, nullptr,
                     folder.empty() ? std::string() : folder + kAnnouncedFile);
    publisher_->SetLegends(station.legends);
}

void MqttLink::SetLegends(const std::array<Legend, 4>& legends) {
    station_.legends = legends;
    if (publisher_) publisher_->SetLegends(legends);
}

void MqttLink::RecordClosed(const ClosedRecord& record) {
    if (publisher_) publisher_->RecordClosed(record);
}

void MqttLink::Tick(MqttPublisher::Clock::time_point now) {
    if (publisher_) publisher_->Tick(now);
}

void MqttLink::Stop() {
    if (!publisher_) return;
    publisher_->Stop();
    publisher_.reset();
    // The transport joins its network thread.
    transport_.reset();
}

}  // namespace pom::mqtt

#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "app/logic/RecordSink.h"
#include "mqtt/logic/MqttPublisher.h"
#include "mqtt/logic/MqttSettings.h"
#include "util/TdmUtil.h"

namespace pom::mqtt {

// The attached station's MQTT publishing as the window runs it: one sink for
// the readings whatever publisher stands behind it, made afresh from the
// [MQTT] settings at each attach and each change of them, with the legends
// of [Legendy]. Owned by the main thread, which calls Tick from a timer.
class MqttLink final : public RecordSink {
public:
    using TransportFactory = std::function<std::unique_ptr<MqttTransport>()>;
    using EventSink = MqttPublisher::EventSink;
    static constexpr const char* kQueueFile = "niewyslane_mqtt.txt";
    static constexpr const char* kAnnouncedFile = "mqtt_kanaly.txt";

    // `events` gets the Polish lines (Windows-1250) for the "POST" page.
    MqttLink(TransportFactory transports, EventSink events);
    ~MqttLink() override;
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // What the station's publishing needs besides the settings.
    struct Station {
        std::string kind;     // "DS3231", "BME280"
        std::string table;    // the upload's table name
        std::string version;  // the program's version
        // The station kind's data folder: the queue files go there.
        std::string folder;
        std::array<Legend, 4> legends{};
    };

    // Stops what runs, then starts publishing under `settings` when they
    // are switched on. The queue of a previous run is taken over.
    void Start(const MqttSettings& settings, const Station& station);
    // The same from the station's settings file (the [MQTT] section and the
    // legends); a value that cannot be used is said on the "POST" page.
    void StartFrom(const TdmUtil& util, Station station);
    // The legends changed: the configs follow.
    void SetLegends(const std::array<Legend, 4>& legends);
    void RecordClosed(const ClosedRecord& record) override;
    void Tick(MqttPublisher::Clock::time_point now = MqttPublisher::Clock::now());
    // Says "offline", leaves the broker and keeps the queue in its file.
    void Stop();

    bool Running() const { return publisher_ != nullptr; }
    // Null while publishing is off.
    const MqttPublisher* Publisher() const { return publisher_.get(); }

    // The legends kan1..kan4 / Jed1..Jed4 of the station's settings.
    static std::array<Legend, 4> ReadLegends(const TdmUtil& util);

private:
    TransportFactory transports_;
    EventSink events_;
    Station station_;
    std::unique_ptr<MqttTransport> transport_;
    std::unique_ptr<MqttPublisher> publisher_;
};

}  // namespace pom::mqtt

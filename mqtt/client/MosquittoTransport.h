#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "mqtt/logic/MqttPublisher.h"

struct mosquitto;
struct mqtt5__property;  // the library's mosquitto_property

namespace pom::mqtt {

// The publisher's connection on libmosquitto. Each connection attempt gets a
// client of its own with its network thread; the thread only queues what
// happened (under a mutex) and Poll hands it to the owner, so the publisher
// never runs on it. The publisher decides when to try again: the library's
// own reconnecting is kept out of the way. Disconnect and the destructor join
// the thread.
class MosquittoTransport final : public MqttTransport {
public:
    static constexpr int kKeepAliveSeconds = 30;

    MosquittoTransport();
    ~MosquittoTransport() override;
    MosquittoTransport(const MosquittoTransport&) = delete;
    MosquittoTransport& operator=(const MosquittoTransport&) = delete;

    bool Connect(const Options& options, std::string* error) override;
    void Disconnect() override;
    int Publish(const Message& m) override;
    std::vector<TransportEvent> Poll() override;

    // A Polish line for a CONNACK refusal code of MQTT 3.1.1 or reason code
    // of MQTT 5 (Windows-1250).
    static std::string RefusalText(int code);
    // The same for an MQTT 5 broker's refusal of one message (a PUBACK
    // reason code of 128 or more).
    static std::string RejectionText(int code);

private:
    static void OnConnect(mosquitto* m, void* self, int rc);
    static void OnDisconnect(mosquitto* m, void* self, int rc);
    static void OnPublish(mosquitto* m, void* self, int mid, int reason,
                          const ::mqtt5__property* props);

    void Push(TransportEvent e);
    // Ends the current client (cleanly or not) and joins its thread.
    void Close();

    mosquitto* client_ = nullptr;
    bool looping_ = false;
    std::mutex mutex_;
    std::vector<TransportEvent> events_;
};

}  // namespace pom::mqtt

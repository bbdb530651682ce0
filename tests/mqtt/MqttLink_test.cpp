// The publisher as the window runs it: off unless switched on, and made
// afresh at each start without losing the queue of the one before.
#include "mqtt/logic/MqttLink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace pom::mqtt {
namespace {

using namespace std::chrono_literals;

// A broker that takes every message at once, or is away; what each transport
// the link makes is given goes into one list.
struct Broker {
    bool up = true;
    int made = 0;
    std::vector<Message> sent;
};

class BrokerTransport : public MqttTransport {
public:
    explicit BrokerTransport(Broker& b) : b_(b) { ++b_.made; }
    bool Connect(const Options&, std::string*) override {
        if (b_.up) news_.push_back({TransportEvent::Type::Connected, 0, {}});
        return b_.up;
    }
    void Disconnect() override {}
    int Publish(const Message& m) override {
        b_.sent.push_back(m);
        news_.push_back({TransportEvent::Type::Acked, ++id_, {}});
        return id_;
    }
    std::vector<TransportEvent> Poll() override { return std::exchange(news_, {}); }

private:
    Broker& b_;
    int id_ = 0;
    std::vector<TransportEvent> news_;
};

// Off: no connection, no record taken. Switched on while the broker is away,
// then new settings: the next publisher takes the queue over and sends it
// under the topic it was queued with.
TEST(MqttLink, OffTakesNothingARestartKeepsTheQueueAndStopSaysOffline) {
    test::TempDir dir;
    const MqttLink::Station station{"DS3231", "test", "", dir.path(), {}};
    Broker broker;
    MqttLink link([&] { return std::make_unique<BrokerTransport>(broker); }, nullptr);
    MqttPublisher::Clock::time_point now{};
    const auto run = [&](int ticks) {
        for (int i = 0; i < ticks; ++i) link.Tick(now += 100ms);
    };
    const auto record = [](int m) {
        return ClosedRecord{.time = {2026, 12, 8, 18, m, 0, 0}, .count = 1, .text = {}};
    };
    MqttSettings on;
    link.Start(on, station);
    EXPECT_FALSE(link.Running());
    link.RecordClosed(record(9));
    run(3);
    EXPECT_EQ(broker.made, 0);
    EXPECT_FALSE(test::FileExists(station.folder + "/" + MqttLink::kQueueFile));

    on.enabled = true;
    broker.up = false;
    link.Start(on, station);
    link.RecordClosed(record(0));
    link.RecordClosed(record(1));
    run(3);
    ASSERT_EQ(link.Publisher()->Pending(), 2u);
    broker.up = true;
    on.baseTopic = "dom";
    link.Start(on, station);
    EXPECT_EQ(broker.made, 2);
    run(40);
    EXPECT_EQ(link.Publisher()->Pending(), 0u);
    EXPECT_EQ(std::ranges::count(broker.sent, "pomiarnik/test/state", &Message::topic), 2);
    link.Stop();
    EXPECT_FALSE(link.Running());
    EXPECT_EQ(broker.sent.back(), Availability(MakeTarget(on, "test", "DS3231", ""), false));
}

}  // namespace
}  // namespace pom::mqtt

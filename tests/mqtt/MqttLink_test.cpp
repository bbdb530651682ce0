#include "mqtt/logic/MqttLink.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "util/Cp1250.h"
#include "util/SettingsKeys.h"

namespace pom::mqtt {
namespace {

using namespace std::chrono_literals;

// A broker that accepts at once (or is away) and keeps what it was given, in
// a journal shared by every transport the link makes.
struct Journal {
    bool brokerUp = true;
    int made = 0;
    std::vector<Message> sent;
    std::vector<std::string> events;
};

class JournalTransport : public MqttTransport {
public:
    explicit JournalTransport(Journal& j) : j_(j) { ++j_.made; }
    bool Connect(const Options&, std::string*) override {
        pending_.push_back(
            {j_.brokerUp ? TransportEvent::Type::Connected : TransportEvent::Type::Refused, 0,
             "nie ma brokera"});
        up_ = j_.brokerUp;
        return true;
    }
    void Disconnect() override { up_ = false; }
    int Publish(const Message& m) override {
        if (!up_) return -1;
        j_.sent.push_back(m);
        pending_.push_back({TransportEvent::Type::Acked, ++id_, {}});
        return id_;
    }
    std::vector<TransportEvent> Poll() override { return std::exchange(pending_, {}); }

private:
    Journal& j_;
    bool up_ = false;
    int id_ = 0;
    std::vector<TransportEvent> pending_;
};

ClosedRecord Record(int minute, int channels) {
    ClosedRecord r;
    r.time = {2026, 12, 8, 18, minute, 0, 0};
    r.values.fill(ClosedRecord::kMissing);
    r.count = channels;
    for (int i = 0; i < channels; ++i) r.values[static_cast<std::size_t>(i)] = minute + i;
    return r;
}

struct MqttLinkTest : ::testing::Test {
    MqttLinkTest() {
        util.stationFolder = "\\ardu\\DS3231";
        station.kind = "DS3231";
        station.table = "test";
        station.folder = dir.file("data");
        std::filesystem::create_directories(station.folder);
    }
    MqttLink Make() {
        return MqttLink([this] { return std::make_unique<JournalTransport>(journal); },
                        [this](const std::string& l) { journal.events.push_back(l); });
    }
    void Run(MqttLink& link, int ticks = 3) {
        for (int i = 0; i < ticks; ++i) link.Tick(now += 100ms);
    }
    std::size_t Count(const std::string& topicEnd, const std::string& payloadPart = {}) const {
        std::size_t n = 0;
        for (const Message& m : journal.sent)
            n += m.topic.ends_with(topicEnd) && m.payload.find(payloadPart) != std::string::npos;
        return n;
    }

    test::TempDir dir;
    test::ScopedConfigHome home{dir.file("cfg")};
    test::FakeClock clock;
    TdmUtil util{clock};
    MqttLink::Station station;
    Journal journal;
    MqttPublisher::Clock::time_point now{};
};

TEST_F(MqttLinkTest, OffByDefaultTakesNoRecordAndMakesNoConnection) {
    MqttLink link = Make();
    link.StartFrom(util, station);
    EXPECT_FALSE(link.Running());
    link.RecordClosed(Record(0, 2));
    Run(link);
    EXPECT_EQ(journal.made, 0);
    EXPECT_FALSE(test::FileExists(station.folder + "/" + MqttLink::kQueueFile));
}

TEST_F(MqttLinkTest, ARestartSaysOfflineAndTheNextPublisherTakesTheQueue) {
    MqttSettings on;
    on.enabled = true;
    journal.brokerUp = false;
    MqttLink link = Make();
    link.Start(on, station);
    link.RecordClosed(Record(0, 1));
    link.RecordClosed(Record(1, 1));
    Run(link);
    ASSERT_EQ(link.Publisher()->Pending(), 2u);
    // New settings while the broker is away: nothing lost on the way.
    journal.brokerUp = true;
    on.baseTopic = "dom";
    link.Start(on, station);
    EXPECT_EQ(journal.made, 2);
    for (int i = 0; i < 40 && link.Publisher()->Pending() > 0; ++i) Run(link, 1);
    EXPECT_EQ(link.Publisher()->Pending(), 0u);
    EXPECT_EQ(Count("pomiarnik/test/state"), 2u);  // queued under the old topic
    link.Stop();
    EXPECT_FALSE(link.Running());
    EXPECT_EQ(journal.sent.back(), Availability(MakeTarget(on, "test", "DS3231", ""), false));
}

}  // namespace
}  // namespace pom::mqtt

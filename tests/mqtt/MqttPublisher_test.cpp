#include "mqtt/logic/MqttPublisher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "util/Cp1250.h"

namespace pom::mqtt {
namespace {

using namespace std::chrono_literals;
using Type = TransportEvent::Type;

// A broker connection under the test's hand: it records what it is given and
// reports what the test queues.
class FakeTransport : public MqttTransport {
public:
    // RejectRecords: connects, then refuses every record (an MQTT 5 PUBACK
    // with a reason code of 128 or more).
    enum class Mode { Accept, RefuseLater, RefuseAtOnce, NoAnswer, RejectRecords };

    bool Connect(const Options& o, std::string* error) override {
        options = o;
        connects.push_back(now);
        if (mode == Mode::RefuseAtOnce) {
            *error = "brak trasy do " + o.settings.password;
            return false;
        }
        connected = mode == Mode::Accept || mode == Mode::RejectRecords;
        if (mode != Mode::NoAnswer)
            events.push_back({connected ? Type::Connected : Type::Refused, 0,
                              "odmowa dla " + o.settings.password});
        return true;
    }
    void Disconnect() override {
        connected = false;
        ++disconnects;
    }
    int Publish(const Message& m) override {
        if (!connected || failPublish) return -1;
        sent.push_back(m);
        ++lastId;
        if (m.topic.ends_with("/state") && mode == Mode::RejectRecords)
            events.push_back({Type::Rejected, lastId, "odmowa " + settings_password()});
        else if (m.topic.ends_with("/state"))
            ids.push_back(lastId);
        else
            otherIds.push_back(lastId);
        return lastId;
    }
    std::vector<TransportEvent> Poll() override { return std::exchange(events, {}); }
    std::string settings_password() const { return options.settings.password; }

    void Drop() {
        connected = false;
        events.push_back({Type::Lost, 0, {}});
    }
    void Ack(int id) { events.push_back({Type::Acked, id, {}}); }
    // The state messages' payloads sent so far, in order.
    std::vector<std::string> States() const {
        std::vector<std::string> r;
        for (const Message& m : sent)
            if (m.topic.ends_with("/state")) r.push_back(m.payload);
        return r;
    }
    void AckAll() {
        for (int id : ids) Ack(id);
        ids.clear();
    }
    // Acknowledges what is not a record: availability, configs, removals.
    void AckOthers() {
        for (int id : otherIds) Ack(id);
        otherIds.clear();
    }

    Mode mode = Mode::Accept;
    bool connected = false;
    bool failPublish = false;
    int lastId = 0;
    int disconnects = 0;
    MqttPublisher::Clock::time_point now{};
    Options options;
    std::vector<std::chrono::steady_clock::time_point> connects;
    std::vector<Message> sent;
    std::vector<int> ids;  // of the state messages not acknowledged by the test
    std::vector<int> otherIds;
    std::vector<TransportEvent> events;
};

ClosedRecord Record(int minute, std::vector<double> values = {21.5, 3.3}) {
    ClosedRecord r;
    r.time = {2026, 12, 8, 18, minute, 0, 0};
    r.values.fill(ClosedRecord::kMissing);
    r.count = static_cast<int>(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) r.values[i] = values[i];
    return r;
}

// The minute of each state payload: "...T18:MM:00...".
std::vector<int> Minutes(const std::vector<std::string>& payloads) {
    std::vector<int> r;
    for (const std::string& p : payloads) r.push_back(std::stoi(p.substr(p.find("T18:") + 4, 2)));
    return r;
}

struct Fixture : ::testing::Test {
    Fixture() {
        settings.user = "jan";
        settings.password = "Tajne#123";
        target = MakeTarget(settings, "test", "DS3231", "0.1.0");
    }
    MqttPublisher Make() {
        return MqttPublisher(transport, settings, target,
                             [this](const std::string& l) { log.push_back(l); });
    }
    void Tick(MqttPublisher& p, std::chrono::milliseconds step = 10ms) {
        transport.now += step;
        p.Tick(transport.now);
    }
    // Opens `p` on the test's queue file and lets it connect.
    void Up(MqttPublisher& p) {
        ASSERT_TRUE(p.Open(path));
        Tick(p);  // connects
        Tick(p);  // connected
    }
    static void Close(MqttPublisher& p, int from, int to) {
        for (int i = from; i < to; ++i) p.RecordClosed(Record(i % 60));
    }

    test::TempDir dir;
    const std::string path = dir.file("mqtt.txt");
    FakeTransport transport;
    MqttSettings settings;
    Target target;
    std::vector<std::string> log;
};

using MqttPublisherTest = Fixture;

TEST_F(MqttPublisherTest, AtConnectOnlineThenDiscoveryThenTheQueueInOrder) {
    MqttPublisher p = Make();
    p.SetLegends({Legend{Cp("Temperatura"), Cp("°C")}, Legend{}, Legend{}, Legend{}});
    Close(p, 0, 2);
    EXPECT_TRUE(transport.sent.empty());
    Up(p);
    ASSERT_EQ(transport.sent.size(), 5u);
    EXPECT_EQ(transport.sent[0], Availability(target, true));
    EXPECT_EQ(transport.sent[1], DiscoveryConfig(target, ClosedRecord::Kind::Readings, 0,
                                                 {Cp("Temperatura"), Cp("°C")}));
    EXPECT_EQ(transport.sent[2], DiscoveryConfig(target, ClosedRecord::Kind::Readings, 1, {}));
    EXPECT_EQ(Minutes(transport.States()), (std::vector<int>{0, 1}));
    EXPECT_EQ(transport.sent[3].topic, "pomiarnik/test/state");
    EXPECT_EQ(transport.sent[3].qos, 1);
    // The will: "offline", retained, on the availability topic.
    EXPECT_EQ(transport.options.will, Availability(target, false));
    EXPECT_EQ(transport.options.settings.password, settings.password);

    // A channel more: its config goes before its state; a legend renamed: the
    // configs follow.
    p.RecordClosed(Record(2, {1, 2, 3}));
    EXPECT_EQ(transport.sent[5], DiscoveryConfig(target, ClosedRecord::Kind::Readings, 2, {}));
    p.SetLegends({Legend{"Woda", "V"}, Legend{}, Legend{}, Legend{}});
    EXPECT_EQ(transport.sent[7],
              DiscoveryConfig(target, ClosedRecord::Kind::Readings, 0, {"Woda", "V"}));

    // A config the broker refuses is said; the records still go.
    transport.events.push_back({Type::Rejected, 2, "odmowa"});
    Tick(p);
    EXPECT_TRUE(p.Connected());
    EXPECT_EQ(log.back(), "MQTT: 127.0.0.1:1883: odmowa");
}

TEST_F(MqttPublisherTest, RecordsLeaveTheQueueAndItsFileOnlyAfterTheirAckInOrder) {
    MqttPublisher p = Make();
    Up(p);
    Close(p, 0, 3);
    ASSERT_EQ(transport.ids.size(), 3u);
    // Each record was on disk before it went out.
    const std::string first = "pomiarnik/test/state\t" + transport.States()[0] + "\r\n";
    EXPECT_EQ(test::ReadFile(path).substr(0, first.size()), first);
    EXPECT_EQ(test::ReadFile(path).size(), 3 * first.size());
    EXPECT_EQ(p.Pending(), 3u);
    transport.Ack(transport.ids[1]);  // the second first: nothing leaves yet
    Tick(p);
    EXPECT_EQ(p.Pending(), 3u);
    transport.Ack(transport.ids[0]);
    Tick(p);
    EXPECT_EQ(p.Pending(), 1u);
    EXPECT_EQ(p.Queue().Front(), "pomiarnik/test/state\t" + transport.States()[2]);
    transport.Ack(999);  // an id it never gave: nothing happens
    Tick(p);
    EXPECT_EQ(p.Pending(), 1u);
    // Stop says "offline", leaves, and the last record stays for the next run.
    p.Stop();
    EXPECT_EQ(transport.sent.back(), Availability(target, false));
    EXPECT_EQ(transport.disconnects, 1);
    Tick(p);
    EXPECT_EQ(transport.connects.size(), 1u);
    UploadQueue after;
    ASSERT_TRUE(after.Load(path));
    EXPECT_EQ(after.Size(), 1u);
}

TEST_F(MqttPublisherTest, OrderIsKeptAcrossADisconnect) {
    MqttPublisher p = Make();
    Up(p);
    Close(p, 0, 5);
    // The first and the third acknowledged: only the first may leave; the
    // third waits behind the second.
    transport.Ack(transport.ids[0]);
    transport.Ack(transport.ids[2]);
    Tick(p);
    transport.ids.clear();
    transport.sent.clear();
    EXPECT_EQ(p.Pending(), 4u);
    transport.Drop();
    Close(p, 5, 7);  // while away: queued only
    Tick(p);
    EXPECT_FALSE(p.Connected());
    EXPECT_TRUE(transport.sent.empty());
    for (int i = 0; i < 200 && !p.Connected(); ++i) Tick(p);
    ASSERT_TRUE(p.Connected());
    // Records 1..6 go again from the first unacknowledged one, in order.
    EXPECT_EQ(Minutes(transport.States()), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    transport.AckAll();
    Tick(p);
    EXPECT_EQ(p.Pending(), 0u);
}

TEST_F(MqttPublisherTest, NothingIsLostWhilePublishingFails) {
    MqttPublisher p = Make();
    Up(p);
    transport.failPublish = true;
    Close(p, 0, 40);
    Tick(p);
    EXPECT_EQ(p.Pending(), 40u);
    transport.failPublish = false;
    // Window by window, each acked, all go out in order.
    for (int round = 0; round < 5 && p.Pending() > 0; ++round) {
        Tick(p);
        transport.AckAll();
    }
    Tick(p);
    EXPECT_EQ(p.Pending(), 0u);
    std::vector<int> expected;
    for (int i = 0; i < 40; ++i) expected.push_back(i);
    EXPECT_EQ(Minutes(transport.States()), expected);
}

TEST_F(MqttPublisherTest, AKilledRunLeavesItsRecordsToTheNext) {
    {
        MqttPublisher p = Make();
        ASSERT_TRUE(p.Open(path));
        Close(p, 0, 3);
        // Gone without Stop, as a SIGKILL leaves it.
    }
    MqttPublisher next = Make();
    Up(next);
    EXPECT_EQ(next.Pending(), 3u);
    EXPECT_EQ(Minutes(transport.States()), (std::vector<int>{0, 1, 2}));
}

// The discovery messages sent, as "sondaN" for a config and "-sondaN" for a
// removal (barometer channels "b:"), cleared after each look.
std::vector<std::string> Discovery(FakeTransport& t) {
    std::vector<std::string> r;
    for (const Message& m : t.sent) {
        if (!m.topic.ends_with("/config")) continue;
        const std::size_t end = m.topic.rfind('/');
        std::string object = m.topic.substr(m.topic.rfind('/', end - 1) + 1);
        object = object.substr(0, end - m.topic.rfind('/', end - 1) - 1);
        if (object.starts_with("barometr_")) object = "b:" + object.substr(9);
        EXPECT_TRUE(m.retained) << m.topic;
        r.push_back((m.payload.empty() ? "-" : "") + object);
    }
    t.sent.clear();
    return r;
}

using Names = std::vector<std::string>;

TEST_F(MqttPublisherTest, AChannelNoLongerSentIsRemovedAlsoAfterARestart) {
    const std::string announced = dir.file("kanaly.txt");
    {
        MqttPublisher p = Make();
        ASSERT_TRUE(p.Open(path, nullptr, announced));
        Tick(p);
        Tick(p);
        p.RecordClosed(Record(0, {1, 2, 3}));
        EXPECT_EQ(Discovery(transport), (Names{"sonda0", "sonda1", "sonda2"}));
        p.Stop();
    }
    EXPECT_EQ(test::ReadFile(announced), "3 0\n");
    // The next run announces the same at once, then learns of a channel gone.
    transport = FakeTransport{};
    MqttPublisher p = Make();
    ASSERT_TRUE(p.Open(path, nullptr, announced));
    Tick(p);
    Tick(p);
    EXPECT_EQ(Discovery(transport), (Names{"sonda0", "sonda1", "sonda2"}));
    transport.AckOthers();
    p.RecordClosed(Record(1, {1, 2}));
    EXPECT_EQ(Discovery(transport), (Names{"-sonda2"}));
    // Listed as gone only once the broker has the removal.
    Tick(p);
    EXPECT_EQ(test::ReadFile(announced), "3 0\n");
    transport.AckOthers();
    Tick(p);
    EXPECT_EQ(test::ReadFile(announced), "2 0\n");
    // Noticed while the broker is away: removed at the next connect; a
    // removal lost with the connection goes again at the one after.
    transport.Drop();
    Tick(p);
    p.RecordClosed(Record(2, {1}));
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 300 && !p.Connected(); ++i) Tick(p, 100ms);
        ASSERT_TRUE(p.Connected());
        EXPECT_EQ(Discovery(transport), (Names{"sonda0", "-sonda1"}));
        if (round == 0) transport.Drop();
        Tick(p);
    }
    transport.AckOthers();
    // A barometer record: its configs apart; all again when its count moves,
    // since its names count from the record's end.
    ClosedRecord b = Record(3, {1000, 20, 1000, 750, 750});
    b.kind = ClosedRecord::Kind::Barometer;
    p.RecordClosed(b);
    EXPECT_EQ(Discovery(transport),
              (Names{"b:sonda0", "b:sonda1", "b:sonda2", "b:sonda3", "b:sonda4"}));
    b.count = 4;
    p.RecordClosed(b);
    EXPECT_EQ(Discovery(transport),
              (Names{"b:sonda0", "b:sonda1", "b:sonda2", "b:sonda3", "-b:sonda4"}));
    transport.AckOthers();
    Tick(p);
    EXPECT_EQ(test::ReadFile(announced), "1 4\n");
}

TEST_F(MqttPublisherTest, AnUnreadableListOfChannelsRemovesNothing) {
    const std::string announced = dir.file("kanaly.txt");
    test::WriteFile(announced, "x\n");
    MqttPublisher p = Make();
    ASSERT_TRUE(p.Open(path, nullptr, announced));
    Tick(p);
    Tick(p);
    p.RecordClosed(Record(0, {1}));
    EXPECT_EQ(Discovery(transport), (Names{"sonda0"}));
}

// --- back-off, for both ways a connection fails

struct FailCase {
    const char* name;
    FakeTransport::Mode mode;
    std::vector<long> waits;  // seconds between attempts
};

class MqttBackoffTest : public Fixture, public ::testing::WithParamInterface<FailCase> {};

TEST_P(MqttBackoffTest, WaitsDoubleUpToThirtySecondsAndThePasswordIsNeverLogged) {
    transport.mode = GetParam().mode;
    MqttPublisher p = Make();
    ASSERT_TRUE(p.Open(path));
    p.RecordClosed(Record(0));
    for (int i = 0; i < 2000; ++i) Tick(p, 100ms);  // 200 s
    std::vector<long> waits;
    for (std::size_t i = 1; i < transport.connects.size(); ++i)
        waits.push_back(static_cast<long>(std::chrono::round<std::chrono::seconds>(
                                              transport.connects[i] - transport.connects[i - 1])
                                              .count()));
    const std::vector<long>& expected = GetParam().waits;
    waits.resize(std::min(waits.size(), expected.size()));
    EXPECT_EQ(waits, expected);
    EXPECT_EQ(p.Pending(), 1u);  // the record waits
    ASSERT_FALSE(log.empty());
    for (const std::string& line : log) {
        EXPECT_EQ(line.find(settings.password), std::string::npos) << line;
        EXPECT_NE(line.find("127.0.0.1:1883"), std::string::npos) << line;
    }
    EXPECT_NE(log.back().find(Cp("; następna próba za 30 s")), std::string::npos) << log.back();

    // Once connected and a record taken, the wait starts again from one second.
    transport.mode = FakeTransport::Mode::Accept;
    for (int i = 0; i < 400 && !(p.Connected() && !transport.ids.empty()); ++i) Tick(p, 100ms);
    ASSERT_TRUE(p.Connected());
    transport.AckAll();
    Tick(p);
    EXPECT_EQ(p.Pending(), 0u);
    const auto lost = transport.now;
    transport.Drop();
    for (int i = 0; i < 400 && transport.connects.back() <= lost; ++i) Tick(p, 100ms);
    EXPECT_EQ(std::chrono::round<std::chrono::seconds>(transport.connects.back() - lost), 1s);
}

INSTANTIATE_TEST_SUITE_P(
    Mqtt, MqttBackoffTest,
    ::testing::Values(
        FailCase{"Refused", FakeTransport::Mode::RefuseLater, {1, 2, 4, 8, 16, 30, 30, 30}},
        FailCase{"CannotStart", FakeTransport::Mode::RefuseAtOnce, {1, 2, 4, 8, 16, 30, 30, 30}},
        // Unanswered attempts end after 10 s, then the wait.
        FailCase{"NoAnswer", FakeTransport::Mode::NoAnswer, {11, 12, 14, 18, 26, 40, 40}},
        // Connected each time, but the record is refused: it stays first,
        // and a connection that succeeds does not shorten the wait.
        FailCase{"RecordRejected", FakeTransport::Mode::RejectRecords, {1, 2, 4, 8, 16, 30, 30}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pom::mqtt

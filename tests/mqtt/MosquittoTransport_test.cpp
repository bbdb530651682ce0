#include "mqtt/client/MosquittoTransport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/MqttBroker.h"
#include "tests/support/TestSupport.h"
#include "util/Cp1250.h"

namespace pom::mqtt {
namespace {

using namespace std::chrono_literals;
using test::Accepts;
using test::Broker;
using test::FreePort;
using test::kBroker;
using test::kPasswd;
using test::Subscriber;

ClosedRecord Record(int minute) {
    ClosedRecord r;
    r.time = {2026, 12, 8, 18, minute, 0, 0};
    r.values.fill(ClosedRecord::kMissing);
    r.count = 2;
    r.values[0] = 20 + minute;
    r.values[1] = -0.5;
    return r;
}

struct MosquittoTransportTest : ::testing::Test {
    MosquittoTransportTest() : port(FreePort()) {
        settings.enabled = true;
        settings.port = port;
        target = MakeTarget(settings, "test", "DS3231", "0.1.0");
    }
    void SetUp() override {
        ASSERT_TRUE(test::FileExists(kBroker)) << "scripts/install-deps installs mosquitto";
    }
    std::unique_ptr<MqttPublisher> Make() {
        auto p = std::make_unique<MqttPublisher>(
            transport, settings, target, [this](const std::string& l) { log.push_back(l); });
        EXPECT_TRUE(p->Open(dir.file("mqtt.txt")));
        return p;
    }
    // Ticks the publisher as its timer would until `cond` holds.
    template <class Cond>
    bool Run(MqttPublisher& p, Cond cond, std::chrono::milliseconds deadline = 8s) {
        return test::WaitFor(
            [&] {
                p.Tick();
                return cond();
            },
            deadline);
    }
    bool Logged(const std::string& part) const {
        for (const std::string& l : log)
            if (l.find(part) != std::string::npos) return true;
        return false;
    }
    std::string State(int minute) {
        return StateMessage(target, Record(minute), LocalUtcOffset(Record(minute).time)).payload;
    }

    test::TempDir dir;
    int port;
    MqttSettings settings;
    Target target;
    MosquittoTransport transport;
    std::vector<std::string> log;
};

TEST_F(MosquittoTransportTest, RecordsArriveInOrderAndTheConfigsStayRetained) {
    Broker broker(dir, port);
    ASSERT_TRUE(broker.Start());
    Subscriber sub(port, "pomiarnik/#");
    ASSERT_TRUE(sub.ok());
    auto p = Make();
    p->SetLegends({Legend{Cp("Temperatura"), Cp("°C")}, Legend{}, Legend{}, Legend{}});
    for (int i = 0; i < 3; ++i) p->RecordClosed(Record(i));
    ASSERT_TRUE(Run(*p, [&] { return p->Pending() == 0; }));
    ASSERT_TRUE(sub.Wait([&] { return sub.Count("pomiarnik/test/state") == 3; }));
    EXPECT_EQ(sub.Payloads("pomiarnik/test/state"),
              (std::vector<std::string>{State(0), State(1), State(2)}));

    // One who comes later finds the configs and "online", retained.
    Subscriber later(port, "#");
    ASSERT_TRUE(later.ok());
    ASSERT_TRUE(later.Wait([&] { return later.Count("pomiarnik/test/status") == 1; }));
    const Message c0 =
        DiscoveryConfig(target, ClosedRecord::Kind::Readings, 0, {Cp("Temperatura"), Cp("°C")});
    const Message c1 = DiscoveryConfig(target, ClosedRecord::Kind::Readings, 1, {});
    ASSERT_TRUE(later.Wait([&] { return later.Count(c0.topic) + later.Count(c1.topic) == 2; }));
    // Only these are kept (no state), each retained as sent.
    const std::map<std::string, std::string> kept{
        {c0.topic, c0.payload}, {c1.topic, c1.payload}, {"pomiarnik/test/status", "online"}};
    for (const auto& g : later.Messages()) {
        ASSERT_EQ(kept.count(g.topic), 1u) << g.topic;
        EXPECT_TRUE(g.retained) << g.topic;
        EXPECT_EQ(g.payload, kept.at(g.topic)) << g.topic;
    }

    // A clean stop says "offline".
    p->Stop();
    ASSERT_TRUE(sub.Wait([&] { return sub.Count("pomiarnik/test/status") == 2; }));
    EXPECT_EQ(sub.Payloads("pomiarnik/test/status").back(), "offline");
}

TEST_F(MosquittoTransportTest, ABrokerStoppedAndStartedAgainGetsEveryRecordInOrder) {
    Broker broker(dir, port);
    ASSERT_TRUE(broker.Start());
    auto p = Make();
    std::vector<std::string> seen;
    {
        Subscriber sub(port, "pomiarnik/test/state");
        ASSERT_TRUE(sub.ok());
        for (int i = 0; i < 2; ++i) p->RecordClosed(Record(i));
        ASSERT_TRUE(Run(*p, [&] { return p->Pending() == 0; }));
        ASSERT_TRUE(sub.Wait([&] { return sub.Count("pomiarnik/test/state") == 2; }));
        seen = sub.Payloads("pomiarnik/test/state");
    }
    broker.Stop();
    ASSERT_TRUE(Run(*p, [&] { return !p->Connected(); }));
    for (int i = 2; i < 6; ++i) p->RecordClosed(Record(i));
    p->Tick();
    EXPECT_EQ(p->Pending(), 4u);
    ASSERT_TRUE(broker.Start());
    Subscriber sub(port, "pomiarnik/test/state");
    ASSERT_TRUE(sub.ok());
    ASSERT_TRUE(Run(*p, [&] { return p->Pending() == 0; }));
    ASSERT_TRUE(sub.Wait([&] { return sub.Count("pomiarnik/test/state") >= 4; }));
    for (const std::string& s : sub.Payloads("pomiarnik/test/state"))
        if (seen.empty() || seen.back() != s) seen.push_back(s);
    std::vector<std::string> expected;
    for (int i = 0; i < 6; ++i) expected.push_back(State(i));
    EXPECT_EQ(seen, expected);
    p->Stop();
}

TEST_F(MosquittoTransportTest, AWrongPasswordIsToldInPolishAndTheRecordsStay) {
    const std::string passwords = dir.file("hasla");
    test::ChildProcess make(kPasswd, {"-c", "-b", passwords, "jan", "dobre-haslo"});
    ASSERT_EQ(make.WaitExit(5s), 0);
    Broker broker(dir, port, "allow_anonymous false\npassword_file " + passwords + "\n");
    ASSERT_TRUE(broker.Start());
    settings.user = "jan";
    settings.password = "zle-haslo";
    auto p = Make();
    p->RecordClosed(Record(0));
    ASSERT_TRUE(Run(*p, [&] { return Logged(Cp("hasło")); }))
        << (log.empty() ? "" : Cp1250ToUtf8(log.back()));
    EXPECT_FALSE(Logged("zle-haslo"));
    // Mosquitto answers "not authorized" (5); other brokers "bad user name or password" (4).
    const std::string& refused = log.back();
    EXPECT_TRUE(refused.find(MosquittoTransport::RefusalText(5)) != std::string::npos ||
                refused.find(MosquittoTransport::RefusalText(4)) != std::string::npos)
        << Cp1250ToUtf8(refused);
    EXPECT_NE(refused.find("127.0.0.1:" + std::to_string(port)), std::string::npos);
    EXPECT_FALSE(p->Connected());
    EXPECT_EQ(p->Pending(), 1u);
    p->Stop();
    UploadQueue kept;
    ASSERT_TRUE(kept.Load(dir.file("mqtt.txt")));
    EXPECT_EQ(kept.Size(), 1u);
}

// An MQTT 5 broker that may not take the records says so in its PUBACK: the
// record stays queued and the reason is said in Polish.
TEST_F(MosquittoTransportTest, ARecordTheBrokerRefusesStaysQueuedAndIsSaid) {
    const std::string acl = dir.file("acl");
    test::WriteFile(acl,
                    "topic readwrite pomiarnik/test/status\ntopic readwrite homeassistant/#\n");
    Broker broker(dir, port, "allow_anonymous true\nacl_file " + acl + "\n");
    ASSERT_TRUE(broker.Start());
    settings.protocol = kMqtt5;
    auto p = Make();
    p->RecordClosed(Record(0));
    const std::string why = MosquittoTransport::RejectionText(135);
    ASSERT_TRUE(Run(*p, [&] { return Logged(why); }))
        << (log.empty() ? "" : Cp1250ToUtf8(log.back()));
    EXPECT_NE(why.find(Cp("brak uprawnień")), std::string::npos);
    EXPECT_EQ(p->Pending(), 1u);
    EXPECT_FALSE(p->Connected());
    p->Stop();
}

// --- TLS with a CA file

// A self-signed certificate for 127.0.0.1, its own CA.
void MakeCertificate(const std::string& key, const std::string& cert) {
    test::ChildProcess openssl(
        "/usr/bin/openssl",
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
         "subjectAltName=IP:127.0.0.1"});
    ASSERT_EQ(openssl.WaitExit(10s), 0);
}

// Both protocols the settings offer, against the real broker: the right
// password delivers, a wrong one is said in Polish.
class MosquittoProtocolTest : public MosquittoTransportTest,
                              public ::testing::WithParamInterface<int> {};

TEST_P(MosquittoProtocolTest, ConnectsDeliversAndRefusesAWrongPasswordInPolish) {
    const std::string passwords = dir.file("hasla");
    test::ChildProcess make(kPasswd, {"-c", "-b", passwords, "jan", "dobre-haslo"});
    ASSERT_EQ(make.WaitExit(5s), 0);
    Broker broker(dir, port, "allow_anonymous false\npassword_file " + passwords + "\n");
    ASSERT_TRUE(broker.Start());
    settings.protocol = GetParam();
    settings.user = "jan";
    settings.password = "dobre-haslo";
    {
        auto p = Make();
        p->RecordClosed(Record(0));
        ASSERT_TRUE(Run(*p, [&] { return p->Pending() == 0; }));
        p->Stop();
    }
    settings.password = "zle-haslo";
    log.clear();
    auto p = Make();
    p->RecordClosed(Record(1));
    ASSERT_TRUE(Run(*p, [&] { return Logged(Cp("hasło")); }))
        << (log.empty() ? "" : Cp1250ToUtf8(log.back()));
    EXPECT_TRUE(Logged(MosquittoTransport::RefusalText(5)) ||
                Logged(MosquittoTransport::RefusalText(4)));
    EXPECT_EQ(p->Pending(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Mqtt, MosquittoProtocolTest, ::testing::Values(kMqtt311, kMqtt5),
                         [](const auto& info) {
                             return std::string(info.param == kMqtt5 ? "Mqtt5" : "Mqtt311");
                         });

struct TlsCase {
    const char* name;
    const char* caFile;  // in the test's folder; "server.pem" is the broker's own
    bool delivered;
};

class MosquittoTlsTest : public MosquittoTransportTest,
                         public ::testing::WithParamInterface<TlsCase> {};

TEST_P(MosquittoTlsTest, OnlyTheRightCaFileConnectsAndTheRecordsWaitOtherwise) {
    const TlsCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(MakeCertificate(dir.file("server.key"), dir.file("server.pem")));
    ASSERT_NO_FATAL_FAILURE(MakeCertificate(dir.file("other.key"), dir.file("other.pem")));
    // The subscriber stays on the plain listener; the publisher uses TLS.
    const int tlsPort = FreePort();
    Broker broker(dir, port,
                  "allow_anonymous true\nlistener " + std::to_string(tlsPort) +
                      " 127.0.0.1\ncertfile " + dir.file("server.pem") + "\nkeyfile " +
                      dir.file("server.key") + "\n");
    ASSERT_TRUE(broker.Start());
    ASSERT_TRUE(test::WaitFor([&] { return Accepts(tlsPort); }, 5s));
    Subscriber sub(port, "pomiarnik/test/state");
    ASSERT_TRUE(sub.ok());
    settings.port = tlsPort;
    settings.tls = true;
    settings.caFile = PathToText(dir.file(c.caFile));
    auto p = Make();
    p->RecordClosed(Record(0));
    if (c.delivered) {
        ASSERT_TRUE(Run(*p, [&] { return p->Pending() == 0; }));
        ASSERT_TRUE(sub.Wait([&] { return sub.Count("pomiarnik/test/state") == 1; }));
        EXPECT_EQ(sub.Payloads("pomiarnik/test/state")[0], State(0));
    } else {
        // A refused handshake may go unanswered: the publisher's own time
        // limit ends the attempt (its clock moved on, not the test's).
        p->Tick();  // the attempt starts
        const auto later = MqttPublisher::Clock::now() + MqttPublisher::kConnectTimeout;
        ASSERT_TRUE(test::WaitFor([&] {
            p->Tick(later);
            return !log.empty();
        }));
        EXPECT_FALSE(p->Connected());
        EXPECT_EQ(p->Pending(), 1u);
        EXPECT_NE(log.back().find(std::to_string(tlsPort)), std::string::npos)
            << Cp1250ToUtf8(log.back());
    }
    p->Stop();
}

INSTANTIATE_TEST_SUITE_P(Mqtt, MosquittoTlsTest,
                         ::testing::Values(TlsCase{"RightCa", "server.pem", true},
                                           TlsCase{"OtherCa", "other.pem", false},
                                           TlsCase{"NoCaFile", "brak.pem", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pom::mqtt

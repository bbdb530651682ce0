// The MQTT publisher's own cost per closed record (its state payload built and
// appended, synced, to its queue file), and a backlog of 10 000 records
// drained to a local broker (Debian's mosquitto on 127.0.0.1, a free port).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "mqtt/client/MosquittoTransport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace pom;
using namespace pom::mqtt;
using namespace std::chrono_literals;

constexpr int kBacklog = 10000;

ClosedRecord Record(int i) {
    ClosedRecord r;
    r.time = AddSeconds({2026, 12, 8, 18, 0, 0, 0}, i * 60);
    r.values.fill(ClosedRecord::kMissing);
    r.count = 4;
    r.values = {21.5 + i % 10, 3.3,  -888, 1013.25 - i % 7, -888, -888, -888, -888,
                -888,          -888, -888};
    return r;
}

Target Station() {
    MqttSettings s;
    return MakeTarget(s, "test", "DS3231", "0.1.0");
}

// Never reaches a broker: what is left is the publisher's own work.
class Nowhere : public MqttTransport {
public:
    bool Connect(const Options&, std::string*) override { return false; }
    void Disconnect() override {}
    int Publish(const Message&) override { return -1; }
    std::vector<TransportEvent> Poll() override { return {}; }
};

void BM_StatePayload(benchmark::State& state) {
    const Target t = Station();
    const ClosedRecord r = Record(1);
    for (auto _ : state) benchmark::DoNotOptimize(StateMessage(t, r, 3600));
}
BENCHMARK(BM_StatePayload)->Unit(benchmark::kMicrosecond);

// Payload and a synced append to the queue file: a record's whole cost to the
// thread that closes it.
void BM_RecordClosed(benchmark::State& state) {
    test::TempDir dir;
    Nowhere nowhere;
    MqttPublisher p(nowhere, MqttSettings{}, Station(), {});
    p.Open(dir.file("mqtt.txt"));
    int i = 0;
    for (auto _ : state) p.RecordClosed(Record(i++));
}
BENCHMARK(BM_RecordClosed)->Unit(benchmark::kMicrosecond);

using test::Accepts;
using test::FreePort;

// 10 000 records queued while the broker was away, then handed over and
// acknowledged: records per second, from the connect to the last removal.
void BM_DrainBacklog(benchmark::State& state) {
    test::TempDir dir;
    const int port = FreePort();
    test::WriteFile(dir.file("mosquitto.conf"), "listener " + std::to_string(port) +
                                                    " 127.0.0.1\npersistence false\n"
                                                    "log_dest none\nuser root\n"
                                                    "allow_anonymous true\n");
    test::ChildProcess broker("/usr/sbin/mosquitto", {"-c", dir.file("mosquitto.conf")});
    if (!test::WaitFor([&] { return Accepts(port); }, 5s)) {
        state.SkipWithError("no broker");
        return;
    }
    MqttSettings s;
    s.port = port;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(dir.file("mqtt.txt"));
        MosquittoTransport transport;
        auto p = std::make_unique<MqttPublisher>(transport, s, Station(), nullptr);
        p->Open(dir.file("mqtt.txt"));
        for (int i = 0; i < kBacklog; ++i) p->RecordClosed(Record(i));
        state.ResumeTiming();
        while (p->Pending() > 0) p->Tick();
        p->Stop();
    }
    state.counters["records/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kBacklog, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DrainBacklog)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

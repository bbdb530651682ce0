// Station text through the receive path: chunks as the serial worker hands
// them over, lines stamped into a real data log, replies parsed, readings
// dispatched to the stand-in handlers.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/logic/DataLog.h"
#include "app/logic/ReceivePath.h"
#include "tests/support/FakeReadingsHost.h"
#include "util/Clock.h"

namespace {

// About 1 MB of what a busy station sends: readings, read-outs, barometer
// lines, sensor information and replies.
std::string StationStream() {
    std::string s;
    char line[160];
    int n = 0;
    while (s.size() < (1u << 20)) {
        const int sec = n % 60, min = (n / 60) % 60;
        const double t = 20.0 + (n % 37) * 0.07;
        switch (n % 10) {
            case 0:
            case 1:
            case 2:
            case 3:
                std::snprintf(line, sizeof line,
                              "A:2023-05-01 12:%02d:%02d %.2f %.2f 3.30 12.41 9.4 -888 W4r:%d\r\n",
                              min, sec, t, t + 1.3, n % 128);
                break;
            case 4:
            case 5:
            case 6:
                std::snprintf(line, sizeof line,
                              "R:2023-05-01 11:%02d:%02d %.2f %.2f 3.29 12.40 9.1 10.8 W4r:%d\r\n",
                              min, sec, t, t + 1.2, 127 - n % 128);
                break;
            case 7:
                std::snprintf(line, sizeof line, "O:%.2f;%.2f;%.1f\r\n", 998.0 + (n % 50) * 0.1, t,
                              45.0 + n % 9);
                break;
            case 8:
                std::snprintf(line, sizeof line,
                              "I: 2 281F948F01000021 | 28AA1B2C03000045 | 10T\r\n");
                break;
            default:
                static const char* const replies[] = {
                    "pomiar co ile sekund T: 10\r\n",
                    "pomiarow ile do sredniej: 5\r\n",
                    "wspolczynnik kalibracyjny, dodaj: 0.25\r\n",
                    "wysokosc n.p.m. [m]: 295.0\r\n",
                    "temperatura [\xC2\xB0"
                    "C]: 18.0\r\n",
                    "labels:T1 [\xC2\xB0"
                    "C];T2 [\xC2\xB0"
                    "C];U1 [V];U2 [V]\r\n",
                };
                std::snprintf(line, sizeof line, "%s", replies[(n / 10) % 6]);
        }
        s += line;
        ++n;
    }
    return s;
}

class BenchHost final : public pom::ReceiveHost {
public:
    pom::DataLog log;
    pom::test::FakeReadingsHost readingsHost;
    std::unique_ptr<pom::Readings> readings;
    const std::string* stream = nullptr;
    std::size_t pos = 0;
    std::size_t chunk = 0;

    std::string Stamp() override { return pom::FormatStamp(clock_.now()); }
    void AppendLog(std::string line) override { log.Append(std::move(line)); }
    void SendString(const std::string&) override {}
    void ReadNextCluster(std::string& bytes, int& count, int& error) override {
        const std::size_t n = std::min(chunk, stream->size() - pos);
        bytes.assign(*stream, pos, n);
        pos += n;
        count = static_cast<int>(n);
        error = 0;
    }
    std::string StationFolder() const override { return "\\ardu\\DS3231"; }
    int ValueCount() const override { return readingsHost.valueCount; }
    void AttachStation(const std::string&) override {}
    void SetBarometerPanelVisible(bool) override {}
    void SetChannelCaption(int, const std::string&) override {}
    void SetCatchUpInterval(int) override {}
    int BarometerMessage(const std::string& line) override {
        return readings->BarometerMessage(line);
    }
    void SensorInformation(const std::string& line) override { readings->SensorInformation(line); }
    int Reading(const std::string& line) override { return readings->Reading(line); }

private:
    pom::SystemClock clock_;
};

void BM_ReceiveStationText(benchmark::State& state) {
    static const std::string stream = StationStream();
    BenchHost host;
    pom::ReceivePath rp(host);
    host.readings = std::make_unique<pom::Readings>(host.readingsHost, rp.Values());
    host.stream = &stream;
    host.chunk = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        host.pos = 0;
        while (host.pos < stream.size()) rp.SerialPort1RxClusterEvent();
        benchmark::DoNotOptimize(host.log.Count());
        // The program saves and empties its log every few minutes; keep the
        // benchmark's memory flat the same way.
        host.log.Clear();
        host.readingsHost.Clear();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(stream.size()));
}
// One line per cluster (a slow line), a few lines, and the worker's largest read.
BENCHMARK(BM_ReceiveStationText)->Arg(64)->Arg(512)->Arg(3072)->Unit(benchmark::kMillisecond);

// The line cutting alone, without the log and the handlers' work per line.
void BM_CutLongRun(benchmark::State& state) {
    const std::string run(1 << 20, 'x');
    BenchHost host;
    pom::ReceivePath rp(host);
    host.readings = std::make_unique<pom::Readings>(host.readingsHost, rp.Values());
    for (auto _ : state) {
        rp.ProcessChunk(run.data(), static_cast<int>(run.size()));
        host.log.Clear();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(run.size()));
}
BENCHMARK(BM_CutLongRun)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

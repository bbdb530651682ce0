// The serial component at the station's full line rate: a feeder thread writes
// station lines into a pseudo-terminal at 115200 baud (11.5 kB/s), the port
// reads them into clusters, and the main thread (a pumped dispatcher) hands
// every cluster to the receive path, whose log lines are checked for loss and
// order. Reports the worker's and the whole process's CPU use.
//
// POM_SERIAL_BENCH_SECONDS sets the run length (default 60; idle run a third).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "app/logic/ReceivePath.h"
#include "serial/QueuedDispatcher.h"
#include "serial/SerialPort.h"
#include "tests/support/FakeReadingsHost.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kBytesPerSecond = 115200.0 / 10.0;  // 8N1: ten bits a byte

int RunSeconds() {
    const char* v = std::getenv("POM_SERIAL_BENCH_SECONDS");
    const int s = v ? std::atoi(v) : 60;
    return s > 0 ? s : 60;
}

// CPU seconds of the thread named `name` (nanoseconds on the CPU from schedstat).
double ThreadCpuSeconds(const std::string& name) {
    DIR* d = opendir("/proc/self/task");
    if (!d) return 0;
    double total = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string base = std::string("/proc/self/task/") + e->d_name;
        std::ifstream comm(base + "/comm");
        std::string n;
        std::getline(comm, n);
        if (n != name) continue;
        std::ifstream sched(base + "/schedstat");
        unsigned long long ns = 0;
        sched >> ns;
        total += static_cast<double>(ns) / 1e9;
    }
    closedir(d);
    return total;
}

double ProcessCpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// A pseudo-terminal whose master side the benchmark drives.
struct Pty {
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(master);
        unlockpt(master);
        char name[128];
        ptsname_r(master, name, sizeof name);
        slave = name;
        termios t{};
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
    }
    ~Pty() { close(master); }
    int master = -1;
    std::string slave;
};

std::string ReadingLine(long seq) {
    char b[128];
    std::snprintf(b, sizeof b,
                  "A:2024-03-09 08:%02ld:%02ld %ld.00 20.91 3.30 12.39 8.9 11.0 W4r:1\r\n",
                  (seq / 60) % 60, seq % 60, seq);
    return b;
}

// The main window's side: receive path into a checking log.
class Host final : public pom::ReceiveHost {
public:
    explicit Host(pom::TSerialPort& p)
        : port(p), path(*this), handlers(readingsHost, path.Values()) {}
    std::string Stamp() override { return "2024-03-09 08:15:00 "; }
    void AppendLog(std::string line) override {
        bytes += line.size() - 20 + 2;  // the line as sent, CR LF included
        if (line.compare(20, 2, "A:") != 0) return;
        const long seq = std::strtol(line.c_str() + 42, nullptr, 10);
        if (seq != nextSeq) ++outOfOrder;
        nextSeq = seq + 1;
        ++readings;
    }
    void SendString(const std::string& text) override { port.SendString(text); }
    void ReadNextCluster(std::string& out, int& count, int& error) override {
        std::int32_t size = 0, err = 0;
        auto data = port.ReadNextCluster(size, err);
        out = size > 0 ? std::string(data.get(), static_cast<std::size_t>(size)) : "";
        count = size;
        error = err;
        if (size > 0) ++clusters;
    }
    std::string StationFolder() const override { return folder; }
    int ValueCount() const override { return readingsHost.valueCount; }
    void AttachStation(const std::string& kind) override { folder = "\\ardu\\" + kind; }
    void SetBarometerPanelVisible(bool) override {}
    void SetChannelCaption(int, const std::string&) override {}
    void SetCatchUpInterval(int) override {}
    int BarometerMessage(const std::string& l) override { return handlers.BarometerMessage(l); }
    void SensorInformation(const std::string& l) override { handlers.SensorInformation(l); }
    int Reading(const std::string& l) override { return handlers.Reading(l); }

    pom::TSerialPort& port;
    pom::ReceivePath path;
    pom::test::FakeReadingsHost readingsHost;
    pom::Readings handlers;
    std::string folder = "\\Ardu";
    long nextSeq = 0, outOfOrder = 0, readings = 0, clusters = 0;
    std::size_t bytes = 0;
};

void BM_StationLineRate115200(benchmark::State& state) {
    const int seconds = RunSeconds();
    for (auto _ : state) {
        Pty pty;
        pom::QueuedDispatcher main;
        pom::TSerialPort port(main);
        port.SetBaudRate(115200);
        Host host(port);
        port.SetOnRxClusterEvent([&](pom::TSerialPort&) { host.path.SerialPort1RxClusterEvent(); });
        port.SetCommPort(pty.slave);
        port.SetActive(true);
        if (!port.Active()) {
            state.SkipWithError("port did not open");
            return;
        }

        std::string head =
            "Stacja pomiarowa Borsk: DS1820 RC433 DS3231 v2.3\r\n"
            "I: 2 28BB0F1227857585 | 285C8E74616796CB | 10T\r\n";
        std::atomic<bool> stop{false};
        std::atomic<std::size_t> sent{0};
        long lastSeq = -1;
        // Non-blocking before the feeder starts: its read of what the PC sent
        // back would otherwise wait for bytes that may never come.
        fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
        std::thread feeder([&] {
            std::string pending = head;
            long seq = 0;
            std::size_t written = 0;
            const auto start = Clock::now();
            char sink[4096];
            while (!stop) {
                const double t = std::chrono::duration<double>(Clock::now() - start).count();
                if (t >= seconds) break;
                const auto due = static_cast<std::size_t>(t * kBytesPerSecond);
                while (written < due) {
                    if (pending.empty()) {
                        pending = ReadingLine(seq);
                        lastSeq = seq++;
                    }
                    const std::size_t n = std::min(pending.size(), due - written);
                    const ssize_t w = write(pty.master, pending.data(), n);
                    if (w <= 0) break;
                    pending.erase(0, static_cast<std::size_t>(w));
                    written += static_cast<std::size_t>(w);
                }
                sent = written;
                // What the PC sends back ("i" and the like) is read and dropped.
                while (read(pty.master, sink, sizeof sink) > 0) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            // Finish the line in progress so the count ends on a whole line.
            if (!pending.empty() && pending != head) {
                written +=
                    static_cast<std::size_t>(write(pty.master, pending.data(), pending.size()));
                sent = written;
            }
        });

        const double worker0 = ThreadCpuSeconds("pom-serial");
        const double process0 = ProcessCpuSeconds();
        const auto t0 = Clock::now();
        main.PumpUntil([&] { return Clock::now() - t0 >= std::chrono::seconds(seconds); },
                       std::chrono::seconds(seconds + 1));
        feeder.join();
        // Let the last bytes through.
        main.PumpUntil([&] { return host.readings == lastSeq + 1; }, std::chrono::seconds(5));
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double worker = ThreadCpuSeconds("pom-serial") - worker0;
        const double process = ProcessCpuSeconds() - process0;
        const double mb = static_cast<double>(sent.load()) / 1e6;

        state.counters["bytes_sent"] = static_cast<double>(sent.load());
        state.counters["bytes_logged"] = static_cast<double>(host.bytes);
        state.counters["readings"] = static_cast<double>(host.readings);
        state.counters["lost_readings"] = static_cast<double>(lastSeq + 1 - host.readings);
        state.counters["out_of_order"] = static_cast<double>(host.outOfOrder);
        state.counters["clusters"] = static_cast<double>(host.clusters);
        state.counters["worker_cpu_pct"] = 100.0 * worker / wall;
        state.counters["process_cpu_pct"] = 100.0 * process / wall;
        state.counters["worker_cpu_s_per_MB"] = mb > 0 ? worker / mb : 0;
        state.counters["process_cpu_s_per_MB"] = mb > 0 ? process / mb : 0;
        if (host.readings != lastSeq + 1 || host.outOfOrder != 0)
            state.SkipWithError("readings lost or out of order");
    }
}
BENCHMARK(BM_StationLineRate115200)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_IdleOpenPort(benchmark::State& state) {
    const int seconds = std::max(5, RunSeconds() / 3);
    for (auto _ : state) {
        Pty pty;
        pom::QueuedDispatcher main;
        pom::TSerialPort port(main);
        port.SetCommPort(pty.slave);
        port.SetActive(true);
        const double worker0 = ThreadCpuSeconds("pom-serial");
        const auto t0 = Clock::now();
        main.PumpUntil([&] { return Clock::now() - t0 >= std::chrono::seconds(seconds); },
                       std::chrono::seconds(seconds + 1));
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        state.counters["worker_cpu_pct"] =
            100.0 * (ThreadCpuSeconds("pom-serial") - worker0) / wall;
    }
}
BENCHMARK(BM_IdleOpenPort)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The adapter pulled while the port is open: the worker must keep its turns
// (no spinning on the hung-up device) until the program closes the port.
void BM_PulledDevice(benchmark::State& state) {
    const int seconds = std::max(5, RunSeconds() / 3);
    for (auto _ : state) {
        auto pty = std::make_unique<Pty>();
        pom::QueuedDispatcher main;
        pom::TSerialPort port(main);
        int reports = 0;
        port.SetOnProcessError([&](pom::TSerialPort&, std::uint32_t, std::uint32_t,
                                   const std::string&, std::uint8_t) { ++reports; });
        port.SetCommPort(pty->slave);
        port.SetActive(true);
        pty.reset();
        const double worker0 = ThreadCpuSeconds("pom-serial");
        const auto t0 = Clock::now();
        main.PumpUntil([&] { return Clock::now() - t0 >= std::chrono::seconds(seconds); },
                       std::chrono::seconds(seconds + 1));
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        state.counters["worker_cpu_pct"] =
            100.0 * (ThreadCpuSeconds("pom-serial") - worker0) / wall;
        state.counters["reports"] = reports;
    }
}
BENCHMARK(BM_PulledDevice)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// The recording service under load: 1, 8 and 64 stations posting readings at
// once to an in-process recorder on 127.0.0.1, every reply sent after a
// durable commit (SQLite: WAL, synchronous=FULL; MariaDB: InnoDB's default
// log flush at each commit), on both stores. Reported: posts per second and
// the reply times.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/MariaDbServer.h"
#include "tools/recorder/RecorderServer.h"
#include "tools/recorder/RecorderStore.h"

namespace {

constexpr int kPostsPerClient = 250;

// A scratch folder on the disk the system's temporary files use, removed at the end.
struct Scratch {
    Scratch() {
        char tmpl[] = "/tmp/recorder-bench-XXXXXX";
        if (mkdtemp(tmpl) != nullptr) path = tmpl;
    }
    ~Scratch() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

std::string Stamp(long n) {
    // One reading a minute from 2023-01-01 on.
    const long day = n / 1440, minute = n % 1440;
    char buf[64];
    std::snprintf(buf, sizeof buf, "2023-%02ld-%02ld %02ld:%02ld:00", 1 + day / 28, 1 + day % 28,
                  minute / 60, minute % 60);
    return buf;
}

// The store a run posts into: the SQLite file, or a database in a private
// mariadbd (started once, from the tests' support), both committing durably.
std::unique_ptr<pom::recorder::Store> OpenBenchStore(bool maria, const Scratch& scratch,
                                                     std::string* why) {
    if (!maria)
        return std::make_unique<pom::recorder::SqliteStore>(scratch.path + "/pomiary.sqlite");
    auto* server = pom::test::MariaDbServer::Shared(why);
    if (!server) return nullptr;
    return pom::recorder::OpenStore(server->NewDatabase());
}

void BM_ParallelPosts(benchmark::State& state) {
    const int clients = static_cast<int>(state.range(0));
    const bool maria = state.range(1) != 0;
    state.SetLabel(maria ? "MariaDB" : "SQLite");
    Scratch scratch;
    std::string why;
    const auto store = OpenBenchStore(maria, scratch, &why);
    if (!store) {
        state.SkipWithError(why.c_str());
        return;
    }
    pom::recorder::Server server(*store, {"127.0.0.1", 0, "", 16});
    std::string error;
    const int port = server.Start(&error);
    if (port < 0) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<double> latencies;
    long next = 0;
    std::atomic<int> failures{0};
    for (auto _ : state) {
        std::vector<std::vector<double>> perClient(static_cast<std::size_t>(clients));
        std::vector<std::thread> threads;
        const long base = next;
        for (int c = 0; c < clients; ++c)
            threads.emplace_back([&, c] {
                // The uploader's client opens a connection per post (HTTP/1.0).
                httplib::Client cli("127.0.0.1", port);
                const std::string table = "stacja" + std::to_string(c);
                auto& lat = perClient[static_cast<std::size_t>(c)];
                for (int i = 0; i < kPostsPerClient; ++i) {
                    httplib::MultipartFormDataItems items = {
                        {"Miasto", table, "", ""},
                        {"Data", Stamp(base + i), "", ""},
                        {"Sonda0", std::to_string(20.0 + i % 50 * 0.1), "", ""},
                        {"Sonda1", "1013.25", "", ""},
                        {"Sonda2", "-888", "", ""},
                        {"Sonda3", "3.3", "", ""}};
                    const auto t0 = std::chrono::steady_clock::now();
                    const auto r = cli.Post("/Zapisz2Pomiary.php", items);
                    lat.push_back(std::chrono::duration<double, std::milli>(
                                      std::chrono::steady_clock::now() - t0)
                                      .count());
                    if (!r || r->body.find("Result=Ok") == std::string::npos) ++failures;
                }
            });
        for (auto& t : threads) t.join();
        next += kPostsPerClient;
        for (auto& l : perClient) latencies.insert(latencies.end(), l.begin(), l.end());
    }
    std::sort(latencies.begin(), latencies.end());
    const auto pct = [&](double p) {
        return latencies.empty()
                   ? 0.0
                   : latencies[std::min(latencies.size() - 1,
                                        static_cast<std::size_t>(p * latencies.size()))];
    };
    const auto posts = static_cast<double>(latencies.size());
    state.SetItemsProcessed(static_cast<std::int64_t>(posts));
    state.counters["posts_per_s"] = benchmark::Counter(posts, benchmark::Counter::kIsRate);
    state.counters["p50_ms"] = pct(0.50);
    state.counters["p99_ms"] = pct(0.99);
    state.counters["max_ms"] = latencies.empty() ? 0.0 : latencies.back();
    state.counters["failed"] = failures.load();
}
BENCHMARK(BM_ParallelPosts)
    ->ArgNames({"clients", "mariadb"})
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({64, 0})
    ->Args({1, 1})
    ->Args({8, 1})
    ->Args({64, 1})
    ->Iterations(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

std::string Plus(std::string s) {
    std::replace(s.begin(), s.end(), ' ', '+');
    return s;
}

// 1 000 requests one after another, on one kept-alive connection or each on
// a fresh one: a reply held back by Nagle against the client's delayed ACK
// shows as ~40 ms a request on the kept-alive one.
void BM_OneClientInTurn(benchmark::State& state) {
    const bool page = state.range(0) != 0;
    const bool keepAlive = state.range(1) != 0;
    constexpr int kRequests = 1000;
    Scratch scratch;
    pom::recorder::SqliteStore store(scratch.path + "/pomiary.sqlite");
    pom::recorder::Server server(store, {"127.0.0.1", 0, "", 16});
    std::string error;
    const int port = server.Start(&error);
    if (port < 0) {
        state.SkipWithError(error.c_str());
        return;
    }
    long next = 0;
    int failures = 0;
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        httplib::Client cli("127.0.0.1", port);
        cli.set_keep_alive(keepAlive);
        for (int i = 0; i < kRequests; ++i) {
            const auto r = page ? cli.Get("/")
                                : cli.Post("/Zapisz2Pomiary.php",
                                           "Miasto=jedna&Sonda0=21.5&Data=" + Plus(Stamp(next++)),
                                           "application/x-www-form-urlencoded");
            if (!r || r->status != 200) ++failures;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    const auto requests = static_cast<double>(state.iterations() * kRequests);
    state.SetItemsProcessed(state.iterations() * kRequests);
    state.counters["ms_per_request"] = seconds * 1000.0 / requests;
    state.counters["failed"] = failures;
}
BENCHMARK(BM_OneClientInTurn)
    ->ArgNames({"page", "keep_alive"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

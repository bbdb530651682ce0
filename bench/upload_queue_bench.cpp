// The unsent-records file under a long backlog: what queueing one reading
// costs (written and flushed to the disk before it returns), and what one
// coalesced rewrite after removals costs, with 100 000 entries queued.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "web/UploadQueue.h"

namespace {

constexpr int kBacklog = 100000;

std::string Entry(int i) {
    return "2023-05-01 12:" + std::to_string(10 + i % 50) + ":00 21.5; 22.25; -888; 3.3; " +
           std::to_string(i) + "; ";
}

// A queue of kBacklog entries in a fresh folder under /tmp.
struct Backlog {
    Backlog() {
        char tmpl[] = "/tmp/pomiarnik-queue-bench-XXXXXX";
        dir = ::mkdtemp(tmpl);
        std::string text;
        for (int i = 0; i < kBacklog; ++i) text += Entry(i) + "\r\n";
        std::ofstream(dir + "/niewyslane.txt", std::ios::binary) << text;
        queue.Load(dir + "/niewyslane.txt");
    }
    ~Backlog() { std::filesystem::remove_all(dir); }
    std::string dir;
    pom::UploadQueue queue;
};

// Every append is on disk when it returns; its cost does not depend on the
// backlog's length.
void BM_QueueOneEntry(benchmark::State& state) {
    static Backlog b;
    int i = kBacklog;
    for (auto _ : state) b.queue.Append(Entry(i++));
}
BENCHMARK(BM_QueueOneEntry)->Unit(benchmark::kMicrosecond);

// One rewrite of the whole file after a removal (at most one every few
// seconds while a backlog drains, and at the end of a run).
void BM_RemovalRewrite(benchmark::State& state) {
    static Backlog b;
    int i = kBacklog;
    for (auto _ : state) {
        state.PauseTiming();
        b.queue.Append(Entry(i++));
        b.queue.PopFront();
        state.ResumeTiming();
        b.queue.Flush();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(b.queue.Text().size()));
}
BENCHMARK(BM_RemovalRewrite)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Weeks unattended against a server that answers every post with a large
// error page: 1 000 failed posts of one entry, each answered by a 1 MB
// "500" page, through the real HTTP client, sender thread and uploader, with
// every report going into a memo capped as the "POST" page's is. The process's
// resident memory must end within a few MB of where it started.
//
// Figures: rss_start_MB (before the first post), rss_warm_MB (after the first
// 10, once the reply buffers exist), rss_memo_full_MB (when the memo first
// holds its most lines), rss_end_MB, growth_MB (end - warm),
// growth_after_full_MB, memo_blocks and report_bytes (the longest report line).
#include <QApplication>
#include <QPlainTextEdit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "app/ui/LogMemo.h"
#include "serial/QueuedDispatcher.h"
#include "tests/support/RawHttpServer.h"
#include "util/Cp1250.h"
#include "web/HttpPoster.h"
#include "web/THttpClient.h"
#include "web/Uploader.h"

namespace {

constexpr int kPosts = 1000;
constexpr int kWarmPosts = 10;
constexpr std::size_t kPageBytes = 1u << 20;
// However slow the machine, the soak ends.
constexpr auto kTimeLimit = std::chrono::minutes(5);

double RssMB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            status >> kb;
            return kb / 1024.0;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

// A 1 MB error page of HTML lines, such as a misconfigured server sends.
std::string ErrorPage() {
    std::string page = "<html><head><title>500 Internal Server Error</title></head><body>\n";
    while (page.size() < kPageBytes)
        page += "<p>Fatal error: Uncaught exception in /var/www/Zapisz2Pomiary.php:42</p>\n";
    page.resize(kPageBytes);
    return page;
}

// The window's side, as it is for the upload: the capped memo, the rest inert.
class SoakHost final : public pom::UploadHost {
public:
    explicit SoakHost(std::string address) : address_(std::move(address)) {
        memo.setMaximumBlockCount(pom::kWebMemoBlocks);
    }
    std::string Stamp() override { return "2026-12-08 12:00:00 "; }
    void AppendWeb(const std::string& line) override {
        longest = std::max(longest, line.size());
        memo.appendPlainText(QString::fromStdString(pom::Cp1250ToUtf8(line)));
    }
    void SetStatusText(const std::string&) override {}
    bool UploadChecked() const override { return true; }
    void SetUploadTimerEnabled(bool) override {}
    void SetUploadTimerInterval(int) override {}
    int MeasureInterval() const override { return 10; }
    std::string UploadTable() const override { return "soak"; }
    std::string UploadAddress() const override { return address_; }
    void PeriodicSave() override {}
    void StoreLastSent(const std::string&) override {}

    QPlainTextEdit memo;
    std::size_t longest = 0;

private:
    std::string address_;
};

void BM_FailedPostsWithLargeReplies(benchmark::State& state) {
    pom::test::RawHttpServer server(pom::test::RawHttpServer::Canned(
        "HTTP/1.0 500 Internal Server Error\r\nContent-Type: text/html\r\nContent-Length: " +
        std::to_string(kPageBytes) + "\r\n\r\n" + ErrorPage()));
    server.SetKeepRequests(false);  // the client's memory is measured, not the server's
    pom::QueuedDispatcher main;
    SoakHost host(server.url("/Zapisz2Pomiary.php"));
    pom::UploadQueue queue;
    pom::THttpClient client;
    client.SetTimeout(30);
    pom::Uploader* uploader = nullptr;
    pom::WWyslac sender(
        main,
        [&](const pom::UploadRecord& r, const std::atomic<bool>& cancel) {
            client.SetCancelFlag(&cancel);
            return pom::PostRecordWith(client, r);
        },
        [&](const std::string& line, bool ok, pom::WWyslac::Kind kind) {
            uploader->onMeldunek(line, ok, kind);
        },
        [] { return std::string("2026-12-08 12:00:01 "); });
    pom::Uploader up(host, queue, sender);
    uploader = &up;
    up.Append("2026-12-08 11:55:00 21.5; 1013.2; -888; 3.3; ");

    double start = 0, warm = 0, full = 0, end = 0;
    int posts = 0;
    for (auto _ : state) {
        start = RssMB();
        const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
        for (posts = 0; posts < kPosts && std::chrono::steady_clock::now() < deadline; ++posts) {
            up.Timer4WWWTimer();
            if (!main.PumpUntil([&] { return sender.Idle(); }, std::chrono::seconds(60))) break;
            // The window's event loop turns between posts.
            QCoreApplication::processEvents();
            if (posts + 1 == kWarmPosts) warm = RssMB();
            if (full == 0 && host.memo.document()->blockCount() >= pom::kWebMemoBlocks)
                full = RssMB();
        }
        end = RssMB();
    }
    if (posts < kPosts) state.SkipWithError("the soak did not finish in time");
    if (queue.Size() != 1) state.SkipWithError("a failed post removed the entry");
    state.counters["posts"] = posts;
    state.counters["rss_start_MB"] = start;
    state.counters["rss_warm_MB"] = warm;
    state.counters["rss_end_MB"] = end;
    state.counters["rss_memo_full_MB"] = full;
    state.counters["growth_MB"] = end - warm;
    state.counters["growth_after_full_MB"] = end - full;
    state.counters["memo_blocks"] = host.memo.document()->blockCount();
    state.counters["report_bytes"] = static_cast<double>(host.longest);
    std::printf(
        "upload soak: %d failed posts of a %zu-byte page: RSS %.1f MB at start, %.1f MB "
        "after %d, %.1f MB when the memo was full, %.1f MB at the end; memo %d blocks; "
        "longest report %zu bytes\n",
        posts, kPageBytes, start, warm, kWarmPosts, full, end, host.memo.document()->blockCount(),
        host.longest);
}
BENCHMARK(BM_FailedPostsWithLargeReplies)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

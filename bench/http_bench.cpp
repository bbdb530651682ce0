// The HTTP client's response decoding on a large reply: gzip inflate in
// 16 KB steps, UTF-8 to Windows-1250, the split into lines; and the largest
// gzip bomb the client meets, which must stop at its inflate limit.

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <string>

#include "web/HttpDecode.h"

namespace {

// About 1 MB of reply lines with Polish letters (UTF-8).
std::string ReplyText() {
    std::string s;
    char line[128];
    for (int n = 0; s.size() < (1u << 20); ++n) {
        std::snprintf(line, sizeof line, "2023-05-01 12:%02d:%02d zażółć %d.%d Result=Ok\r\n",
                      (n / 60) % 60, n % 60, n % 40, n % 10);
        s += line;
    }
    return s;
}

std::string Gzip(const std::string& in) {
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, in.size()) + 64, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

void BM_DecodeGzipUtf8Reply(benchmark::State& state) {
    const std::string text = ReplyText();
    const std::string body = Gzip(text);
    const std::string headers = "HTTP/1.0 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n";
    for (auto _ : state) {
        const std::string decoded = pom::http::DecodeBody(body);
        const auto lines = pom::http::SplitLines(pom::http::BodyToText(decoded, headers));
        benchmark::DoNotOptimize(lines.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodeGzipUtf8Reply)->Unit(benchmark::kMillisecond);

void BM_GzipBombStopsAtLimit(benchmark::State& state) {
    // 16 MB of zeros per copy compresses to ~16 KB; enough copies pass the limit.
    const std::string zeros(16u << 20, '\0');
    std::string bomb = Gzip(zeros + zeros);
    for (auto _ : state) {
        bool tooLarge = false;
        benchmark::DoNotOptimize(pom::http::DecodeBody(bomb, pom::http::kMaxDecoded, &tooLarge));
        if (!tooLarge) state.SkipWithError("bomb not stopped");
    }
}
BENCHMARK(BM_GzipBombStopsAtLimit)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Data log and settings costs at the sizes the program meets: the 36 000-line
// test fill, its save and read-back, and one settings read.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "app/logic/DataLog.h"
#include "util/FileUtil.h"
#include "util/IniFile.h"

namespace {

constexpr int kLines = 36000;
const std::string kLine = "2023-05-01 12:00:00 R:2023-05-01 11:59:00;21.50;-888;3.30;1013.2;";

// A scratch folder, removed when the program ends.
struct Scratch {
    Scratch() {
        char tmpl[] = "/tmp/datalog-bench-XXXXXX";
        if (mkdtemp(tmpl) != nullptr) path = tmpl;
    }
    ~Scratch() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

const std::string& Folder() {
    static const Scratch scratch;
    return scratch.path;
}

pom::DataLog Filled() {
    pom::DataLog log;
    for (int i = 0; i < kLines; ++i) log.Append(kLine);
    return log;
}

void BM_Append36000(benchmark::State& state) {
    for (auto _ : state) {
        pom::DataLog log;
        for (int i = 0; i < kLines; ++i) log.Append(kLine);
        benchmark::DoNotOptimize(log.Count());
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_Append36000)->Unit(benchmark::kMillisecond);

void BM_Text36000(benchmark::State& state) {
    const pom::DataLog log = Filled();
    for (auto _ : state) benchmark::DoNotOptimize(log.Text());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(log.Text().size()));
}
BENCHMARK(BM_Text36000)->Unit(benchmark::kMillisecond);

void BM_SetText36000(benchmark::State& state) {
    const std::string text = Filled().Text();
    pom::DataLog log;
    for (auto _ : state) {
        log.SetText(text);
        benchmark::DoNotOptimize(log.Count());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_SetText36000)->Unit(benchmark::kMillisecond);

// Includes the fsync of the file and its folder, as every save does.
void BM_SaveToFile36000(benchmark::State& state) {
    const pom::DataLog log = Filled();
    const std::string path = Folder() + "/save.txt";
    for (auto _ : state) log.SaveToFile(path);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(log.Text().size()));
}
BENCHMARK(BM_SaveToFile36000)->Unit(benchmark::kMillisecond);

void BM_IniReadOneKey(benchmark::State& state) {
    const std::string path = Folder() + "/pomiarnik.ini";
    std::string text;
    for (const char* s :
         {"CONFIG", "Komunikacja", "Wykres", "Page", "Aktywne", "Legendy", "PostWWW", "MonitorT"}) {
        text += std::string("[") + s + "]\r\n";
        for (int k = 0; k < 8; ++k) text += "key" + std::to_string(k) + "=value\r\n";
    }
    pom::WriteFileAtomic(path, text);
    for (auto _ : state)
        benchmark::DoNotOptimize(pom::IniReadString(path, "MonitorT", "key7", "x"));
}
BENCHMARK(BM_IniReadOneKey)->Unit(benchmark::kMicrosecond);

void BM_IniWriteOneKey(benchmark::State& state) {
    const std::string path = Folder() + "/write.ini";
    int i = 0;
    for (auto _ : state) pom::IniWriteString(path, "CONFIG", "ileDoSredniej", std::to_string(++i));
}
BENCHMARK(BM_IniWriteOneKey)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

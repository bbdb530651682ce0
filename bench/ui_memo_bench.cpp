// The data log view with a long log: appending must cost the same per line
// whether the memo holds ten lines or a day and a test fill.
#include <QApplication>
#include <cstdlib>

#include <benchmark/benchmark.h>

#include "app/logic/DataLog.h"
#include "app/ui/LogMemo.h"

namespace {

const std::string kLine =
    "2023-05-01 12:00:00 A:2023-05-01 12:00:00 21.50 20.94 3.30 12.42 8.9 10.9 W4r:0";

// One reading at a time, each shown before the next arrives (the live case),
// into a memo that already holds `state.range(0)` lines.
void BM_AppendOneLinePerTurn(benchmark::State& state) {
    pom::DataLog log;
    pom::LogMemo memo;
    memo.resize(800, 600);
    memo.Attach(&log);
    log.SetListener(&memo);
    for (int64_t i = 0; i < state.range(0); ++i) log.Append(kLine);
    memo.FlushPending();
    for (auto _ : state) {
        log.Append(kLine);
        memo.FlushPending();
    }
    state.SetItemsProcessed(state.iterations());
    log.SetListener(nullptr);
}
BENCHMARK(BM_AppendOneLinePerTurn)->Arg(10)->Arg(8640)->Arg(44640)->Unit(benchmark::kMicrosecond);

// The test fill: 36 000 lines in one turn.
void BM_TestFill36000(benchmark::State& state) {
    for (auto _ : state) {
        pom::DataLog log;
        pom::LogMemo memo;
        memo.Attach(&log);
        log.SetListener(&memo);
        for (int i = 0; i < 36000; ++i) log.Append("test bufor: 255,255,255,255,35,0, -> -0.1 3.5");
        memo.FlushPending();
        log.SetListener(nullptr);
    }
}
BENCHMARK(BM_TestFill36000)->Unit(benchmark::kMillisecond);

}  // namespace

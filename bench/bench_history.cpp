// Adding history messages of 60 bytes with a recording UI and a session log
// on disk: messages per second (CPU time), and bytes of memory per message
// held by the history's store (allocated capacity, spare room included) and,
// for comparison, by the recording view's copy of the text; at two sizes to
// show the growth is linear.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "bench_ui.h"
#include "history/history.h"

namespace {

void BM_HistoryAdd(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string msg(60, 'm');
    std::string log = (std::filesystem::temp_directory_path() / "kordo-bench-history.log").string();
    double storeBytes = 0, viewBytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        BenchUi ui;
        historyReset();
        std::remove(log.c_str());
        historyOpenLog(log, "Log started");
        state.ResumeTiming();

        for (int i = 0; i < n; ++i) historyAdd(msg, 0);

        state.PauseTiming();
        storeBytes = static_cast<double>(historyCounts().storeBytes);
        viewBytes = static_cast<double>(ui.history.capacity());
        historyCloseLog();
        historyReset();
        state.ResumeTiming();
    }
    std::remove(log.c_str());
    state.counters["msgs/s"] = benchmark::Counter(static_cast<double>(n) * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate);
    state.counters["store_B/msg"] = storeBytes / n;
    state.counters["view_B/msg"] = viewBytes / n;
}
BENCHMARK(BM_HistoryAdd)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

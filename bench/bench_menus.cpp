// Opening a 1,000-item menu: parse, push on the stack, refill the list
// through a recording UI and announce the selected item.
#include <benchmark/benchmark.h>

#include "bench_ui.h"
#include "menu/audiomenu.h"
#include "menu/menus.h"

namespace {

std::string bigMenu(int n) {
    std::string s = "42|1|" + std::to_string(n) + "|500|0|0";
    for (int i = 0; i < n; ++i)
        s += "|Objet num\xE9ro " + std::to_string(i) + "|valeur" + std::to_string(i) + "|menuitem 0.8 0 0|img";
    return s;
}

void BM_ParseMenu(benchmark::State& state) {
    std::string text = bigMenu(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(menu_create(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseMenu)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_OpenMenu(benchmark::State& state) {
    BenchUi ui;
    std::string text = bigMenu(static_cast<int>(state.range(0)));
    menuReset();
    for (auto _ : state) {
        menuOpen(text);
        state.PauseTiming();
        menuReset();
        state.ResumeTiming();
    }
    if (ui.list.size() != static_cast<size_t>(state.range(0))) state.SkipWithError("list not filled");
}
BENCHMARK(BM_OpenMenu)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

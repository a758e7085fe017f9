// Download of a file over loopback from an in-process HTTP server: MB/s
// (bytes_per_second) and the process's peak resident memory (VmHWM) after
// each size.  The body streams to the temporary file, so the peak does not
// grow with the file: compare the 2 MB, 20 MB and 80 MB rows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "files/download.h"
#include "unit/files/http_test_server.h"

namespace {
double peakRssMB() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

void BM_Download(benchmark::State& state) {
    const int64_t size = state.range(0) << 20;
    HttpTestServer server;
    server.setReply({"HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n", size});
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kordo-bench-download";
    std::filesystem::create_directories(dir);
    const DownloadEndpoint ep{"127.0.0.1", server.port(), "/autodl", 30000};
    for (auto _ : state) {
        if (downloadFileFrom(ep, dir.string() + "/", "music/big.ogg") != DownloadResult::Written)
            state.SkipWithError("download failed");
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["file_MB"] = static_cast<double>(state.range(0));
    state.counters["peak_rss_MB"] = peakRssMB();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_Download)->Arg(2)->Arg(20)->Arg(80)->Unit(benchmark::kMillisecond)->UseRealTime();
}  // namespace

BENCHMARK_MAIN();

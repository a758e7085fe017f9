// Receive path throughput: the line splitter plus the command table in
// memory (against a bare memchr split of the same buffer), and the whole
// receive thread over loopback TCP.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <random>
#include <string>
#include <vector>

#include "net/agc.h"
#include "net/login.h"
#include "net/line_buffer.h"
#include "net/protocol.h"
#include "support/script_server.h"

namespace {
// Lines of 40 to 80 bytes with a mix of keywords (half of them unknown).
std::string mixedStream(size_t lines, bool unknownOnly) {
    static const char* kinds[] = {"say ", "play ", "menu ", "uitem ", "movem 1|2", "chat ",
                                  "xyz ", "info "};
    std::mt19937 rng(42);
    std::string out;
    out.reserve(lines * 61);
    for (size_t i = 0; i < lines; ++i) {
        std::string line = unknownOnly ? "event " : kinds[rng() % 8];
        size_t len = 40 + rng() % 41;
        while (line.size() < len) line += static_cast<char>('a' + rng() % 26);
        out += line;
        out += '\n';
    }
    return out;
}

size_t dispatchedItems = 0;
void countHandler(const ParsedCommand& c) {
    dispatchedItems += c.payload.size() != 0;
}

// The dispatcher's handle for the in-memory runs: no "status " or
// "challenge" line is in the stream, so it is never touched.
AGCHandle memoryHandle;

// Every row's handler is countHandler, as the client installs one per row.
void installCountHandlers() {
    for (int i = 0; i < static_cast<int>(ServerCommand::Count); ++i)
        agc_setHandler(static_cast<ServerCommand>(i), countHandler);
}

// Runs `stream` through the splitter and the dispatcher (the command table,
// then the row's handler) in 64 KiB receives.  With `splitSeconds`, adds the
// time spent splitting and dispatching only, without the copies that stand
// for recv() writing into the buffer.
size_t splitAndDispatch(LineBuffer& lb, const std::string& stream, double* splitSeconds = nullptr) {
    size_t n = 0, pos = 0;
    while (pos < stream.size()) {
        size_t k = std::min<size_t>({stream.size() - pos, lb.writeSpace(), 65536});
        std::memcpy(lb.writePtr(), stream.data() + pos, k);
        pos += k;
        auto t0 = std::chrono::steady_clock::now();
        lb.commit(k, [&](std::string_view line) {
            agc_recv(&memoryHandle, line);
            ++n;
        });
        if (splitSeconds)
            *splitSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    return n;
}

size_t memchrSplit(std::string& stream) {
    size_t n = 0;
    char* p = stream.data();
    char* end = p + stream.size();
    while (char* nl = static_cast<char*>(std::memchr(p, '\n', end - p))) {
        benchmark::DoNotOptimize(p);
        p = nl + 1;
        ++n;
    }
    return n;
}

// The same bare split fed through the same receive-sized copies into a
// fixed buffer, carrying the unfinished line over: what a receive loop that
// only finds lines costs.
size_t memchrSplitReceived(std::vector<char>& buf, const std::string& stream) {
    size_t n = 0, pos = 0, held = 0;
    while (pos < stream.size()) {
        size_t k = std::min<size_t>({stream.size() - pos, buf.size() - 1 - held, 65536});
        std::memcpy(buf.data() + held, stream.data() + pos, k);
        pos += k;
        char* p = buf.data();
        char* end = p + held + k;
        while (char* nl = static_cast<char*>(std::memchr(p, '\n', end - p))) {
            benchmark::DoNotOptimize(p);
            p = nl + 1;
            ++n;
        }
        held = static_cast<size_t>(end - p);
        std::memmove(buf.data(), p, held);
    }
    return n;
}

const size_t kLines = 200000;

void BM_SplitAndDispatch(benchmark::State& state) {
    installCountHandlers();
    std::string stream = mixedStream(kLines, false);
    LineBuffer lb;
    for (auto _ : state) benchmark::DoNotOptimize(splitAndDispatch(lb, stream));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kLines));
}
BENCHMARK(BM_SplitAndDispatch)->Unit(benchmark::kMillisecond);

void BM_BareMemchrSplit(benchmark::State& state) {
    std::string stream = mixedStream(kLines, false);
    for (auto _ : state) benchmark::DoNotOptimize(memchrSplit(stream));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kLines));
}
BENCHMARK(BM_BareMemchrSplit)->Unit(benchmark::kMillisecond);

// First byte sent to the "pong" that answers a final "ping".
double loopbackIngestSeconds(const std::string& payload) {
    ScriptServer server;
    auto r = std::async(std::launch::async,
                        [&] { return loginConnect("127.0.0.1", server.port(), "b", "b"); });
    auto conn = server.acceptLogin(1);
    if (r.get() != 1) return -1;
    auto t0 = std::chrono::steady_clock::now();
    conn->send(payload);
    auto pong = conn->readLine(30000);
    auto t1 = std::chrono::steady_clock::now();
    if (pong != "pong") return -1;
    agc_close(agc_current(), true);
    return std::chrono::duration<double>(t1 - t0).count();
}

void BM_LoopbackIngest(benchmark::State& state) {
    agc_init();
    for (int i = 0; i < static_cast<int>(ServerCommand::Count); ++i)
        agc_setHandler(static_cast<ServerCommand>(i), nullptr);
    std::string payload = mixedStream(kLines, true) + "ping\n";
    for (auto _ : state) {
        double s = loopbackIngestSeconds(payload);
        if (s < 0) {
            state.SkipWithError("no pong");
            break;
        }
        state.SetIterationTime(s);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kLines));
    agc_deinit();
}
BENCHMARK(BM_LoopbackIngest)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // The ratio the receive path is judged by, measured in this same run.
    installCountHandlers();
    std::string stream = mixedStream(kLines, false);
    LineBuffer lb;
    auto best = [](auto&& fn) {
        double b = 1e9;
        for (int i = 0; i < 20; ++i) {
            auto t0 = std::chrono::steady_clock::now();
            fn();
            b = std::min(b, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0)
                                .count());
        }
        return b;
    };
    double split = best([&] { benchmark::DoNotOptimize(splitAndDispatch(lb, stream)); });
    double splitOnly = 1e9;
    for (int i = 0; i < 20; ++i) {
        double t = 0;
        benchmark::DoNotOptimize(splitAndDispatch(lb, stream, &t));
        splitOnly = std::min(splitOnly, t);
    }
    double bare = best([&] { benchmark::DoNotOptimize(memchrSplit(stream)); });
    std::vector<char> buf(LineBuffer::kSize);
    double received = best([&] { benchmark::DoNotOptimize(memchrSplitReceived(buf, stream)); });
    std::printf("bare memchr split in place: %.1f M lines/s\n", kLines / bare / 1e6);
    std::printf("split+dispatch of the bytes in the buffer (receive copies not timed): %.1f M lines/s; "
                "ratio to the bare split %.2f\n",
                kLines / splitOnly / 1e6, bare / splitOnly);
    std::printf("split+dispatch with the receive copies: %.1f M lines/s; ratio to a bare split through "
                "the same copies (%.1f M lines/s) %.2f\n",
                kLines / split / 1e6, kLines / received / 1e6, received / split);
    return 0;
}

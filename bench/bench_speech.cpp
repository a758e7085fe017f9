// Speech latency against a private speech-dispatcher whose output module
// does nothing (so the figures are the client's and the daemon's share, not a
// synthesiser's), over a warm connection, one message at a time.  Two
// figures, median and p99 in milliseconds:
//   - socket: from a "sayi " line sent by a loopback server to Speech
//     Dispatcher's "begin" event for it.  The line goes the client's whole
//     way: the receive thread and its line splitter, the dispatch table,
//     historyAdd and its hand-over to a UI thread, sayString, the back-end;
//   - sayString: from the sayString() call to the "begin" event.
//
//   build/bench/bench_speech [messages]      (default 300 per figure)
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/dispatch.h"
#include "net/agc.h"
#include "net/login.h"
#include "platform/speech_backend.h"
#include "platform/ui.h"
#include "platform/ui_queue.h"
#include "speech/spd/spd_speech.h"
#include "speech/speech.h"
#include "support/script_server.h"
#include "bench_ui.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {
std::mutex mu;
std::condition_variable cv;
bool begun = false, ended = false;
Clock::time_point beginAt;

// Runs `send` for 20 warm-up messages, then `count` measured ones, each
// after the previous one's begin and end events; returns the latencies from
// the send to the begin event, in ms (fewer when an event did not come).
std::vector<double> measure(int count, const std::function<void(int)>& send) {
    std::vector<double> ms;
    for (int i = -20; i < count; ++i) {
        {
            std::lock_guard<std::mutex> lock(mu);
            begun = ended = false;
        }
        Clock::time_point sent = Clock::now();
        send(i);
        std::unique_lock<std::mutex> lock(mu);
        if (!cv.wait_for(lock, std::chrono::seconds(5), [] { return begun && ended; })) {
            std::fprintf(stderr, "no event for message %d\n", i);
            break;
        }
        if (i >= 0) ms.push_back(std::chrono::duration<double, std::milli>(beginAt - sent).count());
    }
    return ms;
}

void report(const char* what, std::vector<double> ms) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) { return ms[std::min(ms.size() - 1, size_t(q * ms.size()))]; };
    std::printf("%s, %zu messages: median %.2f ms, p99 %.2f ms, max %.2f ms\n", what, ms.size(),
                at(0.5), at(0.99), ms.back());
}

// The "sayi " figure: the client logged in to a loopback server, which sends
// each line whole in one write.
std::vector<double> measureFromSocket(int count) {
    ThreadUi ui;
    agc_init();
    registerServerCommands();
    std::vector<double> ms;
    {
        ScriptServer server;
        auto login = std::async(std::launch::async, [&] {
            return loginConnect("127.0.0.1", server.port(), "bench", "bench");
        });
        std::unique_ptr<ServerConn> conn = server.acceptLogin(1);
        if (login.get() != 1 || !conn) {
            std::fprintf(stderr, "the client did not log in\n");
        } else {
            ms = measure(count,
                         [&](int i) { conn->send("sayi message " + std::to_string(i) + "\n"); });
            agc_close(agc_current(), true);
        }
    }
    agc_deinit();
    return ms;
}
}  // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 300;
    char tmpl[] = "/tmp/kordo-bench-spd-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    std::string dir = tmpl;
    std::ofstream(dir + "/null.conf") << "GenericExecuteSynth \"true\"\n"
                                      << "GenericLanguage \"fr\" \"fr\" \"utf-8\"\n"
                                      << "AddVoice \"fr\" \"MALE1\" \"null\"\n";
    std::ofstream(dir + "/speechd.conf")
        << "AddModule \"null\" \"sd_generic\" \"" << dir << "/null.conf\"\nDefaultModule null\n"
        << "DefaultLanguage \"fr\"\nAudioOutputMethod \"libao\"\n";
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    setenv("SPEECHD_ADDRESS", ("unix_socket:" + dir + "/sock").c_str(), 1);
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // no idle timeout: go with the benchmark
        if (!freopen((dir + "/daemon.log").c_str(), "a", stdout)) _exit(127);
        dup2(1, 2);
        execl("/usr/bin/speech-dispatcher", "speech-dispatcher", "-s", "-t", "0", "-C", dir.c_str(),
              "-S", (dir + "/sock").c_str(), "-P", (dir + "/pid").c_str(), (char*)nullptr);
        _exit(127);
    }
    for (int i = 0; i < 500 && !fs::exists(dir + "/sock"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    spdSetEventObserver([](SpdEvent e, std::size_t) {
        std::lock_guard<std::mutex> lock(mu);
        if (e == SpdEvent::Begin) {
            beginAt = Clock::now();
            begun = true;
        } else {
            ended = true;
        }
        cv.notify_all();
    });
    std::unique_ptr<SpeechBackend> voice = spdOpenVoice();
    if (!voice) {
        std::fprintf(stderr, "speech-dispatcher could not be reached\n");
        kill(pid, SIGTERM);
        return 1;
    }
    selectSpeechBackend(kSpeechVoice, voice.get());
    sapiEnable(true);

    std::vector<double> fromSocket = measureFromSocket(count);
    std::vector<double> fromCall =
        measure(count, [](int i) { sayString("message " + std::to_string(i), false); });
    selectSpeechBackend(kSpeechNone, nullptr);
    voice.reset();
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    fs::remove_all(dir);
    report("\"sayi \" line on the socket -> begin event", fromSocket);
    report("sayString -> begin event", fromCall);
    return fromSocket.empty() || fromCall.empty() ? 1 : 0;
}

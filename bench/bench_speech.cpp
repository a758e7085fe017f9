// Latency from sayString() to Speech Dispatcher's "begin" event for that
// message, over a warm connection, against a private speech-dispatcher whose
// output module does nothing (so the figure is the client's and the daemon's
// share, not a synthesiser's).  Prints median and p99 in milliseconds.
//
//   build/bench/bench_speech [messages]      (default 300)
#include <signal.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/speech_backend.h"
#include "speech/spd/spd_speech.h"
#include "speech/speech.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {
std::mutex mu;
std::condition_variable cv;
bool begun = false, ended = false;
Clock::time_point beginAt;
}  // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 300;
    char tmpl[] = "/tmp/kordo-bench-spd-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    std::string dir = tmpl;
    std::ofstream(dir + "/null.conf") << "GenericExecuteSynth \"true\"\n"
                                      << "GenericLanguage \"fr\" \"fr\" \"utf-8\"\n"
                                      << "AddVoice \"fr\" \"MALE1\" \"null\"\n";
    std::ofstream(dir + "/speechd.conf") << "AddModule \"null\" \"sd_generic\" \"" << dir
                                         << "/null.conf\"\nDefaultModule null\n"
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

    std::vector<double> ms;
    for (int i = -20; i < count; ++i) {  // the first 20 warm the connection
        {
            std::lock_guard<std::mutex> lock(mu);
            begun = ended = false;
        }
        Clock::time_point sent = Clock::now();
        sayString("message " + std::to_string(i), false);
        std::unique_lock<std::mutex> lock(mu);
        if (!cv.wait_for(lock, std::chrono::seconds(5), [] { return begun && ended; })) {
            std::fprintf(stderr, "no event for message %d\n", i);
            break;
        }
        if (i >= 0) ms.push_back(std::chrono::duration<double, std::milli>(beginAt - sent).count());
    }
    selectSpeechBackend(kSpeechNone, nullptr);
    voice.reset();
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    fs::remove_all(dir);
    if (ms.empty()) return 1;
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) { return ms[std::min(ms.size() - 1, size_t(q * ms.size()))]; };
    std::printf("sayString -> begin event, %zu messages: median %.2f ms, p99 %.2f ms, max %.2f ms\n",
                ms.size(), at(0.5), at(0.99), ms.back());
    return 0;
}

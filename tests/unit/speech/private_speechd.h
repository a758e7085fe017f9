// A private speech-dispatcher for the speech tests: its only output module is
// an sd_generic recorder that appends every message it would speak, with the
// rate it would use, to a file ("RATE|TEXT" per line, UTF-8; RATE is the
// service's -100..100 scale printed as "%.2f").  Each message also takes
// 100 ms, so a queue is still pending when a test interrupts it.
//
// Everything lives in one temporary folder that also serves as HOME,
// XDG_RUNTIME_DIR and XDG_CONFIG_HOME, so nothing of the user's is read or
// touched.  Header-only: shared by the library tests and the headless
// front-end test.  Not thread-safe; the test's main thread drives it.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace privspd {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Polls `done` every 20 ms for at most `limit`.
template <typename F>
bool waitFor(F done, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// Starts `argv` with stdout and stderr appended to `log`; returns the pid or
// -1.  The child gets SIGTERM when the test process dies, so a daemon with
// no idle timeout never outlives a crashed test.
inline pid_t spawn(const std::vector<std::string>& argv, const std::string& log) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    FILE* f = freopen(log.c_str(), "a", stdout);
    if (f) dup2(fileno(stdout), 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

// SIGTERM, then SIGKILL after 3 s; reaps the child and sets pid to -1.
inline void stop(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    bool gone = waitFor([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, 3000ms);
    if (!gone) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

// Runs `argv` to its end (bounded to 10 s); true when it exited with 0.
inline bool run(const std::vector<std::string>& argv, const std::string& log) {
    pid_t pid = spawn(argv, log);
    if (pid < 0) return false;
    int status = 0;
    if (!waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10000ms)) {
        stop(pid);
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Writes speechd.conf and the recorder's module configuration into
// `confDir`: the recorder is the default (and only) module and appends to
// `heardFile`.
inline void writeRecorderConfig(const std::string& confDir, const std::string& heardFile) {
    fs::create_directories(confDir);
    std::ofstream(confDir + "/recorder.conf")
        << "GenericExecuteSynth \"printf '%s|%s\\\\n' \\'$RATE\\' \\'$DATA\\' >> " << heardFile
        << " && sleep 0.1\"\n"
        << "GenericLanguage \"fr\" \"fr\" \"utf-8\"\n"
        << "AddVoice \"fr\" \"MALE1\" \"recorder\"\n";
    std::ofstream(confDir + "/speechd.conf")
        << "AddModule \"recorder\" \"sd_generic\" \"" << confDir << "/recorder.conf\"\n"
        << "DefaultModule recorder\n"
        << "DefaultLanguage \"fr\"\n"
        // The recorder plays nothing, but the module opens an output; libao
        // needs no sound server.
        << "AudioOutputMethod \"libao\"\n";
}

class PrivateSpeechd {
  public:
    std::string dir;         // the temporary folder
    std::string skipReason;  // why the daemon is not there; empty once it runs
    pid_t daemon = -1;

    std::string heardFile() const { return dir + "/heard.txt"; }
    std::string address() const { return "unix_socket:" + dir + "/sock"; }

    // Makes the folder, points HOME, XDG_RUNTIME_DIR, XDG_CONFIG_HOME and
    // SPEECHD_ADDRESS of this process (and so of its children) at it, points
    // the session bus at nothing (the accessibility property cannot say
    // "enabled"), and starts the daemon without an idle timeout.
    void start() {
        char tmpl[] = "/tmp/kordo-spd-XXXXXX";
        if (!mkdtemp(tmpl)) {
            skipReason = "no temporary folder";
            return;
        }
        dir = tmpl;
        writeRecorderConfig(dir, heardFile());
        setenv("HOME", dir.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir + "/no-bus").c_str(), 1);
        setenv("SPEECHD_ADDRESS", address().c_str(), 1);
        std::string exe = "/usr/bin/speech-dispatcher";
        if (!fs::exists(exe)) {
            skipReason = "speech-dispatcher is not installed";
            return;
        }
        daemon = spawn({exe, "-s", "-t", "0", "-C", dir, "-S", dir + "/sock", "-P", dir + "/pid"},
                       dir + "/daemon.log");
        bool up = waitFor(
            [&] {
                return fs::exists(dir + "/sock") || waitpid(daemon, nullptr, WNOHANG) == daemon;
            },
            10000ms);
        if (!up || !fs::exists(dir + "/sock")) {
            skipReason = "speech-dispatcher did not start (see " + dir + "/daemon.log)";
            privspd::stop(daemon);
        }
    }

    // Stops the daemon; the folder stays when something failed, for its logs.
    void stop(bool keepFolder) {
        privspd::stop(daemon);
        if (!dir.empty() && skipReason.empty() && !keepFolder) fs::remove_all(dir);
    }

    void forget() const { fs::remove(heardFile()); }

    std::vector<std::string> heard() const {
        std::ifstream in(heardFile());
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }

    // Waits until the recorder has `n` lines and nothing more arrives for
    // 400 ms (more than one message's time), then returns them.
    std::vector<std::string> heardSettled(size_t n) const {
        waitFor([&] { return heard().size() >= n; }, 10000ms);
        size_t last = heard().size();
        for (;;) {
            std::this_thread::sleep_for(400ms);
            size_t now = heard().size();
            if (now == last) break;
            last = now;
        }
        return heard();
    }

    // The texts of recorded lines, without their rates.
    static std::vector<std::string> texts(const std::vector<std::string>& lines) {
        std::vector<std::string> out;
        for (const std::string& l : lines) out.push_back(l.substr(l.find('|') + 1));
        return out;
    }
};

}  // namespace privspd

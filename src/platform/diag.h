// Diagnostics of the portable core: the few fixed lines a developer reads
// when something below the player's notice went wrong (the list refused an
// item, a download could not create its file).  The core never writes to a
// stream itself; it hands each line, "\r\n" included, to the sink its
// front-end installed.  kordo.exe writes them on its console (standard
// output); kordo-headless and the desktop client on standard error, since
// kordo-headless's standard output is its event stream.  With no sink the
// lines are dropped.
//
// Threads: diagLine may be called from any thread; the sink is installed at
// start-up, before other threads run, and must accept lines from any thread.
#pragma once

#include <cstdio>
#include <string_view>

struct DiagSink {
    virtual ~DiagSink() = default;
    virtual void line(std::string_view text) = 0;
};

// nullptr drops the lines.  The sink is not owned and must outlive its use.
void setDiagSink(DiagSink* sink);
void diagLine(std::string_view text);
// printf-style; the result is handed to diagLine whole, however long.
void diagf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// A sink writing each line to a C stream and flushing it, so a line is seen
// at once even when the process ends abruptly afterwards.
struct StreamDiagSink : DiagSink {
    explicit StreamDiagSink(std::FILE* f) : f_(f) {}
    void line(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), f_);
        std::fflush(f_);
    }

private:
    std::FILE* f_;
};

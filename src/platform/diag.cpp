#include "platform/diag.h"

#include <atomic>
#include <cstdarg>
#include <string>

namespace {
std::atomic<DiagSink*> sink{nullptr};
}

void setDiagSink(DiagSink* s) { sink = s; }

void diagLine(std::string_view text) {
    if (DiagSink* s = sink.load()) s->line(text);
}

void diagf(const char* fmt, ...) {
    if (!sink.load()) return;
    va_list ap;
    va_start(ap, fmt);
    va_list again;
    va_copy(again, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    if (n > 0) {
        std::string out(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(out.data(), out.size(), fmt, again);
        out.resize(static_cast<size_t>(n));
        diagLine(out);
    }
    va_end(again);
}

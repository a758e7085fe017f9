#include "net/stats.h"

#include <charconv>
#include <system_error>

namespace {
struct Rates {
    double kbPerSecond;
    int32_t bitsPerSecond;
    double kbTotal;
};

Rates rates(int32_t elapsed, int32_t bytes) {
    Rates r{0.0, 0, bytes / 1024.0};
    if (elapsed > 0) {
        r.kbPerSecond = bytes / static_cast<double>(elapsed) / 1024.0;
        // Signed 32-bit arithmetic as the text has always shown, computed
        // without overflow: bytes * 8 wraps the way the 32-bit product does.
        r.bitsPerSecond =
            static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint32_t>(bytes) * 8u)) /
            elapsed;
    }
    return r;
}

// "%.2f" with a "." decimal point whatever the C locale: the desktop
// front-end switches LC_NUMERIC to the player's, where it may be ",".
std::string fixed2(double x) {
    char buf[400];  // enough for any double in fixed notation
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, 2);
    if (ec != std::errc()) return "0.00";
    return std::string(buf, end);
}

// CP1252; "\xE9" ends its literal so that the letter after it is not read
// as part of the escape.
const char kInHead[] =
    "T\xE9l\xE9"
    "chargement: ";
const char kInTail[] =
    " Ko t\xE9l\xE9"
    "charg\xE9s au total).\r\n";
}  // namespace

std::string statsText(int32_t elapsed, int32_t received, int32_t sent) {
    auto line = [](const char* head, const Rates& r, const char* tail) {
        return head + fixed2(r.kbPerSecond) + " Ko/s (" + std::to_string(r.bitsPerSecond) +
               "bps) (" + fixed2(r.kbTotal) + tail;
    };
    return "Statistiques de connexion:\r\n" + line(kInHead, rates(elapsed, received), kInTail) +
           line("Envoi: ", rates(elapsed, sent), " Ko envoy\xE9s au total).\r\n");
}

#include "net/stats.h"

#include <cstdio>

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
        r.bitsPerSecond = static_cast<int32_t>(
            static_cast<uint32_t>(static_cast<uint32_t>(bytes) * 8u)) / elapsed;
    }
    return r;
}
}  // namespace

std::string statsText(int32_t elapsed, int32_t received, int32_t sent) {
    Rates in = rates(elapsed, received), out = rates(elapsed, sent);
    char buf[1024];
    std::snprintf(buf, sizeof buf,
                  "Statistiques de connexion:\r\nT\xE9l\xE9" "chargement: %.2f Ko/s (%dbps) "
                  "(%.2f Ko t\xE9l\xE9" "charg\xE9s au total).\r\nEnvoi: %.2f Ko/s (%dbps) "
                  "(%.2f Ko envoy\xE9s au total).\r\n",
                  in.kbPerSecond, in.bitsPerSecond, in.kbTotal, out.kbPerSecond,
                  out.bitsPerSecond, out.kbTotal);
    return buf;
}

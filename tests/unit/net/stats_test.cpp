#include <gtest/gtest.h>

#include <clocale>

#include "net/stats.h"
#include "support/comma_locale.h"

namespace {
// The text for the rate, bit rate and total of each direction.
std::string text(const char* inRate, const char* inBps, const char* inTotal, const char* outRate,
                 const char* outBps, const char* outTotal) {
    const std::string e = "\xE9";  // CP1252, apart so that no letter joins the escape
    return "Statistiques de connexion:\r\nT" + e + "l" + e + "chargement: " + inRate + " Ko/s (" +
           inBps + "bps) (" + inTotal + " Ko t" + e + "l" + e + "charg" + e +
           "s au total).\r\nEnvoi: " + outRate + " Ko/s (" + outBps + "bps) (" + outTotal +
           " Ko envoy" + e + "s au total).\r\n";
}

TEST(Statistics, TextAndFirstSecond) {
    struct Case {
        int32_t elapsed, received, sent;
        std::string expected;
    };
    const Case cases[] = {
        {10, 20480, 1024, text("2.00", "16384", "20.00", "0.10", "819", "1.00")},
        // Within the first second: rates of 0, totals still shown.
        {0, 2048, 512, text("0.00", "0", "2.00", "0.00", "0", "0.50")},
        // The bit rate is the 32-bit product bytes * 8, wrapped as it always
        // has been, then divided: 2^28 bytes give -2^31 bits.
        {1, 268435456, 0, text("262144.00", "-2147483648", "262144.00", "0.00", "0", "0.00")},
        {3, 300000000, 0, text("97656.25", "-631655765", "292968.75", "0.00", "0", "0.00")},
        // Just below the wrap.
        {1, 268435455, 0, text("262144.00", "2147483640", "262144.00", "0.00", "0", "0.00")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.received);
        EXPECT_EQ(statsText(c.elapsed, c.received, c.sent), c.expected);
    }
}

TEST(Statistics, DecimalPointIgnoresTheCLocale) {
    // The desktop front-end switches to the player's locale, whose decimal
    // point may be ",".
    if (!useCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma is installed";
    const std::string s = statsText(10, 20480, 1024);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(s, text("2.00", "16384", "20.00", "0.10", "819", "1.00"));
}
}  // namespace

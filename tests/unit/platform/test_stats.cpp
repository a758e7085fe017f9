#include <gtest/gtest.h>

#include "net/stats.h"

namespace {
TEST(Statistics, TextAndFirstSecond) {
    EXPECT_EQ(statsText(10, 20480, 1024),
              "Statistiques de connexion:\r\nT\xE9l\xE9" "chargement: 2.00 Ko/s (16384bps) (20.00 Ko "
              "t\xE9l\xE9" "charg\xE9s au total).\r\nEnvoi: 0.10 Ko/s (819bps) (1.00 Ko envoy\xE9s au "
              "total).\r\n");
    // Within the first second: rates of 0, totals still shown.
    EXPECT_EQ(statsText(0, 2048, 512),
              "Statistiques de connexion:\r\nT\xE9l\xE9" "chargement: 0.00 Ko/s (0bps) (2.00 Ko "
              "t\xE9l\xE9" "charg\xE9s au total).\r\nEnvoi: 0.00 Ko/s (0bps) (0.50 Ko envoy\xE9s au "
              "total).\r\n");
}
}  // namespace

#include <gtest/gtest.h>

#include "net/login.h"

namespace {
TEST(Challenge, WorkedExamples) {
    // Only the concatenation of challenge, login and password matters.
    EXPECT_EQ(doChallenge("abc", "", ""), 1078531u);
    EXPECT_EQ(toBase36(doChallenge("abc", "", "")), "n477");
    EXPECT_EQ(toBase36(doChallenge("ab", "c", "")), "n477");
    EXPECT_EQ(toBase36(doChallenge("a", "b", "c")), "n477");
}

TEST(Challenge, BytesAreUnsigned) {
    uint64_t x = 0;
    qchfnc(&x, "\xE9", 1);
    EXPECT_EQ(x, 0xA16u);  // 11 * 233 + 19
}

TEST(Challenge, ResponseKeepsLowFiftySixBits) {
    std::string longText(200, 'z');
    uint64_t r = doChallenge(longText, "login", "\xFF\xFE");
    EXPECT_EQ(r & ~0x00FFFFFFFFFFFFFFull, 0u);
    EXPECT_LE(toBase36(r).size(), 11u);
}

TEST(Challenge, Base36) {
    EXPECT_EQ(toBase36(0), "0");
    EXPECT_EQ(toBase36(35), "z");
    EXPECT_EQ(toBase36(36), "10");
    EXPECT_EQ(toBase36(~0ull), "3w5e11264sgsf");
}

TEST(Login, LineFields) {
    clientId = "k3x9";
    EXPECT_EQ(loginLine("abc", "", ""), "login ||65545|fr|k3x9|n477\n");
    EXPECT_EQ(loginLine("ab", "c", "pw"),
              "login c|pw|65545|fr|k3x9|" + toBase36(doChallenge("abc", "pw", "")) + "\n");
    clientId.clear();
}

TEST(Login, FailureMessages) {
    const std::string unreachable = connectFailureMessage(-1);
    EXPECT_EQ(unreachable.rfind("Impossible de se connecter sur le serveur.\r\nLE serveur est "
                                "injoignable.\r\n",
                                0),
              0u);
    EXPECT_EQ(connectFailureMessage(-2), unreachable);
    EXPECT_NE(connectFailureMessage(-3).find("Vos identifiants sont incorrects."),
              std::string::npos);
    EXPECT_NE(connectFailureMessage(-3).find("\xAB cr\xE9" "er un compte \xBB"), std::string::npos);
    EXPECT_EQ(connectFailureMessage(-4),
              "Impossible de se connecter sur le serveur.\r\nVous avez \xE9t\xE9 banni du serveur.");
    for (int silent : {1, 5, -5, -6}) EXPECT_EQ(connectFailureMessage(silent), "") << silent;
    EXPECT_EQ(connectFailureMessage(0),
              "Impossible de se connecter sur le serveur.\r\nConnexion \xE9" "chou\xE9" "e pour une "
              "raison inconnue.\r\nCode d'erreur: 0.");
    EXPECT_NE(connectFailureMessage(-7).find("Code d'erreur: -7."), std::string::npos);
}
}  // namespace

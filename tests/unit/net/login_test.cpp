#include "net/login.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/radix36.h"
#include "platform/text.h"

namespace {
TEST(Login, LineFields) {
    setLoginClientId("k3x9");
    EXPECT_EQ(loginLine("abc", "", ""), "login ||65545|fr|k3x9|n477\n");
    EXPECT_EQ(loginLine("ab", "c", "pw"),
              "login c|pw|65545|fr|k3x9|" + toBase36(doChallenge("abc", "pw", "")) + "\n");
    loginReset();
}

// The texts as the player reads them, written here in UTF-8 and compared as
// the CP1252 bytes the message box shows, whole: a slip in any accent or in
// the tail of the longest texts fails.
TEST(Login, FailureMessages) {
    const std::string unreachable =
        "Impossible de se connecter sur le serveur.\r\nLE serveur est injoignable.\r\n"
        "Cela peut être dû à plusieurs facteurs que nous vous prions de vérifier:\r\n"
        "* Soit Votre connexion à Internet pose problème;\r\n"
        "* Soit vos anti-virus ou pare-feux n'autorisent pas la connexion au serveur;\r\n"
        "* Soit le serveur est temporairement indisponible à cause d'un problème technique ou "
        "d'une opération de maintenance.";
    const std::string credentials =
        "Impossible de se connecter sur le serveur.\r\nVos identifiants sont incorrects.\r\n"
        "Veuillez vérifier votre nom d'utilisateur et votre mot de passe, puis réessayez.\r\n"
        "Si vous n'avez pas encore de compte, vous devez d'abord en créer un en utilisant le "
        "bouton « créer un compte » disponible sur l'écran de connexion.\r\n"
        "Si vous avez créé votre compte récemment, vérifiez qu'il a correctement été validé "
        "avant de réessayer.";
    const std::string banned =
        "Impossible de se connecter sur le serveur.\r\nVous avez été banni du serveur.";
    const std::string unknown =
        "Impossible de se connecter sur le serveur.\r\nConnexion échouée pour une raison "
        "inconnue.\r\nCode d'erreur: ";
    const struct {
        int code;
        std::string utf8;  // empty: the code shows nothing
    } cases[] = {
        {-1, unreachable},
        {-2, unreachable},
        {-3, credentials},
        {-4, banned},
        {0, unknown + "0."},
        {-7, unknown + "-7."},
        {-8, unknown + "-8."},
        {INT32_MIN, unknown + "-2147483648."},
        {1, ""},
        {5, ""},
        {-5, ""},
        {-6, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        const std::string expected = utf8ToCp1252(c.utf8);
        ASSERT_EQ(cp1252ToUtf8(expected), c.utf8);  // every character has a CP1252 byte
        EXPECT_EQ(connectFailureMessage(c.code), expected);
    }
}
}  // namespace

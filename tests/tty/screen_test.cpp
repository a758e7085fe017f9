// What kordo-tty writes for a console screen reader: lines in order, the
// prompt line edited in place and never written over other text, server
// text unable to drive the terminal, long lines wrapped and never cut; and
// the edited line itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/key_codes.h"
#include "app/tty/line_edit.h"
#include "app/tty/screen.h"

namespace {

using Rows = std::vector<std::string>;

TEST(TtyWrap, LinesSplitAtBreaksAndWrapAtBlanksWithNothingCut) {
    struct {
        std::string text;
        int columns;
        Rows rows;
    } table[] = {
        {"Bonjour", 40, {"Bonjour"}},
        {"un\r\ndeux\rtrois\nquatre", 40, {"un", "deux", "trois", "quatre"}},
        {"un\r\n\r\ndeux\r\n", 40, {"un", "", "deux"}},
        {"Case 1 vide, Case 2 vide", 12, {"Case 1 vide,", "Case 2 vide"}},
        {"abcdefghijklmnopqrst", 8, {"abcdefgh", "ijklmnop", "qrst"}},
        {"\xE9t\xE9 \x80", 40, {"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC"}},
        // Controls from a server are blanks: no ESC reaches the terminal.
        {"a\x1b]0;pwned\x07z\tx", 40, {"a ]0;pwned z x"}},
        // CP1252's undefined bytes would be C1 controls (0x9D is OSC).
        {"a\x9D" "b\x81", 40, {"a?b?"}},
    };
    for (const auto& t : table) {
        EXPECT_EQ(wrapRows(t.text, t.columns), t.rows) << testing::PrintToString(t.text);
    }
    // Whatever the width, the rows hold every character of the text.
    const std::string item = "Partie de morpion contre le serveur, vous jouez les croix et il commence";
    for (int columns = 8; columns <= 60; ++columns) {
        std::string joined;
        for (const std::string& r : wrapRows(item, columns)) {
            EXPECT_LE(static_cast<int>(r.size()), columns);
            joined += r;
        }
        std::string letters;
        for (char c : item)
            if (c != ' ') letters += c;
        std::string got;
        for (char c : joined)
            if (c != ' ') got += c;
        EXPECT_EQ(got, letters) << columns;
    }
}

TEST(TtyPrompt, TheRowKeepsItsLabelAndTheCaretInSight) {
    PromptRow r = renderPrompt("Chat: ", "bonjour", 3, false, 40);
    EXPECT_EQ(r.text, "Chat: bonjour");
    EXPECT_EQ(r.column, 9);
    r = renderPrompt("Mot de passe: ", "secret", 6, true, 40);
    EXPECT_EQ(r.text, "Mot de passe: ******");
    // A text longer than the row scrolls sideways; the caret stays in it.
    const std::string text(200, 'x');
    for (int caret : {0, 1, 50, 117, 199, 200}) {
        r = renderPrompt("Chat: ", text, caret, false, 40);
        EXPECT_LE(static_cast<int>(r.text.size()), 39) << caret;
        EXPECT_EQ(r.text.substr(0, 6), "Chat: ");
        EXPECT_GE(r.column, 6) << caret;
        EXPECT_LE(r.column, 38) << caret;
    }
}

struct Captured {
    std::string bytes;
    TtyScreen screen{[this](const std::string& b) { bytes += b; }, 40};
    std::string take() {
        std::string b;
        b.swap(bytes);
        return b;
    }
};

TEST(TtyScreenOut, LinesGoAboveThePromptWhichIsDrawnAgainBelowThem) {
    Captured c;
    c.screen.writeLines("Bienvenue");
    EXPECT_EQ(c.take(), "Bienvenue\r\n");
    c.screen.showPrompt(Prompt{"Chat: ", "sal", 3, false});
    EXPECT_EQ(c.take(), "\rChat: sal\x1b[K\r\x1b[9C");
    c.screen.writeLines("alice : bonjour");
    // The prompt row is cleared, the line written, the prompt drawn below.
    EXPECT_EQ(c.take(), "\r\x1b[Kalice : bonjour\r\n\rChat: sal\x1b[K\r\x1b[9C");
    // Typing rewrites the prompt row only; a caret move only moves.
    c.screen.showPrompt(Prompt{"Chat: ", "salut", 5, false});
    EXPECT_EQ(c.take(), "\rChat: salut\x1b[K\r\x1b[11C");
    c.screen.showPrompt(Prompt{"Chat: ", "salut", 0, false});
    EXPECT_EQ(c.take(), "\r\x1b[6C");
    c.screen.hidePrompt();
    EXPECT_EQ(c.take(), "\r\x1b[K");
    c.screen.hidePrompt();
    EXPECT_EQ(c.take(), "");
}

TEST(TtyScreenOut, ASpokenHistoryMessageIsWrittenOnceOtherSpeechAlways) {
    Captured c;
    c.screen.writeHistory("Le serveur joue en case 5.");
    c.screen.writeSpoken("Le serveur joue en case 5.");
    EXPECT_EQ(c.take(), "Le serveur joue en case 5.\r\n");
    // Read back (Page Up) later: written again.
    c.screen.writeSpoken("Le serveur joue en case 5.");
    EXPECT_EQ(c.take(), "Le serveur joue en case 5.\r\n");
    // Something between the message and its speech: both written.
    c.screen.writeHistory("un");
    c.screen.writeLines("Case 1");
    c.screen.writeSpoken("un");
    EXPECT_EQ(c.take(), "un\r\nCase 1\r\nun\r\n");
    // Speech of another text after a message.
    c.screen.writeHistory("un");
    c.screen.writeSpoken("Historique");
    EXPECT_EQ(c.take(), "un\r\nHistorique\r\n");
}

TermKey typed(char32_t ch) {
    TermKey k;
    k.ch = ch;
    return k;
}

TermKey vk(int code, bool ctrl = false) {
    TermKey k;
    k.vk = code;
    k.ctrl = ctrl;
    return k;
}

TEST(TtyLineEdit, EditingKeysAndTypingOverARecalledMessage) {
    LineEdit e;
    for (char32_t c : std::u32string(U"\u00e9t\u00e9 \u20ac \u4e2d")) EXPECT_TRUE(lineEditKey(&e, typed(c)));
    EXPECT_EQ(e.text, "\xE9t\xE9 \x80 ?");
    EXPECT_TRUE(lineEditKey(&e, vk(8)));
    EXPECT_TRUE(lineEditKey(&e, vk(VKEY_HOME)));
    EXPECT_TRUE(lineEditKey(&e, vk(VKEY_DELETE)));
    EXPECT_TRUE(lineEditKey(&e, vk(VKEY_RIGHT, true)));
    EXPECT_EQ(e.caret, 3);
    EXPECT_EQ(e.text, "t\xE9 \x80 ");
    EXPECT_FALSE(lineEditKey(&e, vk(VKEY_UP)));
    TermKey ctrlA = typed('a');
    ctrlA.ctrl = true;
    EXPECT_FALSE(lineEditKey(&e, ctrlA));

    // A recalled "@name message" has its message selected: typing replaces it.
    lineEditSet(&e, "@bob salut");
    lineEditSelect(&e, 5, 10);
    lineEditKey(&e, typed('o'));
    lineEditKey(&e, typed('k'));
    EXPECT_EQ(e.text, "@bob ok");
    EXPECT_EQ(e.caret, 7);

    // The limit bounds typing.
    LineEdit small;
    small.limit = 4;
    for (char c : std::string("abcdef")) lineEditKey(&small, typed(static_cast<char32_t>(c)));
    EXPECT_EQ(small.text, "abcd");
}

}  // namespace

// The server's input box and message box: what the player is shown, what the
// server gets back, and the dialog state other modules read.
#include "app/dialogs.h"

#include <atomic>
#include <mutex>

#include "app/dispatch.h"
#include "app_session.h"

namespace {

using Lines = std::vector<std::string>;

struct InputCall {
    std::string title, prompt, initial;
    bool inDialog;
};

// Answers input boxes as told: OK with `answer` (the initial text when
// unset), or cancel.  The answers are set by the test thread and read on the
// UI thread, behind a lock: the server's lines reach the UI thread through
// the socket, which the thread checker does not see as a hand-over.
class DialogUi : public EventUi {
public:
    bool inputBox(const std::string& title, const std::string& prompt, const std::string& initial,
                  std::string* out) override {
        std::lock_guard<std::mutex> g(m);
        calls_.push_back({title, prompt, initial, isInDialog()});
        if (cancel_) return false;
        *out = answer_.value_or(initial);
        return true;
    }
    int messageBox(const std::string& text, const std::string& title, unsigned flags) override {
        boxInDialog = isInDialog();
        return EventUi::messageBox(text, title, flags);
    }
    void answerWith(bool cancel, std::optional<std::string> answer) {
        std::lock_guard<std::mutex> g(m);
        cancel_ = cancel;
        answer_ = std::move(answer);
        calls_.clear();
    }
    std::vector<InputCall> calls() {
        std::lock_guard<std::mutex> g(m);
        return calls_;
    }
    std::atomic<bool> boxInDialog{false};

private:
    std::mutex m;
    std::vector<InputCall> calls_;
    bool cancel_ = false;
    std::optional<std::string> answer_;
};

class Dialogs : public AppSession {
protected:
    // Constructed after the fixture's EventUi, so it is the installed UI.
    DialogUi dui;
};

TEST_F(Dialogs, InputBoxRepliesWithTheTextAndNothingOnCancel) {
    struct Case {
        const char* payload;
        bool cancel;
        std::optional<std::string> answer;
        InputCall shown;
        Lines lines;
    };
    const std::string longAnswer(3000, 'x');
    const Case cases[] = {
        {"7|Nom|Votre nom ?|Paul", false, std::nullopt, {"Nom", "Votre nom ?", "Paul", true}, {"input 7|Paul"}},
        {"7|Nom|Votre nom ?|Paul", true, std::nullopt, {"Nom", "Votre nom ?", "Paul", true}, {}},
        // The empty title is skipped: the prompt becomes the caption.
        {"7||Votre nom ?", false, "Lucie", {"Votre nom ?", "", "", true}, {"input 7|Lucie"}},
        {"12abc|T", false, "\xE9t\xE9", {"T", "", "", true}, {"input 12|\xE9t\xE9"}},
        {"", false, "x", {"", "", "", true}, {"input 0|x"}},                     // no id: 0
        {"Titre|Question", false, "y", {"Question", "", "", true}, {"input 0|y"}},  // id not a number
        {"4294967295|T", false, "z", {"T", "", "", true}, {"input 4294967295|z"}},
        {"9|T|P|D", false, longAnswer, {"T", "P", "D", true}, {"input 9|" + longAnswer}},
        {"9|T|P|D", false, "", {"T", "P", "D", true}, {"input 9|"}},  // OK on an empty line
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        dui.answerWith(c.cancel, c.answer);
        prepareInputBox(c.payload);
        std::vector<InputCall> calls = dui.calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].title, c.shown.title);
        EXPECT_EQ(calls[0].prompt, c.shown.prompt);
        EXPECT_EQ(calls[0].initial, c.shown.initial);
        EXPECT_TRUE(calls[0].inDialog);
        EXPECT_FALSE(dui.isInDialog());
        EXPECT_EQ(sent(), c.lines);
    }
}

TEST_F(Dialogs, MessageBoxAlwaysAnswers) {
    struct Case {
        const char* payload;
        int answer;
        MessageBoxCall shown;
        const char* line;
    };
    const Case cases[] = {
        {"3|Titre|Texte|4", 6, {"Texte", "Titre", 4}, "msgboxresp 3|6"},
        {"3|Titre|Texte|36", 7, {"Texte", "Titre", 36}, "msgboxresp 3|7"},
        {"3|Titre|Texte", 1, {"Texte", "Titre", 0}, "msgboxresp 3|1"},  // no flags: 0
        {"Titre|Texte", 1, {"", "Texte", 0}, "msgboxresp 0|1"},          // no id: 0
        {"5|Titre|Texte|1", 0, {"Texte", "Titre", 1}, "msgboxresp 5|0"},  // could not be shown
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        size_t before = dui.messageBoxes().size();
        dui.messageBoxAnswer = c.answer;
        dui.boxInDialog = false;
        prepareMessageBox(c.payload);
        ASSERT_EQ(dui.messageBoxes().size(), before + 1);
        const MessageBoxCall box = dui.messageBoxes().back();
        EXPECT_EQ(box.text, c.shown.text);
        EXPECT_EQ(box.title, c.shown.title);
        EXPECT_EQ(box.flags, c.shown.flags);
        EXPECT_TRUE(dui.boxInDialog);
        EXPECT_FALSE(dui.isInDialog());
        EXPECT_EQ(sent(), Lines{c.line});
    }
}

TEST_F(Dialogs, WithoutAMainWindowNothingIsShown) {
    dui.closeWindow();
    EXPECT_EQ(InputBox("T", "P", "D"), std::nullopt);
    prepareInputBox("7|T|P|D");
    prepareMessageBox("3|Titre|Texte|4");
    EXPECT_TRUE(dui.calls().empty());
    EXPECT_FALSE(dui.isInDialog());
    EXPECT_EQ(sent(), Lines{"msgboxresp 3|0"});
}

TEST_F(Dialogs, ServerLinesReachTheDialogsOnTheReceiveThread) {
    registerServerCommands();
    dui.answerWith(false, "Marie");
    dui.messageBoxAnswer = 6;
    conn->send("input 7|Nom|Votre nom ?|Paul\nmsgbox 3|Titre|Texte|4\n");
    EXPECT_EQ(conn->readLine(), "input 7|Marie");
    EXPECT_EQ(conn->readLine(), "msgboxresp 3|6");
    std::vector<InputCall> calls = dui.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].title, "Nom");
}

}  // namespace

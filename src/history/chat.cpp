#include "history/chat.h"

#include <algorithm>

#include "history/history.h"
#include "net/agc.h"
#include "net/replies.h"
#include "platform/shell.h"
#include "platform/ui.h"

namespace {

ChatState chatState;

// Chat state is the UI thread's; other callers (tests) are handed over.  With
// no main window the work runs here, as there is no UI thread to race.
template <class F>
void runChatOp(F&& body) {
    if (uiThread().isUiThread() || !uiCall(body)) body();
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool sameWordIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

// The text before the first space (all of it when there is none).
std::string_view firstWord(std::string_view s) { return s.substr(0, s.find(' ')); }

// "@name message" and "/command args": kept for recall, and recalled with
// the part after the first space selected.
bool isPrefixedLine(std::string_view s) {
    return !s.empty() && (s[0] == '@' || s[0] == '/') && s.find(' ') != std::string_view::npos;
}

bool isSeparator(char c) { return c == ' ' || c == '\n' || c == '\r'; }

bool startsWithIgnoringCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && sameWordIgnoringCase(s.substr(0, prefix.size()), prefix);
}

}  // namespace

const ChatState& chatView() { return chatState; }

void handleChatEnter() {
    runChatOp([] {
        std::string text = uiViews().chatText();
        if (text.empty()) return;
        sendChat(text);
        std::vector<std::string>& list = chatState.chatHistory;
        if (isPrefixedLine(text)) {
            std::string_view word = firstWord(text);
            bool known = std::any_of(list.begin(), list.end(),
                                     [&](const std::string& e) { return sameWordIgnoringCase(firstWord(e), word); });
            if (!known) {
                if (list.size() >= static_cast<size_t>(kChatCap)) list.pop_back();
                list.insert(list.begin(), text);
            }
        }
        chatState.chatpos = -1;
        uiViews().chatSetText("");
    });
}

bool chatHistoryMove(int n) {
    runChatOp([&] {
        const std::vector<std::string>& list = chatState.chatHistory;
        int len = static_cast<int>(list.size());
        int64_t pos = int64_t{chatState.chatpos} + n;
        if (pos < -1) pos = -1;
        if (pos >= len) pos = len - 1;
        chatState.chatpos = static_cast<int>(pos);
        if (pos == -1) {
            uiViews().chatSetText("");
            return;
        }
        const std::string& entry = list[static_cast<size_t>(pos)];
        uiViews().chatSetText(entry);
        int end = static_cast<int>(entry.size());
        int start = isPrefixedLine(entry) ? static_cast<int>(entry.find(' ')) + 1 : 0;
        uiViews().chatSelectRange(start, end);
    });
    return true;
}

bool sendChat(std::string_view s) {
    AGCHandle* h = agc_current();
    if (!h) return false;
    agc_send(h, chatReply(s));
    return true;
}

bool openClickableLink() {
    std::string word;
    runChatOp([&] {
        historyShowGathered();
        std::string text = uiViews().historyText();
        int start = 0, end = 0;
        uiViews().historyGetSelection(&start, &end);
        size_t t = text.size();
        size_t c = static_cast<size_t>(std::clamp<int64_t>(start, 0, static_cast<int64_t>(t)));
        if (c < t && isSeparator(text[c])) return;
        // The word is the run of non-separators around the caret.  The view
        // begins with CR LF, but a word at the very start is taken whole too.
        size_t b = c;
        while (b > 0 && !isSeparator(text[b - 1])) --b;
        size_t e = c;
        while (e < t && !isSeparator(text[e])) ++e;
        word = text.substr(b, e - b);
    });
    if (word.compare(0, 7, "http://") != 0) return false;
    browserOpen(word);
    return true;
}

bool browserOpen(std::string_view s) {
    if (!startsWithIgnoringCase(s, "http://") && !startsWithIgnoringCase(s, "https://")) return false;
    return shell().openAddress(std::string(s));
}

void chatReset() {
    runChatOp([] {
        chatState.chatHistory.clear();
        chatState.chatpos = -1;
    });
}

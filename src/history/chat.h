// The chat line: sending what the player types, the recall list of
// addressed lines and commands, web links in the history view, and the
// client's one way of opening a web page.
//
// Texts are CP1252 bytes.  Everything runs on the UI thread (handed over when
// called elsewhere), except browserOpen, which any thread may call.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/caps.h"

// The unit's state, one record, kept in chat.cpp; UI thread.  chatReset()
// empties it (resetCore, tests).
struct ChatState {
    // Newest first; at most kChatCap entries (chatlen is its size).
    std::vector<std::string> chatHistory;
    // Recall position; -1: the empty line after the newest entry.
    int chatpos = -1;
};

// Read-only view of the record (UI thread).
const ChatState& chatView();

// Enter in the chat line: sends the text, keeps it for recall when it is an
// "@" or "/" line with a space whose first word is not kept yet (letter case
// ignored), and empties the line.  An empty line does nothing.
void handleChatEnter();
// Up (+1, older) and Down (-1, newer) in the chat line.  Always true.
bool chatHistoryMove(int n);
// Sends chatReply(s) on the current connection; false when there is none.
bool sendChat(std::string_view s);
// Enter in the history view: opens the "http://" word under the caret.
// False when there is no such word (the key then goes to the server).
bool openClickableLink();
// Opens a web address with the desktop's browser.  Only "http://" and
// "https://" addresses (scheme in any letter case) are handed over: the
// server's "browse " line must not make the shell open local files or start
// programs.  False when refused or the shell could not take it.
bool browserOpen(std::string_view s);

// Empties the recall list.
void chatReset();

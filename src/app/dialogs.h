// The two dialogs the server can open: a line of text to type ("input"
// line, answered with "input <id>|<text>") and a message box ("msgbox" line,
// answered with "msgboxresp <id>|<result>").
//
// Threads: the prepare* handlers run on the connection's dispatch thread and
// block it until the player answers (no later server line is handled
// meanwhile, while the receive thread goes on reading); the dialogs
// themselves run on the UI thread through the UI-thread call.
// uiDialogs().isInDialog() is true while either is open.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Handler of "input <id>|<title>|<prompt>|<default>": asks the player and
// sends "input <id>|<answer>\n" (inputReply) on the current connection;
// nothing on cancel.  Ids and flags are unsigned 32-bit values, echoed as
// the server sent them; a missing field reads 0.
void prepareInputBox(std::string_view s);

// Runs the input dialog on the UI thread and waits for it.  The answer, or
// nullopt on cancel or when there is no main window to own the dialog.
std::optional<std::string> InputBox(const std::string& title, const std::string& prompt,
                                    const std::string& defaultText);

// Handler of "msgbox <id>|<title>|<text>|<flags>": shows the box with the
// Win32 MB_* flags as its type and always answers "msgboxresp <id>|<result>\n"
// (IDOK = 1 ... IDNO = 7; 0 when the box could not be shown).
void prepareMessageBox(std::string_view s);

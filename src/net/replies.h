// Every line the client sends to the server, each built here from values:
// the functions return the exact bytes, the final "\n" included, and the
// callers only hand them to the connection.
//
// Pure, like net/protocol.h: no I/O, no thread, no state.  Texts are CP1252
// bytes and go out exactly as given: no line is ever cut, and nothing is
// escaped.  A "|" inside a text that is not the last field shifts the
// server's reading of the fields after it, and a "\n" inside any text ends
// the line there for the server, which reads the rest as another line: the
// values these lines carry come from the player (what was typed), from the
// server itself (menu values, identifiers) or from the extension library
// the server had the client call, and the protocol has no escape for them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The answer to the server's challenge: "login <login>|<password>|65545|fr|
// <client id>|<response>", the response being doChallenge's in radix 36.
// The language is always "fr".
std::string loginReply(std::string_view challenge, std::string_view login,
                       std::string_view password, std::string_view clientId);

// The answer to "ping", sent once every line before it has been handled.
std::string_view pongReply();
// Said when the player closes the main window.
std::string_view quitReply();

// A key reported to the server: the virtual-key code (0-255) and the
// modifiers held, which add 256 (Shift), 512 (Ctrl) and 1024 (Alt).
struct KeyReport {
    int key = 0;
    bool shift = false, ctrl = false, alt = false;
};
// The menu a key report describes, for a menu that asks for it (its flag
// 8): its id, its selected index (-1 when none) and that item's value
// (empty when it has none).
struct KeyMenuContext {
    int32_t menuId = 0;
    int32_t selection = -1;
    std::string_view value;
};
// "key <code>", or "kem <code>|<menu id>|<selection>|<value>" with a menu
// context.
std::string keyReply(const KeyReport& key, const KeyMenuContext* menu);

// The player's choice in menu `menuId`: "select <id>|<index>|<value>"
// (an item without a value gives an empty field); a negative index is the
// menu cancelled, "select <id>|-1|-1", whatever `value`.
std::string selectReply(int32_t menuId, int32_t index, std::string_view value);

// The answer to an "input" dialog: "input <id>|<answer>".
std::string inputReply(uint32_t id, std::string_view answer);
// The answer to a "msgbox" dialog: "msgboxresp <id>|<result>".
std::string msgboxReply(uint32_t id, int result);

// A line typed in the chat line: after "//" the rest as a raw line (the
// player's own command), otherwise "input 60003|<text>".
std::string chatReply(std::string_view text);

// The text an extension function returned for "dllq": "dllqr <id>|<text>".
std::string dllqReply(int32_t id, std::string_view text);

// The server command table and the line parser.  Pure: takes a line's bytes
// and tells which command it is and where its payload lies; no I/O.
#pragma once

#include <cstdint>
#include <string_view>

enum class ServerCommand : int {
    Ping, Say, SayNh, SayI, SayUrg, Play, PlayUrg, PlayOw, Input, Menu, UItem, UMenu,
    CloseMenu, CloseAllMenus, MoveM, Music, DllQ, Browse, CheckFile, Preload, MsgBox,
    NewVersion, Status, Challenge,
    Count
};

constexpr int kNoPayload = -1;

struct CommandRow {
    std::string_view prefix;
    int offset;  // first byte of the payload, or kNoPayload
    ServerCommand command;
};

// In test order: the first row whose prefix begins the line wins.
extern const CommandRow kCommandTable[static_cast<int>(ServerCommand::Count)];

struct ParsedCommand {
    ServerCommand command;
    // Points into the line: the bytes from the row's offset to the end (empty
    // when the line ends before the offset, or the row has no payload).
    std::string_view payload;
    // "newVersion" only: TRUE unless the byte at offset 11 is "*".
    bool required;
};

// Matches `line` (without its "\n") against the table.  Returns false for
// a line that matches no row (unknown keyword, empty line).
bool parseCommand(std::string_view line, ParsedCommand* out);

// TRUE when `s` begins with every byte of `t`; an empty `t` matches anything.
bool startsWith(std::string_view s, std::string_view t);

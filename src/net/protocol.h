// The protocol itself, as both ends speak it: the server command table and
// the line parser, the parser of a sound description, the challenge
// response and the protocol number.  The lines the client sends are built
// in net/replies.h.  Pure: bytes in, records or numbers out; no I/O, no
// thread, no state.  Texts are CP1252 bytes and are never converted here.
//
// Library kordo_protocol, with replies.cpp: the practice server links it,
// and nothing of the client's transport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The protocol number announced at login; the server refuses another.
constexpr int kProtocolNumber = 65545;

// The flag bits of a menu text ("menu ", "umenu ").
enum : int32_t {
    MENU_STAYS_OPEN = 1,        // choosing or cancelling does not close the menu
    MENU_LIST_KEYS = 2,         // letters and digits are left to the list's search
    MENU_CHOOSE_ON_CHANGE = 4,  // a selection change reported by the list chooses
    MENU_KEY_CONTEXT = 8,       // keys go out as "kem" lines
};

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

// The challenge response.  Folds `n` bytes of `c` into *l: x = x ^ (x << 5)
// ^ (11 * b + 19), bytes taken unsigned.
void qchfnc(uint64_t* l, const char* c, size_t n);
// The low 56 bits of the fold of challenge, login and password, in that
// order (only their concatenation matters).
uint64_t doChallenge(std::string_view challenge, std::string_view login, std::string_view password);

// A sound description, "name [volume [pan [semitones]]]", as "play",
// "playurg", "playow" and menu items carry it.  Fields are separated by
// runs of spaces (leading spaces skipped); bytes after the fourth field are
// ignored.  Each number is the leading number of its field, read the same
// whatever the locale ("0.5", "-1", "+2", ".5", "1e3"); a field with no
// leading number, or a value that is not finite, reads 0.  Values are not
// bounded here: the sound unit bounds them after the player's own volume.
struct SoundSpec {
    std::string_view text;   // the whole description as written
    std::string_view name;   // the first field; points into `text`
    double volume = 1.0;     // absent: 1
    double pan = 0.0;        // absent: 0 (centre); beyond -1..1: a grid column
    double semitones = 0.0;  // absent: 0 (the sample's own pitch)
};
// A description with no field at all (empty, or spaces only) gives an
// empty name, which names no sound.
SoundSpec parseSoundSpec(std::string_view s);

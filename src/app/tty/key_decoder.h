// The terminal's keyboard: bytes read from a terminal in raw mode turned into
// key events with Windows virtual-key codes, the codes of the client's one
// key path.
//
// Terminals send a key as a character (UTF-8), a control byte, or an escape
// sequence.  The decoder knows the sequences of xterm and its followers
// (VTE, konsole, tmux and screen, which speak xterm's or VT100's), of the
// Linux console and of rxvt: the arrows, Home/End, Page Up/Down,
// Insert/Delete, F1-F20 (as far as each terminal sends them), the modifier
// parameter of xterm's sequences ("CSI 1;5A" is Ctrl+Up), rxvt's Shift and
// Ctrl forms, and Alt sent as an ESC prefix ("ESC x" is Alt+X).
//
// A pure parser: bytes in, events out, no I/O and no clock.  A sequence may
// arrive split at any byte; the decoder keeps the start until the rest
// comes.  A lone ESC cannot be told from the start of a sequence by its
// bytes alone: the caller waits kEscapeWaitMs after the last byte for more,
// then calls keyDecoderFlush(), which makes it the Escape key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One key press.  A terminal sends no releases.
struct TermKey {
    int vk = 0;          // Windows virtual-key code; 0: a character with no key code
    bool shift = false;  // the modifiers the terminal reported with the key
    bool ctrl = false;
    bool alt = false;
    char32_t ch = 0;  // the character typed (Unicode), 0 for keys that type none
    bool operator==(const TermKey&) const = default;
};

// How long a lone ESC waits for the rest of a sequence.  Sequences come in
// one write from a local terminal; over a slow link their bytes may come
// apart, and a player does not press Escape and another key within this.
inline constexpr int kEscapeWaitMs = 100;

// The decoder's state, one record: the bytes of a sequence not yet whole.
struct KeyDecoder {
    std::string pending;
};

// Decodes `bytes` after what is pending; appends the whole keys to *out.
// Unknown sequences and malformed UTF-8 are dropped, never typed as text.
void keyDecoderFeed(KeyDecoder* d, std::string_view bytes, std::vector<TermKey>* out);

// True while bytes wait for the rest of a sequence (the caller's cue to
// wait kEscapeWaitMs, then flush).
bool keyDecoderPending(const KeyDecoder& d);

// The wait is over: a lone ESC is the Escape key, "ESC [" and "ESC O" are
// Alt+[ and Alt+O, anything else pending (a sequence cut short) is dropped.
void keyDecoderFlush(KeyDecoder* d, std::vector<TermKey>* out);

// Back to no pending bytes.
void keyDecoderReset(KeyDecoder* d);

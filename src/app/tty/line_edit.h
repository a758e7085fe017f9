// A one-line text being edited (the chat line, a dialog's answer): the text
// in CP1252, a caret and an optional selection, changed by the usual editing
// keys.  Plain state, no output; the front-end shows it as its prompt line.
#pragma once

#include <cstddef>
#include <string>

#include "app/tty/key_decoder.h"

struct LineEdit {
    std::string text;  // CP1252
    int caret = 0;     // byte offset, 0 .. text.size()
    int anchor = -1;   // the selection's other end; -1: no selection
    size_t limit = 3999;  // most characters the line takes
};

// The character `k` types, in CP1252 ("?" where it has no CP1252 form);
// empty for a key that types none (a control character, or no character).
std::string typedText(const TermKey& k);

// Replaces the text; the caret goes to its end, the selection is dropped.
// A text over the limit is kept whole: the limit bounds typing only.
void lineEditSet(LineEdit* e, const std::string& text);
// Selects [start, end) (clamped); the caret at `end`.
void lineEditSelect(LineEdit* e, int start, int end);
// Applies `k` when it is an editing key: a character typed (without Ctrl or
// Alt; one with no CP1252 form becomes "?"; it replaces the selection),
// Backspace, Delete, Left, Right, Home, End, and Ctrl+Left/Right by words.
// True when `k` was one of them.
bool lineEditKey(LineEdit* e, const TermKey& k);

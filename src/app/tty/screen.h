// What kordo-tty writes on the terminal, made for console screen readers
// (Fenrir, Speakup, BRLTTY): plain lines written in order and never written
// over, and at most one prompt line below them, the only text ever edited
// in place (the chat line, a dialog's answer).  No colours, no cursor
// addressing beyond the prompt's own row; UTF-8 out.
//
// Texts come in as the core's CP1252 bytes.  Control characters a server
// sends are shown as blanks, never passed to the terminal, so no text can
// move the cursor, recolour or retitle the terminal.  A line longer than
// the terminal is wide wraps at a blank where it has one; nothing is cut.
//
// Threads: every method may be called from any thread (the UI thread, the
// dispatch and receive threads through speech); one lock keeps each write whole and in
// order.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The text of one line for the terminal: CP1252 in, UTF-8 out, controls as
// blanks and the bytes CP1252 leaves undefined as "?".
std::string terminalText(std::string_view cp1252);

// Splits `cp1252` at its line breaks (CR LF, CR or LF) and wraps each line
// to rows of at most `columns` characters, breaking after the last blank
// that fits (a word longer than a row is split).  Rows are UTF-8.  A
// trailing line break makes no empty last row; empty lines inside stay.
std::vector<std::string> wrapRows(std::string_view cp1252, int columns);

// One prompt line as it is shown: the label, then the part of the text
// around the caret that fits the width (the line scrolls sideways rather
// than wrap, so it stays one row).  `column` is where the cursor goes.
struct PromptRow {
    std::string text;  // UTF-8
    int column = 0;
};
PromptRow renderPrompt(std::string_view label, std::string_view text, int caret, bool secret,
                       int columns);

// The prompt: a label and an edited text (CP1252), the caret a byte offset
// into the text.  A secret text shows as "*".
struct Prompt {
    std::string label;
    std::string text;
    int caret = 0;
    bool secret = false;
};

class TtyScreen {
  public:
    // `write` takes the bytes for the terminal; called under the screen's lock.
    explicit TtyScreen(std::function<void(const std::string&)> write, int columns = 80);

    void setColumns(int columns);
    int columns();

    // Writes `cp1252` as whole lines above the prompt.
    void writeLines(std::string_view cp1252);
    // A history message: written as lines, and remembered so that the same
    // text spoken right after it (see writeSpoken) is not written twice.
    void writeHistory(std::string_view cp1252);
    // Speech for the terminal's screen reader: written as lines, unless it
    // is the history message just written, with nothing else between.
    void writeSpoken(std::string_view cp1252);

    // Shows the prompt line, or edits it in place when one is shown (only
    // what changed is written; a caret move only moves the cursor).
    void showPrompt(const Prompt& p);
    // Removes the prompt line; the cursor rests at the start of an empty row.
    void hidePrompt();
    // Draws the prompt line again (after a resize, or a return from the
    // background).
    void redraw();

  private:
    void emitRows(const std::vector<std::string>& rows);
    std::string promptBytes(bool whole);

    std::mutex mu_;
    std::function<void(const std::string&)> write_;
    int columns_;
    bool promptShown_ = false;
    Prompt prompt_;
    PromptRow drawn_;          // the prompt row on the terminal
    std::string lastHistory_;  // the history message last written, until other output
    bool historyLast_ = false;
};

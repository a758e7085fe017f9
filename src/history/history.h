// The message history: every message the server has the client say is kept
// for reading back, shown in the history view, written to the session log
// and spoken, each as the sender's flags ask.
//
// Texts are CP1252 bytes.  Threads: historyAdd may be called from any
// thread; its work runs on the UI thread (the UI-thread call), one message
// at a time, and it returns once that is done.  When there is no main window
// the work runs on the calling thread and the view is skipped, so nothing
// the server said is lost from the list and the log.  historyMove and
// historySave belong to the UI thread and are handed over the same way.
// Other threads read the state through historyCounts and historyAt.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/caps.h"

// Bits of historyAdd's flags.
enum : int {
    HIST_SPEAK = 1,      // speak the message
    HIST_INTERRUPT = 2,  // ... cutting off speech in progress
    HIST_NOSTORE = 4,    // no list entry, no view text, no log line
    HIST_ALWAYS = 8,     // speak even when the main window is not active
};

// What the history and its view may hold, in bytes, counted per stored
// message as its view text ("\r\n" + message) plus kHistoryMessageCost for
// the bookkeeping of one more line, so that a flood of short messages is
// bounded as well as a flood of long ones: kHistoryBudget (platform/caps.h,
// with the reasons for both figures).

// Where the history stands, copied under the unit's lock; any thread.  The
// unit's state itself is one record kept in history.cpp; historyReset()
// restores it (resetCore, tests).
//
// Once a new message would take the history past its budget, the oldest
// messages go, from the list and from the view alike, until an eighth of the
// budget is free again (removing from the front costs a move of what stays:
// it is paid once per eighth, not per message).  The newest message always
// stays.  The reading position moves with the list, and the view's caret and
// selection with its text, so the player keeps the place unless that place
// itself went.  The session log keeps everything.
struct HistoryCounts {
    int length = 0;         // messages stored
    int capacity = 0;       // capacity; grows to capacity * 3 / 2 + 1 when full
    int position = -1;      // reading position; -1: before the first message
    int64_t dropped = 0;    // messages gone from the front since the last reset
    size_t storeBytes = 0;  // bytes the list has allocated for its messages
};
HistoryCounts historyCounts();

// Sets the budget (kHistoryBudget at start): before the run, or in tests
// between runs; historyReset() restores the default.
void setHistoryBudget(size_t bytes);

// Adds message `s`; 0x01 stands for CR and 0x02 for LF.  Never refused.
void historyAdd(std::string_view s, int flags);
// A run of consecutive messages added with historyAdd on the UI thread,
// between historyRunBegin() and historyRunEnd().  Where the front-end asks
// for it (UiViewSeam::historyGathersRuns), the run's stored messages reach the
// view as one append at historyRunEnd, with the selection rule applied once:
// the same text, and a player reading the view keeps the place.  Their list
// entries, log lines and speech stay per message, in order.  With
// `moreFollows` (another run comes at once: a flood), the view text waits for
// the next run, up to kMaxGatheredBytes; anything else that touches the view
// shows it first.  Elsewhere, or off the UI thread, each message updates the
// view as it comes.
//
// historyRunBegin returns false, and gathers nothing, off the UI thread, for
// a front-end that does not gather, or inside a run already begun (a nested
// run goes with the run around it); historyRunEnd is then not called.
bool historyRunBegin();
void historyRunEnd(bool moreFollows = false);
// A flood of runs gathers at most kMaxGatheredBytes (platform/caps.h) of view
// text before it is shown.
// Shows the view text gathered by a run, if any, also in the middle
// of a run (a line of another kind in the run, which touches the UI in its
// turn, calls it first).  Does nothing off the UI thread.
void historyShowGathered();
// Moves the reading position by n (clamped to the messages, no wrap) and
// speaks the message there with interrupt.
void historyMove(int n);
// Asks for a file name and writes the view's text to it (binary, CR LF, as
// shown).  Reports nothing, neither success nor failure.
void historySave();

// Opens the session log at `path` for appending (binary) and writes
// `startText` without a line end; every stored message is then written as
// CR LF followed by the message.  False when the file cannot be opened: the
// client runs without a log.  Replaces a log already open.
bool historyOpenLog(const std::string& path, std::string_view startText);
// Flushes and closes the session log, if open.
void historyCloseLog();

// Message i (0 <= i < histLen), copied under the lock.
std::string historyAt(int i);

// Empties the list, closes the log, restores the start values.
void historyReset();

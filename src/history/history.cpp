#include "history/history.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/ui.h"
#include "speech/speech.h"

namespace {
// The stored messages, oldest first, packed back to back in one buffer so
// that a message costs its bytes plus one offset (a long session stores
// hundreds of thousands).  The oldest go once the history passes its budget
// (setHistoryBudget).
struct HistoryList {
    std::string bytes;
    std::vector<size_t> ends;  // ends[i]: one past message i in `bytes`
    std::string_view operator[](int i) const {
        size_t begin = i == 0 ? 0 : ends[static_cast<size_t>(i) - 1];
        return std::string_view(bytes).substr(begin, ends[static_cast<size_t>(i)] - begin);
    }
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using LogFile = std::unique_ptr<std::FILE, FileCloser>;

// The view text of a run, or a flood of runs, being gathered
// (historyRunBegin).
struct GatheredRun {
    bool active = false;  // inside a run
    std::string text;     // "\r\n" + message, for each stored message so far
};

// The unit's state, one record; historyReset() restores it (resetCore,
// tests).  `lock` guards every field but `gathered`, which belongs to the UI
// thread.  How the budget trims the list: see HistoryCounts.
struct HistoryState {
    std::mutex lock;
    HistoryList history;
    int histLen = 0;    // messages stored (== history.ends.size())
    int histCap = 16;   // capacity; grows to histCap * 3 / 2 + 1 when full
    int histPos = -1;   // reading position; -1: before the first message
    LogFile logfile;    // the session log; null when not open
    GatheredRun gathered;
    size_t budget = kHistoryBudget;  // setHistoryBudget; tests set a small one
    // Messages count from the first of the run: `dropped` have gone from the
    // front of the list; the view holds every stored message from number
    // `viewFirst` on (those stored while there was no main window are not in
    // it).
    int64_t dropped = 0;
    int64_t viewFirst = 0;
};

HistoryState historyState;

using Lock = std::lock_guard<std::mutex>;

// Runs `body(withUi)` on the UI thread, or on this thread without the view
// when there is no main window.
template <class F>
void runHistoryOp(F&& body) {
    if (uiThread().isUiThread()) {
        body(true);
        return;
    }
    if (!uiCall([&] { body(true); })) body(false);
}

// Appends `text` (one or more "\r\n" + message) to the view and applies the
// reading rule: a player reading the view keeps the place; otherwise the
// view follows the newest message.  UI thread.
void showInView(UiViewSeam& u, const std::string& text) {
    int start = 0, end = 0;
    u.historyGetSelection(&start, &end);
    u.historyAppend(text);
    if (u.focusedControl() == UiControl::History)
        u.historySetSelection(start, end);
    else
        u.historyScrollToCaret();
}

// What the history's budget counts for a message of `len` bytes.
size_t messageCost(size_t len) {
    return 2 + len + kHistoryMessageCost;
}

// What the view must lose from its front, in bytes: `bytes` in all, of
// which the view holds `held` (shown, or gathered for a run).
struct ViewTrim {
    size_t bytes = 0;
    size_t held = 0;
};

// Makes room for a message of `len` bytes: when it would take the history
// past its budget, drops the oldest messages until an eighth of the budget
// is free (or none but the new one would be left).  Caller holds the lock.
ViewTrim makeRoom(HistoryState& h, size_t len) {
    HistoryList& l = h.history;
    const size_t n = l.ends.size();
    size_t cost = l.bytes.size() + n * messageCost(0);
    if (n == 0 || cost + messageCost(len) <= h.budget) return {};
    const size_t target = h.budget - h.budget / 8;
    // k: how many of the oldest go.
    size_t k = 0;
    while (k < n && cost + messageCost(len) > target) {
        cost -= messageCost(l[static_cast<int>(k)].size());
        ++k;
    }
    const size_t droppedBytes = l.ends[k - 1];

    // The view's share: the messages it holds among those that go, and all
    // it holds, each as "\r\n" + message.
    auto viewBytes = [&](size_t from, size_t to) {  // messages [from, to)
        if (from >= to) return size_t{0};
        size_t begin = from == 0 ? 0 : l.ends[from - 1];
        return l.ends[to - 1] - begin + 2 * (to - from);
    };
    const size_t viewFrom =
        static_cast<size_t>(std::clamp<int64_t>(h.viewFirst - h.dropped, 0, int64_t(n)));
    ViewTrim t{viewBytes(viewFrom, k), viewBytes(viewFrom, n)};

    l.bytes.erase(0, droppedBytes);
    l.ends.erase(l.ends.begin(), l.ends.begin() + static_cast<std::ptrdiff_t>(k));
    for (size_t& e : l.ends) e -= droppedBytes;
    h.histLen = static_cast<int>(l.ends.size());
    h.dropped += static_cast<int64_t>(k);
    h.viewFirst = std::max(h.viewFirst, h.dropped);
    // The reading position stays on its message; if that one went, on the
    // oldest left.  Before the first message stays before it.
    if (h.histPos >= 0) h.histPos = std::max(0, h.histPos - static_cast<int>(k));
    return t;
}

// Takes `t` off the front of the view: from the text it shows, then, for a
// view that shows less than that, from the text gathered for it.  UI thread.
void trimView(UiViewSeam& u, const ViewTrim& t) {
    if (t.bytes == 0) return;
    std::string& gathered = historyState.gathered.text;
    const size_t shown = t.held - std::min(t.held, gathered.size());
    const size_t fromShown = std::min(t.bytes, shown);
    if (fromShown > 0) u.historyTrimFront(fromShown);
    gathered.erase(0, std::min(gathered.size(), t.bytes - fromShown));
}

// Stores one message; caller holds the lock.
void store(HistoryState& h, std::string_view msg) {
    HistoryList& l = h.history;
    size_t need = l.bytes.size() + msg.size();
    // Grow the byte buffer by half each time, as the list itself grows, so
    // the spare room stays proportionate (std::string would double).
    if (need > l.bytes.capacity()) l.bytes.reserve(std::max(need, l.bytes.capacity() * 3 / 2 + 64));
    l.bytes.append(msg);
    l.ends.push_back(l.bytes.size());
    h.histLen = static_cast<int>(l.ends.size());
}

}  // namespace

void historyAdd(std::string_view s, int flags) {
    std::string msg(s);
    for (char& c : msg) {
        if (c == '\x01')
            c = '\r';
        else if (c == '\x02')
            c = '\n';
    }
    runHistoryOp([&](bool withUi) {
        HistoryState& h = historyState;
        ViewTrim trim;
        {
            Lock g(h.lock);
            if (h.histLen >= h.histCap) {
                h.histCap = h.histCap * 3 / 2 + 1;
                h.history.ends.reserve(static_cast<size_t>(h.histCap));
            }
            if (!(flags & HIST_NOSTORE)) {
                trim = makeRoom(h, msg.size());
                store(h, msg);
                // No view to show it in: the view holds only what follows.
                if (!withUi) h.viewFirst = h.dropped + h.histLen;
                if (h.logfile) {
                    std::fwrite("\r\n", 1, 2, h.logfile.get());
                    std::fwrite(msg.data(), 1, msg.size(), h.logfile.get());
                }
            }
        }
        if (withUi) trimView(uiViews(), trim);
        if (!(flags & HIST_NOSTORE) && withUi) {
            if (h.gathered.active) {
                h.gathered.text += "\r\n";
                h.gathered.text += msg;
            } else {
                historyShowGathered();
                showInView(uiViews(), "\r\n" + msg);
            }
        }
        bool active = withUi && uiThread().isMainWindowActive();
        if ((flags & HIST_SPEAK) && (active || uiDialogs().isInDialog() || (flags & HIST_ALWAYS)))
            sayString(msg, (flags & HIST_INTERRUPT) != 0);
    });
}

bool historyRunBegin() {
    GatheredRun& gathered = historyState.gathered;
    // Nested runs go with the run around them; runs off the UI thread have
    // no view.
    if (gathered.active || !uiThread().isUiThread() || !uiViews().historyGathersRuns())
        return false;
    gathered.active = true;
    return true;
}

void historyRunEnd(bool moreFollows) {
    GatheredRun& gathered = historyState.gathered;
    gathered.active = false;
    if (moreFollows && gathered.text.size() < kMaxGatheredBytes) return;
    historyShowGathered();
}

void historyShowGathered() {
    UiViewSeam& u = uiViews();
    GatheredRun& gathered = historyState.gathered;
    // The gathered text belongs to the UI thread (callers without a main
    // window run elsewhere: there is no view to show it in).  Inside a run
    // it shows what the run gathered so far; the rest follows at its end.
    if (!uiThread().isUiThread() || gathered.text.empty()) return;
    showInView(u, gathered.text);
    gathered.text.clear();
    // A flood's text can be large: do not keep its buffer.
    if (gathered.text.capacity() > 2 * kMaxGatheredBytes) gathered.text = std::string();
}

void historyMove(int n) {
    runHistoryOp([&](bool) {
        std::string text;
        {
            Lock g(historyState.lock);
            HistoryState& h = historyState;
            int64_t pos = int64_t{h.histPos} + n;
            if (pos >= h.histLen)
                pos = h.histLen - 1;
            else if (pos < 0)
                pos = 0;
            h.histPos = static_cast<int>(pos);
            if (h.histPos < 0 || h.histPos >= h.histLen) return;
            text = std::string(h.history[h.histPos]);
        }
        sayString(text, true);
    });
}

void historySave() {
    runHistoryOp([](bool withUi) {
        if (!withUi) return;
        historyShowGathered();
        std::string path;
        if (!uiDialogs().saveFileDialog(&path)) return;
        std::string text = uiViews().historyText();
        LogFile f(std::fopen(path.c_str(), "wb"));
        if (!f) return;
        size_t done = 0;
        while (done < text.size()) {
            size_t n = std::fwrite(text.data() + done, 1, text.size() - done, f.get());
            if (n == 0) break;
            done += n;
        }
    });
}

bool historyOpenLog(const std::string& path, std::string_view startText) {
    // Owner-only: the log holds everything the server said to the player.
    LogFile f(openPrivateAppend(path));
    if (!f) return false;
    std::fwrite(startText.data(), 1, startText.size(), f.get());
    Lock g(historyState.lock);
    historyState.logfile = std::move(f);
    return true;
}

void historyCloseLog() {
    Lock g(historyState.lock);
    historyState.logfile.reset();
}

std::string historyAt(int i) {
    Lock g(historyState.lock);
    if (i < 0 || i >= historyState.histLen) return {};
    return std::string(historyState.history[i]);
}

HistoryCounts historyCounts() {
    Lock g(historyState.lock);
    const HistoryState& h = historyState;
    return {h.histLen, h.histCap, h.histPos, h.dropped,
            h.history.bytes.capacity() + h.history.ends.capacity() * sizeof(size_t)};
}

void setHistoryBudget(size_t bytes) {
    Lock g(historyState.lock);
    historyState.budget = bytes;
}

void historyReset() {
    Lock g(historyState.lock);
    HistoryState& h = historyState;
    h.history.bytes = std::string();
    h.history.ends = std::vector<size_t>();
    h.history.ends.reserve(16);
    h.histLen = 0;
    h.histCap = 16;
    h.histPos = -1;
    h.logfile.reset();
    h.gathered = GatheredRun{};
    h.budget = kHistoryBudget;
    h.dropped = 0;
    h.viewFirst = 0;
}

#include "history/history.h"

#include <algorithm>

#include "platform/atomic_file.h"
#include "platform/ui.h"
#include "speech/speech.h"

HistoryState historyState;

namespace {

using Lock = std::lock_guard<std::mutex>;

// Runs `body(withUi)` on the UI thread, or on this thread without the view
// when there is no main window.
template <class F>
void runHistoryOp(F&& body) {
    if (ui().isUiThread()) {
        body(true);
        return;
    }
    if (!uiCall([&] { body(true); })) body(false);
}

// Appends `text` (one or more "\r\n" + message) to the view and applies the
// reading rule: a player reading the view keeps the place; otherwise the
// view follows the newest message.  UI thread.
void showInView(UiSeam& u, const std::string& text) {
    int start = 0, end = 0;
    u.historyGetSelection(&start, &end);
    u.historyAppend(text);
    if (u.focusedControl() == UiControl::History)
        u.historySetSelection(start, end);
    else
        u.historyScrollToCaret();
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

std::string_view HistoryList::operator[](int i) const {
    size_t begin = i == 0 ? 0 : ends[static_cast<size_t>(i) - 1];
    return std::string_view(bytes).substr(begin, ends[static_cast<size_t>(i)] - begin);
}

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
        {
            Lock g(h.lock);
            if (h.histLen >= h.histCap) {
                h.histCap = h.histCap * 3 / 2 + 1;
                h.history.ends.reserve(static_cast<size_t>(h.histCap));
            }
            if (!(flags & HIST_NOSTORE)) {
                store(h, msg);
                if (h.logfile) {
                    std::fwrite("\r\n", 1, 2, h.logfile.get());
                    std::fwrite(msg.data(), 1, msg.size(), h.logfile.get());
                }
            }
        }
        if (!(flags & HIST_NOSTORE) && withUi) {
            if (h.gathered.active) {
                h.gathered.text += "\r\n";
                h.gathered.text += msg;
            } else {
                historyShowGathered();
                showInView(ui(), "\r\n" + msg);
            }
        }
        bool active = withUi && ui().isMainWindowActive();
        if ((flags & HIST_SPEAK) && (active || ui().isInDialog() || (flags & HIST_ALWAYS)))
            sayString(msg, (flags & HIST_INTERRUPT) != 0);
    });
}

void historyAddRun(const std::function<void()>& run, bool moreFollows) {
    UiSeam& u = ui();
    GatheredRun& gathered = historyState.gathered;
    // Nested runs go with the run around them; runs off the UI thread have
    // no view.
    if (gathered.active || !u.isUiThread() || !u.historyGathersRuns()) {
        run();
        return;
    }
    gathered.active = true;
    run();
    gathered.active = false;
    if (moreFollows && gathered.text.size() < kMaxGatheredBytes) return;
    historyShowGathered();
}

void historyShowGathered() {
    UiSeam& u = ui();
    GatheredRun& gathered = historyState.gathered;
    // The gathered text belongs to the UI thread (callers without a main
    // window run elsewhere: there is no view to show it in).  Inside a run
    // it shows what the run gathered so far; the rest follows at its end.
    if (!u.isUiThread() || gathered.text.empty()) return;
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
        if (!ui().saveFileDialog(&path)) return;
        std::string text = ui().historyText();
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
}

#include "app/tty/screen.h"

#include <algorithm>

#include "platform/text.h"

namespace {

// CP1252 bytes as the terminal may show them: controls are blanks, the five
// undefined bytes (whose UTF-8 forms are C1 controls, some of which
// terminals obey) are "?".
std::string cleanBytes(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f) c = ' ';
        else if (b == 0x81 || b == 0x8d || b == 0x8f || b == 0x90 || b == 0x9d) c = '?';
    }
    return out;
}

// Wraps one line (no line breaks, cleaned) into rows of at most `columns`
// characters; appends them, UTF-8, to *rows.
void wrapLine(std::string_view line, size_t columns, std::vector<std::string>* rows) {
    if (line.empty()) {
        rows->emplace_back();
        return;
    }
    while (!line.empty()) {
        if (line.size() <= columns) {
            rows->push_back(cp1252ToUtf8(line));
            return;
        }
        // Break after the last blank within the row; a word longer than a
        // row is split where the row ends.
        size_t cut = line.rfind(' ', columns);
        size_t next = cut;
        if (cut == std::string_view::npos || cut == 0) {
            cut = columns;
            next = columns;
        } else {
            next = cut + 1;
        }
        rows->push_back(cp1252ToUtf8(line.substr(0, cut)));
        line.remove_prefix(next);
    }
}

}  // namespace

std::string terminalText(std::string_view cp1252) { return cp1252ToUtf8(cleanBytes(cp1252)); }

std::vector<std::string> wrapRows(std::string_view cp1252, int columns) {
    const size_t width = static_cast<size_t>(std::max(columns, 8));
    std::vector<std::string> rows;
    size_t pos = 0;
    while (pos < cp1252.size()) {
        size_t end = cp1252.find_first_of("\r\n", pos);
        std::string_view line = cp1252.substr(pos, end == std::string_view::npos ? end : end - pos);
        wrapLine(cleanBytes(line), width, &rows);
        if (end == std::string_view::npos) break;
        pos = end + 1;
        if (cp1252[end] == '\r' && pos < cp1252.size() && cp1252[pos] == '\n') ++pos;
    }
    if (cp1252.empty()) rows.emplace_back();
    return rows;
}

PromptRow renderPrompt(std::string_view label, std::string_view text, int caret, bool secret,
                       int columns) {
    const int n = static_cast<int>(text.size());
    caret = std::clamp(caret, 0, n);
    const int labelLen = static_cast<int>(label.size());
    // One column stays free so that the cursor after the last character
    // never makes the terminal wrap.
    const int avail = std::max(4, columns - 1 - labelLen);
    // The window moves by half its width when the caret leaves it, so a
    // line typed past the edge is not redrawn at every key.
    const int step = std::max(1, avail / 2);
    const int start = n <= avail ? 0 : (caret / step) * step;
    const int len = std::min(avail, n - start);
    std::string shown = secret ? std::string(static_cast<size_t>(len), '*')
                               : cleanBytes(text.substr(static_cast<size_t>(start), static_cast<size_t>(len)));
    PromptRow r;
    r.text = cp1252ToUtf8(cleanBytes(label)) + cp1252ToUtf8(shown);
    r.column = labelLen + caret - start;
    return r;
}

TtyScreen::TtyScreen(std::function<void(const std::string&)> write, int columns)
    : write_(std::move(write)), columns_(std::max(columns, 8)) {}

void TtyScreen::setColumns(int columns) {
    std::lock_guard<std::mutex> lock(mu_);
    columns_ = std::max(columns, 8);
}

int TtyScreen::columns() {
    std::lock_guard<std::mutex> lock(mu_);
    return columns_;
}

std::string TtyScreen::promptBytes(bool whole) {
    PromptRow r = renderPrompt(prompt_.label, prompt_.text, prompt_.caret, prompt_.secret, columns_);
    std::string out = "\r";
    if (whole || r.text != drawn_.text) out += r.text + "\x1b[K\r";
    if (r.column > 0) out += "\x1b[" + std::to_string(r.column) + "C";
    drawn_ = r;
    return out;
}

void TtyScreen::emitRows(const std::vector<std::string>& rows) {
    std::string out;
    if (promptShown_) out += "\r\x1b[K";
    for (const std::string& row : rows) {
        out += row;
        out += "\r\n";
    }
    if (promptShown_) out += promptBytes(true);
    write_(out);
}

void TtyScreen::writeLines(std::string_view cp1252) {
    std::lock_guard<std::mutex> lock(mu_);
    historyLast_ = false;
    emitRows(wrapRows(cp1252, columns_));
}

void TtyScreen::writeHistory(std::string_view cp1252) {
    std::lock_guard<std::mutex> lock(mu_);
    emitRows(wrapRows(cp1252, columns_));
    lastHistory_.assign(cp1252);
    historyLast_ = true;
}

void TtyScreen::writeSpoken(std::string_view cp1252) {
    std::lock_guard<std::mutex> lock(mu_);
    if (historyLast_ && lastHistory_ == cp1252) {
        historyLast_ = false;
        return;
    }
    historyLast_ = false;
    emitRows(wrapRows(cp1252, columns_));
}

void TtyScreen::showPrompt(const Prompt& p) {
    std::lock_guard<std::mutex> lock(mu_);
    const bool whole = !promptShown_ || p.label != prompt_.label || p.secret != prompt_.secret;
    prompt_ = p;
    promptShown_ = true;
    write_(promptBytes(whole));
}

void TtyScreen::hidePrompt() {
    std::lock_guard<std::mutex> lock(mu_);
    if (!promptShown_) return;
    promptShown_ = false;
    drawn_ = {};
    write_("\r\x1b[K");
}

void TtyScreen::redraw() {
    std::lock_guard<std::mutex> lock(mu_);
    if (promptShown_) write_(promptBytes(true));
}

#include "files/http_reader.h"

#include <algorithm>
#include <cctype>

#include "platform/fields.h"

namespace {
bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Decimal digits only, no sign, at most 18 digits (no overflow); -1 otherwise.
int64_t parseLength(std::string_view s) {
    if (s.empty() || s.size() > 18) return -1;
    const DigitRun r = leadingDigits(s);
    if (r.length != s.size()) return -1;
    return static_cast<int64_t>(r.wrapped);
}

// Reads the status line and the headers of `head` (which ends with the
// blank line).  False when the status line is not "HTTP/<x> <3 digits>..."
// or Content-Length is unreadable or given twice with different values.
bool parseHead(std::string_view head, HttpReader* r) {
    size_t eol = head.find("\r\n");
    std::string_view line = head.substr(0, eol);
    if (line.substr(0, 5) != "HTTP/") return false;
    size_t sp = line.find(' ');
    if (sp == std::string_view::npos || line.size() < sp + 4) return false;
    const DigitRun status = leadingDigits(line.substr(sp + 1, 3));
    if (status.length != 3) return false;
    if (line.size() > sp + 4 && line[sp + 4] != ' ') return false;
    r->status = static_cast<int>(status.wrapped);
    size_t pos = eol + 2;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string_view::npos) end = head.size();
        std::string_view h = head.substr(pos, end - pos);
        pos = end + 2;
        size_t colon = h.find(':');
        if (colon == std::string_view::npos) continue;
        if (equalsNoCase(trim(h.substr(0, colon)), "Content-Length")) {
            int64_t v = parseLength(trim(h.substr(colon + 1)));
            if (v < 0 || (r->contentLength >= 0 && r->contentLength != v)) return false;
            r->contentLength = v;
        }
    }
    return true;
}
}  // namespace

std::string_view httpFeed(HttpReader* r, std::string_view chunk) {
    std::string_view body;
    if (r->state == HttpState::Head) {
        // Search only where the separator can newly appear: it may straddle
        // the previous chunk's last three bytes.
        size_t from = r->head.size() >= 3 ? r->head.size() - 3 : 0;
        size_t keep = std::min(chunk.size(), kHttpMaxHead + 1 - std::min(r->head.size(), kHttpMaxHead + 1));
        size_t before = r->head.size();
        r->head.append(chunk.substr(0, keep));
        size_t sep = r->head.find("\r\n\r\n", from);
        if (sep == std::string::npos) {
            if (r->head.size() > kHttpMaxHead) r->state = HttpState::Malformed;
            return {};
        }
        size_t headEnd = sep + 4;
        size_t bodyStart = headEnd - before;  // offset of the body in `chunk`
        r->head.resize(headEnd);
        if (!parseHead(r->head, r)) {
            r->state = HttpState::Malformed;
            return {};
        }
        r->state = HttpState::Body;
        body = chunk.substr(bodyStart);
    } else if (r->state == HttpState::Body) {
        body = chunk;
    } else {
        return {};
    }
    if (r->contentLength >= 0) {
        int64_t left = r->contentLength - r->bodyReceived;
        if (static_cast<int64_t>(body.size()) >= left) {
            body = body.substr(0, static_cast<size_t>(left));
            r->state = HttpState::Complete;
        }
    }
    r->bodyReceived += static_cast<int64_t>(body.size());
    return body;
}

bool httpBodyComplete(const HttpReader& r) {
    if (r.status != 200) return false;
    if (r.state == HttpState::Complete) return true;
    return r.state == HttpState::Body && r.contentLength < 0;
}

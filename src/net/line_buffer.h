// The receive thread's line splitter: a fixed buffer that the socket fills
// and that yields each complete line in place.  No I/O, no allocation after
// construction.
#pragma once

#include <cstring>
#include <memory>
#include <string_view>

#include "platform/caps.h"

class LineBuffer {
public:
    static constexpr size_t kSize = kMaxLineBytes;

    // `size` is the whole buffer, terminator included; tests and the fuzz
    // target use small ones to reach the over-long line path quickly.
    explicit LineBuffer(size_t size = kSize) : size_(size < 2 ? 2 : size), buf_(new char[size_]()) {}

    // Forgets any unfinished line.
    void reset() {
        held_ = 0;
        discarding_ = false;
    }

    // Where the next receive writes and how much it may write: the free
    // space less one byte kept for the terminator.  Never 0.
    char* writePtr() { return buf_.get() + held_; }
    size_t writeSpace() const { return size_ - 1 - held_; }

    // Takes `n` freshly received bytes and calls fn(std::string_view line)
    // for each complete line, in order.  The line excludes its "\n" (a "\r"
    // before it stays), is followed by a zero byte, and lives in the buffer:
    // valid only until fn returns.  Zero bytes inside the stream are data and
    // hide nothing.  A line that cannot fit the buffer (more than size - 2
    // bytes before its "\n") is dropped whole; the lines after it still come.
    template <class F>
    void commit(size_t n, F&& fn) {
        commit(n, fn, [] {});
    }

    // As above; `linesDone()` runs after the last complete line of these
    // bytes was passed to fn and before the buffer is reused, so views the
    // caller kept from fn are still valid there (and no longer after).
    template <class F, class D>
    void commit(size_t n, F&& fn, D&& linesDone) {
        size_t end = held_ + n;
        char* b = buf_.get();
        size_t start = 0;    // start of the unfinished line
        size_t pos = held_;  // the bytes held already were searched
        if (discarding_) {
            void* nl = std::memchr(b + pos, '\n', end - pos);
            if (!nl) {
                held_ = 0;
                linesDone();
                return;
            }
            discarding_ = false;
            pos = start = static_cast<size_t>(static_cast<char*>(nl) - b) + 1;
        }
        while (pos < end) {
            void* nl = std::memchr(b + pos, '\n', end - pos);
            if (!nl) break;
            size_t at = static_cast<size_t>(static_cast<char*>(nl) - b);
            b[at] = '\0';
            fn(std::string_view(b + start, at - start));
            pos = start = at + 1;
        }
        linesDone();
        size_t rest = end - start;
        if (rest == size_ - 1) {
            // Full and no "\n": the line is too long for the buffer.
            discarding_ = true;
            held_ = 0;
            return;
        }
        if (start > 0 && rest > 0) std::memmove(b, b + start, rest);
        held_ = rest;
        b[held_] = '\0';
    }

    // Bytes of an unfinished line currently held.
    size_t held() const { return held_; }

private:
    size_t size_;
    std::unique_ptr<char[]> buf_;
    size_t held_ = 0;  // bytes in the buffer: one unfinished line, no "\n"
    bool discarding_ = false;
};

// The receive path without a socket: arbitrary bytes, cut into arbitrary
// receive sizes, through the line splitter, the command parser and the
// receive thread's part of each line, which stores "status " and
// "challenge" into the connection, drops what no command handles, and
// queues the rest for the dispatch thread exactly as received, with the
// command it parsed.  Every line also goes through the sound description
// parser, whose views must stay inside the line.
// Every line also goes through the number readers of platform/fields.h,
// which the other targets reach only through their own parsers.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/agc.h"
#include "net/line_buffer.h"
#include "net/protocol.h"
#include "platform/fields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A small buffer so that over-long lines are reached too.
    static LineBuffer* lb = new LineBuffer(64);
    lb->reset();
    // A connection that was never opened, with no handler installed: only
    // the rows the connection keeps for itself act ("ping" finds no current
    // connection and sends nothing).
    AGCHandle h;
    ReceivedChunk queued;
    size_t pos = 0;
    // The first byte picks the receive size, so splits fall everywhere.
    size_t chunk = size ? (data[0] % 80) + 1 : 1;
    while (pos < size) {
        size_t n = size - pos;
        if (n > chunk) n = chunk;
        if (n > lb->writeSpace()) n = lb->writeSpace();
        std::memcpy(lb->writePtr(), data + pos, n);
        pos += n;
        lb->commit(n, [&](std::string_view line) {
            const DigitRun d = leadingDigits(line);
            if (d.length > line.size() ||
                (d.length < line.size() && line[d.length] >= '0' && line[d.length] <= '9'))
                __builtin_trap();
            // Up to 19 digits fit 64 bits: both readings agree.
            if (d.length <= 19 && d.wrapped != d.saturated) __builtin_trap();
            const uint32_t u = readUint32(line);
            if (d.saturated <= UINT32_MAX ? u != d.saturated : u != UINT32_MAX) __builtin_trap();
            // The C library's reader, clamped to 32 bits, is the reference.
            const long ref = std::strtol(std::string(line).c_str(), nullptr, 10);
            if (readInt32(line) != std::clamp<long>(ref, INT32_MIN, INT32_MAX)) __builtin_trap();
            ParsedCommand c;
            bool known = parseCommand(line, &c);
            if (known && c.payload.data() &&
                (c.payload.data() < line.data() ||
                 c.payload.data() + c.payload.size() > line.data() + line.size()))
                __builtin_trap();
            const size_t linesBefore = queued.lines.size(), bytesBefore = queued.bytes.size();
            agc_receiveLine(&h, &queued, line);
            const bool kept = queued.lines.size() == linesBefore + 1;
            const bool forDispatch =
                known && c.command != ServerCommand::Status && c.command != ServerCommand::Challenge;
            if (kept != forDispatch || (!kept && queued.lines.size() != linesBefore)) __builtin_trap();
            if (kept) {
                const QueuedLine& q = queued.lines.back();
                const size_t at = q.at, len = q.length;
                if (at != bytesBefore || len != line.size() || queued.bytes.size() != at + len + 1 ||
                    queued.bytes.compare(at, len, line) != 0 || queued.bytes.back() != '\0')
                    __builtin_trap();
                // The dispatch thread gets the command the receive thread
                // parsed, its payload the same bytes, now in the queue.
                const ParsedCommand d = queuedCommand(queued, q);
                if (d.command != c.command || d.required != c.required || d.payload != c.payload ||
                    (!d.payload.empty() &&
                     (d.payload.data() < queued.bytes.data() + at ||
                      d.payload.data() + d.payload.size() != queued.bytes.data() + at + len)))
                    __builtin_trap();
            }
            if (receivedChunkFootprint(queued) < queued.bytes.size() + queued.lines.size() * 8)
                __builtin_trap();
            const SoundSpec spec = parseSoundSpec(line);
            if (spec.text.data() != line.data() || spec.text.size() != line.size() ||
                (!spec.name.empty() &&
                 (spec.name.data() < line.data() ||
                  spec.name.data() + spec.name.size() > line.data() + line.size())) ||
                !std::isfinite(spec.volume) || !std::isfinite(spec.pan) ||
                !std::isfinite(spec.semitones))
                __builtin_trap();
            if (!known) return;
            if (c.command == ServerCommand::Status && h.status.load() != readInt32(c.payload))
                __builtin_trap();
            if (c.command == ServerCommand::Challenge && h.challenge != c.payload) __builtin_trap();
        });
    }
    return 0;
}

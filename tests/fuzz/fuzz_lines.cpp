// The receive path without a socket: arbitrary bytes, cut into arbitrary
// receive sizes, through the line splitter and the command parser.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "net/line_buffer.h"
#include "net/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A small buffer so that over-long lines are reached too.
    static LineBuffer* lb = new LineBuffer(64);
    lb->reset();
    size_t pos = 0;
    // The first byte picks the receive size, so splits fall everywhere.
    size_t chunk = size ? (data[0] % 80) + 1 : 1;
    size_t lines = 0;
    while (pos < size) {
        size_t n = size - pos;
        if (n > chunk) n = chunk;
        if (n > lb->writeSpace()) n = lb->writeSpace();
        std::memcpy(lb->writePtr(), data + pos, n);
        pos += n;
        lb->commit(n, [&](std::string_view line) {
            ++lines;
            ParsedCommand c;
            if (parseCommand(line, &c)) {
                if (c.payload.data() && (c.payload.data() < line.data() ||
                                         c.payload.data() + c.payload.size() >
                                             line.data() + line.size()))
                    __builtin_trap();
                if (c.command == ServerCommand::Status) (void)parseStatus(c.payload);
            }
        });
    }
    return 0;
}

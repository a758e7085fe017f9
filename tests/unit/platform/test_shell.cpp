#include <gtest/gtest.h>

#include "platform/shell.h"

namespace {
// A file URI names exactly the path's bytes: everything that a URI reader
// would take for syntax (space, "%", "#", "?", ":") or that is not ASCII
// (CP1252 or UTF-8 names alike) is percent-encoded.
TEST(Shell, FileUri) {
    struct Case {
        const char *path, *uri;
    } cases[] = {
        {"/tmp/kordo/setup.sh", "file:///tmp/kordo/setup.sh"},
        {"/home/a b/Kordo-1.0_x~/setup.exe", "file:///home/a%20b/Kordo-1.0_x~/setup.exe"},
        {"/p/100%#1?.sh", "file:///p/100%25%231%3F.sh"},
        {"/p/a:b;c+d&e=f", "file:///p/a%3Ab%3Bc%2Bd%26e%3Df"},
        {"/p/mise \xE0 jour", "file:///p/mise%20%E0%20jour"},  // CP1252 byte
        {"/p/\xC3\xA9t\xC3\xA9", "file:///p/%C3%A9t%C3%A9"},   // UTF-8 bytes
        {"/p/\x01\x7F\xFF", "file:///p/%01%7F%FF"},
    };
    for (const Case& c : cases) EXPECT_EQ(fileUri(c.path), c.uri) << c.path;
}
}  // namespace

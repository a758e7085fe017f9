// The freshness check: the server lists game files, each optionally after
// the date of its copy ("+<seconds since 1970>"), and the client fetches
// those that are missing or older.  Runs on the connection's dispatch thread,
// whose later lines wait for the downloads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One file of a check-file list and the date that applies to it.
struct CheckEntry {
    std::string name;
    uint64_t date;  // seconds since 1970-01-01 UTC; 1 when the list gave none
};

// Parses the payload of "checkfile ": tokens separated by runs of spaces; a
// "+" token sets the date of the next file only (digits read up to the first
// non-digit, none gives 0, wrapping modulo 2^64); other tokens are file names.
// A trailing date with no file has no effect.  Pure.
std::vector<CheckEntry> parseCheckList(std::string_view payload);

// The handler: for each entry whose local last-write time is before its
// date (equal counts as fresh), adds "Téléchargement de %s..." to the
// history with flags 1, downloads the file, then adds
// "Téléchargement de %s terminé." (also when the download failed or the
// name was refused).  Names are resolved under filesRoot().
void checkFiles(std::string_view payload);

// Time `r` of file `fn` (0 change/creation, 1 last access, 2 last write) in
// whole seconds since 1970-01-01 UTC; 0 when it is not a readable regular
// file.  A time before 1970 wraps to a very large value (such a file counts
// as newer than any date).
uint64_t fileTimesMs(const std::string& fn, int r);

// Platform file time (100-ns units since 1601-01-01 UTC) to milliseconds
// since 1970-01-01 UTC, in unsigned arithmetic: times before 1970 wrap.
uint64_t ft2ms(uint64_t ft);

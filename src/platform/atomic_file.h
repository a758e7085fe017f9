// Whole-file replacement that never leaves a half-written file behind.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Writes `bytes` (unchanged, no line-end translation) to "<path>.tmp", flushes
// it to the disk, then renames it over `path` in one step.  On any failure
// `path` keeps its previous content, the temporary file is removed and the
// result is false.  `path` is in the system's 8-bit code page.  Two writers of
// the same path at once are not supported (they share the temporary name).
bool writeFileAtomic(const std::string& path, std::string_view bytes);

// Reads the whole file into *bytes.  False when it cannot be opened or read.
bool readWholeFile(const std::string& path, std::string* bytes);

// Renames `from` over `to` in one step, replacing an existing `to` (which
// std::rename refuses on Windows).  False when it could not be done; `to`
// then keeps its previous content.
bool replaceFile(const std::string& from, const std::string& to);

// Creates `path` as a new, empty file opened for binary writing, only when
// nothing of that name exists yet: an existing file is left as it is and a
// link is never followed.  Null when it could not be created; *existed then
// says whether something of that name was in the way (another name may do).
std::FILE* createNewFile(const std::string& path, bool* existed);

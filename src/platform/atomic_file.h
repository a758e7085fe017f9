// Whole-file replacement that never leaves a half-written file behind, and
// the private files of the game (configuration, session logs).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Writes `bytes` (unchanged, no line-end translation) to "<path>.tmp", flushes
// it to the disk, then renames it over `path` in one step.  On any failure
// `path` keeps its previous content, the temporary file is removed and the
// result is false.  `path` is in the system's 8-bit code page.  Two writers of
// the same path at once are not supported (they share the temporary name).
// On POSIX systems the new file is readable and writable by its owner alone
// (0600), whatever mode an earlier file or temporary file had: every file
// written this way holds something private (the configuration holds the
// passwords, the practice server's accounts their digests).  A temporary
// file left by an earlier run, or a link put in its place, is removed, never
// written through.  Windows keeps the folder's inherited permissions.
bool writeFileAtomic(const std::string& path, std::string_view bytes);

// Closes the plain file at `path` to everyone but its owner (0644 becomes
// 0600); POSIX only, nothing on Windows.  A link is not followed.  False
// when it could not be done (not there, not a plain file, not ours).
bool narrowToOwner(const std::string& path);

// Opens `path` for appending in binary mode (as fopen "ab"), for the session
// log.  On POSIX systems a new file is created 0600 and an existing plain
// file is closed to everyone but its owner, 0644 becoming 0600 (a link is
// followed, as fopen does).  Null when it
// cannot be opened or narrowed.  The caller owns the stream and closes it with
// fclose.
std::FILE* openPrivateAppend(const std::string& path);

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

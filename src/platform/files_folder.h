// Where a Linux program of this project keeps the files it writes
// (configuration, session logs, sounds, downloads, extension libraries, the
// practice server's accounts).
//
// A program run from a writable folder outside an install tree -- its build
// folder, or a copy a player made -- keeps them in its own folder, as it
// always has.  An installed program (or one whose folder it cannot write)
// keeps them in the player's data folder of the XDG base directories,
// "$XDG_DATA_HOME/<name>", by default "~/.local/share/<name>".
//
// Paths are the file system's bytes (UTF-8 on today's systems).  POSIX only.
#pragma once

#include <string>

// What the choice depends on: gathered by probeFolderFacts, set by hand in
// tests.
struct FolderFacts {
    std::string exeFolder;           // the running executable's folder; empty when unknown
    bool exeFolderWritable = false;  // the current user may create files in it
    bool installed = false;          // isInstalledTree(exeFolder, <configured prefix>)
    std::string xdgDataHome;         // $XDG_DATA_HOME as set: maybe empty or relative
    std::string home;                // $HOME, else the password database's home
};

// The per-user data folder: $XDG_DATA_HOME when it is an absolute path (the
// base-directory rules ignore a relative one), else "$HOME/.local/share";
// empty when neither is known.  No trailing separator.
std::string userDataFolder(const FolderFacts& f);

// The folder the program keeps its files in: exeFolder when it is writable
// and not in an install tree, else "<userDataFolder>/<name>".  Empty when
// neither can be named.
std::string chooseFilesFolder(const FolderFacts& f, const std::string& name);

// True when `exeFolder` is the bin/ folder of an install tree: "<prefix>/bin"
// itself, or any folder named "bin" with "share/kordo/" beside it (the same
// tree staged under DESTDIR or unpacked from the package elsewhere).
bool isInstalledTree(const std::string& exeFolder, const std::string& prefix);

// The facts for the running program: its folder from /proc/self/exe, the
// install prefix it was configured with, the environment.
FolderFacts probeFolderFacts();

// The folder for `name` (see chooseFilesFolder) for the running program.
std::string filesFolder(const std::string& name);

// Creates `folder` and any missing parent (a folder created here is 0700),
// then makes sure the folder itself is private, since the configuration in
// it holds passwords: an existing one that others may enter or read is
// narrowed to its owner (0755 becomes 0700); one that is a symbolic link or
// belongs to another user is refused.  False with a one-line reason in
// *error, shown to the player as a start-up failure, when it cannot be made
// or is refused.
bool makeFilesFolder(const std::string& folder, std::string* error);

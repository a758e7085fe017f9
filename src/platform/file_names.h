// Checks of file names given by the server, shared by every unit that maps
// such a name to a file of the program folder (downloads, sounds, music).
// Names are CP1252 bytes with "/" separators.
#pragma once

#include <string_view>

// A Windows device name used as a path component: CON, PRN, AUX, NUL, COM
// or LPT with one digit (or CP1252 superscript 1, 2 or 3), CONIN$, CONOUT$,
// in any letter case, alone or followed by blanks or an extension.  Windows
// opens the device for such a component in any folder ("sounds/nul.ogg" is
// the null device), so it never names a file of the program folder.
bool isWindowsDeviceName(std::string_view part);

// True for a relative path that stays inside its folder and has one spelling
// per file: not empty, no leading "/", no drive letter or other ":", no "\",
// no "." or ".." component, no empty component, no control byte, and no
// component that Windows takes for a device, on every platform alike.
bool isSafeRelativePath(std::string_view fn);

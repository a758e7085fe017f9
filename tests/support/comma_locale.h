// A C locale whose decimal point is ",", as the desktop front-end switches
// to on a French desktop: for checking that texts written with numbers do
// not follow it.
#pragma once

#include <clocale>

// Switches LC_ALL to such a locale and returns true, or keeps (restores)
// the "C" locale and returns false when none is installed.  The caller puts
// "C" back when done.
inline bool useCommaLocale() {
    for (const char* name : {"fr_FR.UTF-8", "fr_FR.utf8", "de_DE.UTF-8", "fr_FR"})
        if (std::setlocale(LC_ALL, name) && std::localeconv()->decimal_point[0] == ',') return true;
    std::setlocale(LC_ALL, "C");
    return false;
}

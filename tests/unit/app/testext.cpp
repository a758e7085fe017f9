// An extension library for the tests: functions of the form the client
// calls, (id, argument) -> text owned by the library.
#include <cstdint>
#include <string>

#include "app/extensions.h"

extern "C" {
__attribute__((visibility("default"))) const char* KORDO_EXT_CALL echo(int32_t, const char* arg) {
    return arg ? arg : "(none)";
}
__attribute__((visibility("default"))) const char* KORDO_EXT_CALL nothing(int32_t, const char*) { return nullptr; }
// Longer than any fixed reply buffer: the reply must carry all of it.
__attribute__((visibility("default"))) const char* KORDO_EXT_CALL big(int32_t, const char*) {
    static const std::string text(100000, 'z');
    return text.c_str();
}
}

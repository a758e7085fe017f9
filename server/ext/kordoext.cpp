// The practice server's extension library, called by the client on a "dllq"
// request.  Exported with C names; on 32-bit Windows it would need stdcall.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

extern "C" {

// (request id, argument text or null) -> a text owned by this library,
// valid until the next call on the same thread.  Counts the argument's
// bytes and gives it back reversed, which shows the call really ran here.
__attribute__((visibility("default"))) const char* kordo_ext_query(int32_t id, const char* argument) {
    thread_local std::string answer;
    std::string arg = argument ? argument : "";
    std::string reversed(arg.rbegin(), arg.rend());
    char head[64];
    std::snprintf(head, sizeof head, "requete %d, %zu octets, a l'envers : ", static_cast<int>(id), arg.size());
    answer = head + reversed;
    return answer.c_str();
}

}  // extern "C"

#include "platform/thread_name.h"

#if defined(__linux__)
#include <pthread.h>

#include <cstring>

void setThreadName(const char* name) {
    char cut[16];
    std::strncpy(cut, name, sizeof cut - 1);
    cut[sizeof cut - 1] = '\0';
    pthread_setname_np(pthread_self(), cut);
}
#else
void setThreadName(const char*) {}
#endif

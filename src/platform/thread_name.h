// Names the calling thread as tools show it (/proc/PID/task/TID/comm, top,
// gdb), so that a thread's wake-ups and CPU can be told apart.  At most 15
// bytes are kept.  Does nothing where the platform has no such name.
#pragma once

void setThreadName(const char* name);

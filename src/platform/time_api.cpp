// File time comparison and sleeping.
#include <sched.h>

#include <cerrno>
#include <ctime>

#include "msgstore/platform.h"

LONG CompareFileTime(const FILETIME* fileTime1, const FILETIME* fileTime2) {
  if (fileTime1 == nullptr || fileTime2 == nullptr) return 0;
  uint64_t a = (static_cast<uint64_t>(fileTime1->dwHighDateTime) << 32) | fileTime1->dwLowDateTime;
  uint64_t b = (static_cast<uint64_t>(fileTime2->dwHighDateTime) << 32) | fileTime2->dwLowDateTime;
  return a < b ? -1 : a > b ? 1 : 0;
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    ::sched_yield();
    return;
  }
  struct timespec remaining;
  remaining.tv_sec = static_cast<time_t>(milliseconds / 1000);
  remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

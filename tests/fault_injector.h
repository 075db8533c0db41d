// A test's hand in the platform's table of system calls: counting the
// file-system calls and failing a chosen one.
#ifndef MSGSTORE_TESTS_FAULT_INJECTOR_H_
#define MSGSTORE_TESTS_FAULT_INJECTOR_H_

#include <cerrno>

#include "platform/sys_calls.h"

namespace msgstore_test {

// Puts itself in the platform's system-call table for its lifetime: makes the
// k-th file-system call after Arm fail with a chosen errno (the call is not
// made; a failing close still closes). Locks are never failed, as a lock
// waits rather than fails, and fsync returns at once: what is tested is the
// order of the steps, not the disk.
class FaultInjector {
 public:
  FaultInjector() {
    auto& t = msgstore::platform::Sys();
    saved_ = t;
#define MSGSTORE_HOOK(slot)                                           \
  t.slot = [](auto... a) {                                            \
    if (Fault()) return static_cast<decltype(saved_.slot(a...))>(-1); \
    return saved_.slot(a...);                                         \
  }
    MSGSTORE_HOOK(open);
    MSGSTORE_HOOK(read);
    MSGSTORE_HOOK(write);
    MSGSTORE_HOOK(rename);
    MSGSTORE_HOOK(link);
    MSGSTORE_HOOK(unlink);
    MSGSTORE_HOOK(mkdir);
    MSGSTORE_HOOK(rmdir);
    MSGSTORE_HOOK(lseek);
    MSGSTORE_HOOK(fstat);
    MSGSTORE_HOOK(stat);
    MSGSTORE_HOOK(lstat);
    MSGSTORE_HOOK(fstatat);
    MSGSTORE_HOOK(getdents);
    MSGSTORE_HOOK(statvfs);
#undef MSGSTORE_HOOK
    t.fsync = [](int) { return Fault() ? -1 : 0; };
    t.close = [](int fd) {
      const int result = saved_.close(fd);
      return Fault() ? -1 : result;
    };
  }
  ~FaultInjector() { msgstore::platform::Sys() = saved_; }
  // From now on, the k-th call (from 1) fails with error.
  void Arm(long k, int error) { state_ = {0, k, error, false}; }
  void Disarm() { state_.failAt = 0; }
  bool hit() const { return state_.hit; }  // the fault was reached

 private:
  struct State {
    long calls, failAt;
    int error;
    bool hit;
  };
  static inline State state_{0, 0, 0, false};
  static inline msgstore::platform::SysCalls saved_;
  static bool Fault() {
    if (++state_.calls != state_.failAt) return false;
    state_.hit = true;
    errno = state_.error;
    return true;
  }
};

}  // namespace msgstore_test

#endif  // MSGSTORE_TESTS_FAULT_INJECTOR_H_

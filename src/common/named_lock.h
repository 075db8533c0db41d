// Scoped hold of a system-wide named mutex, taken the way every store
// operation takes its mutex: created without an initial owner, waited for
// without a time-out, released and closed on the way out. When the mutex
// cannot be created the operation goes on unlocked.
#ifndef MSGSTORE_COMMON_NAMED_LOCK_H_
#define MSGSTORE_COMMON_NAMED_LOCK_H_

#include <optional>

#include "msgstore/types.h"
#include "platform/named_mutex.h"

namespace msgstore {

class NamedLock {
 public:
  // With yield, Sleep(0) comes before taking and after releasing the mutex.
  NamedLock(const WCHAR* name, bool yield);
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

 private:
  std::optional<platform::HeldNamedMutex> mutex_;
  bool yield_;
};

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_NAMED_LOCK_H_

// The library's own scoped holds of named mutexes: the same mutex that
// CreateMutexW gives for the name, taken and let go the same way, without a
// handle in the process's handle table, as no caller ever sees it.
#ifndef MSGSTORE_PLATFORM_NAMED_MUTEX_H_
#define MSGSTORE_PLATFORM_NAMED_MUTEX_H_

#include <memory>

#include "msgstore/types.h"

namespace msgstore {
namespace platform {

class HandleObject;

// CreateMutexW (no initial owner) and WaitForSingleObject without a time-out
// when made; ReleaseMutex and CloseHandle when it goes. Without a mutex (it
// cannot be created) or when the wait fails, nothing is held.
class HeldNamedMutex {
 public:
  explicit HeldNamedMutex(const WCHAR* name);
  ~HeldNamedMutex();
  HeldNamedMutex(const HeldNamedMutex&) = delete;
  HeldNamedMutex& operator=(const HeldNamedMutex&) = delete;

 private:
  // A name whose slot in the root's table is known is taken there at once:
  // the table's mapping is kept while the slot's mutex is held.
  std::shared_ptr<void> table_;
  void* slot_ = nullptr;
  // Any other goes through a handle object of its own.
  std::shared_ptr<HandleObject> handle_;
};

}  // namespace platform
}  // namespace msgstore

#endif  // MSGSTORE_PLATFORM_NAMED_MUTEX_H_

// Scoped hold of a system-wide named mutex.
#include "common/named_lock.h"

#include "msgstore/platform.h"

namespace msgstore {

NamedLock::NamedLock(const WCHAR* name, bool yield) : yield_(yield) {
  if (yield_) Sleep(0);
  mutex_ = CreateMutexW(nullptr, FALSE, name);
  // Without a mutex the operation goes on unlocked.
  if (mutex_ != nullptr) WaitForSingleObject(mutex_, INFINITE);
}

NamedLock::~NamedLock() {
  if (mutex_ != nullptr) {
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }
  if (yield_) Sleep(0);
}

}  // namespace msgstore

// Scoped hold of a system-wide named mutex.
#include "common/named_lock.h"

#include "msgstore/platform.h"
#include "platform/named_mutex.h"

namespace msgstore {

NamedLock::NamedLock(const WCHAR* name, bool yield) : yield_(yield) {
  if (yield_) Sleep(0);
  // Without a mutex the operation goes on unlocked.
  mutex_ = platform::TakeNamedMutex(name);
}

NamedLock::~NamedLock() {
  platform::LetNamedMutex(std::move(mutex_));
  if (yield_) Sleep(0);
}

}  // namespace msgstore

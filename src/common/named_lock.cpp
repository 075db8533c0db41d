// Scoped hold of a system-wide named mutex.
#include "common/named_lock.h"

#include "msgstore/platform.h"

namespace msgstore {

NamedLock::NamedLock(const WCHAR* name, bool yield) : yield_(yield) {
  if (yield_) Sleep(0);
  // Without a mutex the operation goes on unlocked.
  mutex_.emplace(name);
}

NamedLock::~NamedLock() {
  mutex_.reset();
  if (yield_) Sleep(0);
}

}  // namespace msgstore

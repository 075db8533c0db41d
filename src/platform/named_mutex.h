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

// CreateMutexW (no initial owner) and WaitForSingleObject without a
// time-out; null when the mutex cannot be created. A wait that fails leaves
// the mutex not held, as it leaves a handle.
std::shared_ptr<HandleObject> TakeNamedMutex(const WCHAR* name);
// ReleaseMutex and CloseHandle of what TakeNamedMutex gave.
void LetNamedMutex(std::shared_ptr<HandleObject> mutex);

}  // namespace platform
}  // namespace msgstore

#endif  // MSGSTORE_PLATFORM_NAMED_MUTEX_H_

// The names that a find would report, without what else it reports: for the
// stores' own folder scans, which use only the names.
#ifndef MSGSTORE_PLATFORM_FIND_NAMES_H_
#define MSGSTORE_PLATFORM_FIND_NAMES_H_

#include <functional>
#include <string>

#include "msgstore/types.h"

namespace msgstore {
namespace platform {

// Calls visit with the name of each entry that FindFirstFileW/FindNextFileW
// would report for fileName (a folder and a pattern), in the same order,
// until visit returns false; the name is cut to MAX_PATH - 1 characters. No
// entry is looked at beyond its name. Returns the number of names visited.
// *unread (when given) tells whether a folder that is there could not be read
// whole, which a caller must not take for an empty one.
size_t ForEachFoundName(const WCHAR* fileName, const std::function<bool(const WCHAR* name)>& visit,
                        bool* unread = nullptr);

}  // namespace platform
}  // namespace msgstore

#endif  // MSGSTORE_PLATFORM_FIND_NAMES_H_

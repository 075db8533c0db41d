// What is at a device path, telling a name that is missing from one that
// could not be looked at: GetFileAttributesW fails alike for both, and a
// disk that fails to answer must not pass for one without the file.
#ifndef MSGSTORE_PLATFORM_PATH_STATE_H_
#define MSGSTORE_PLATFORM_PATH_STATE_H_

#include "msgstore/types.h"

namespace msgstore {
namespace platform {

enum class PathState {
  kMissing,    // nothing has the name
  kFile,       // a file (or anything else that is not a directory)
  kDirectory,  // a directory
  kUnknown,    // the look failed (an I/O error, no permission, ...)
};

PathState StateOf(const WCHAR* path);

// Whether nothing has the name; false also when that could not be told.
inline bool IsMissing(const WCHAR* path) { return StateOf(path) == PathState::kMissing; }

}  // namespace platform
}  // namespace msgstore

#endif  // MSGSTORE_PLATFORM_PATH_STATE_H_

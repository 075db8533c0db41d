// Internal helpers of the platform layer: text conversion, the device root in
// use and the mapping of device paths onto host paths.
#ifndef MSGSTORE_PLATFORM_HOST_PATH_H_
#define MSGSTORE_PLATFORM_HOST_PATH_H_

#include <cerrno>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "msgstore/types.h"

namespace msgstore {
namespace platform {

// UTF-16 <-> UTF-8; malformed input becomes U+FFFD.
std::string ToUtf8(const std::u16string& text);
std::u16string ToUtf16(const std::string& text);
// A zero-terminated wide string, or an empty one for nullptr.
std::u16string FromWide(const WCHAR* text);
// The same without a copy: valid while text is.
std::u16string_view WideView(const WCHAR* text);

// ASCII-only case folding, as the handset's file system compares names.
std::string AsciiLower(std::string text);
bool AsciiIEquals(std::string_view a, std::string_view b);

// The device root after making sure that it and the phone volume exist.
std::string UsedDeviceRoot();
// The same; *readyVersion receives the root's version (DeviceRootVersion)
// once the root is made, kRootNotReady while it could not be.
constexpr unsigned kRootNotReady = ~0u;
std::string UsedDeviceRoot(unsigned* readyVersion);
// Changes whenever SetDeviceRoot sets another root (or the same again).
unsigned DeviceRootVersion();
// UsedDeviceRoot as this thread last had it, taken anew only when the root
// was set again since or was not made then. The reference holds until this
// thread's next call. *readyVersion (when given) receives the root's
// version, kRootNotReady while it is not made.
const std::string& ThisThreadsDeviceRoot(unsigned* readyVersion = nullptr);
// ROOT/.platform/<sub>, created with its parents; empty on failure.
std::string PlatformDir(const std::string& sub);
// ROOT/.platform/<sub> as it is, made or not: for what only reads.
std::string PlatformPath(const std::string& sub);

// Splits a device path at '\' and '/', dropping empty and "." components;
// ".." removes the previous component and never climbs above the root.
std::vector<std::string> SplitDevicePath(std::u16string_view devicePath);
// base/comp1/comp2/..., each component matched case-insensitively against
// existing entries; components that do not exist keep their spelling.
std::string ResolveUnder(const std::string& base, const std::vector<std::string>& components);

// How a device path is used. An existing file or folder is tried under the
// path as spelled (in a folder found under another spelling before) with no
// look at the disk; only when that fails as missing is the path settled
// against the folders' entries and tried again. A name to be made or
// replaced is settled before, so that a file under another spelling is the
// one replaced.
enum class PathUse { kExisting, kCreate };
// The host path to try first.
std::string FirstHostPath(std::u16string_view devicePath, PathUse use);
// The host path settled against the folders' entries: by one look at the
// folder of the path tried first when that folder is there, else component
// by component (ResolveUnder).
std::string SettledHostPath(std::u16string_view devicePath, const std::string& tried = "");

// While an object lives, a name that this thread makes or replaces in a
// folder is settled against one look at the folder, taken when the first
// such name needs it, and the names this thread made and removed there
// since: a run of writes into one folder looks at it once instead of once a
// name. What other processes make there meanwhile is not seen, as it is not
// between a look and the write that follows it.
class KeptFolderNames {
 public:
  KeptFolderNames();
  ~KeptFolderNames();
  KeptFolderNames(const KeptFolderNames&) = delete;
  KeptFolderNames& operator=(const KeptFolderNames&) = delete;
};

// Tells the mapping that a host path was found (an operation on it
// succeeded), or that it is gone (it was removed).
void NoteFound(const std::string& host);
void NoteGone(const std::string& host);

// Runs op, an operation on one host path returning a negative value with
// errno set on failure, on the first host path of devicePath and, when it
// fails with ENOENT, once more on the settled path if that differs.
template <class Op>
auto OnHostPath(std::u16string_view devicePath, PathUse use, Op op) -> decltype(op("")) {
  const std::string first = FirstHostPath(devicePath, use);
  auto result = op(first);
  if (result >= 0) NoteFound(first);
  if (result >= 0 || errno != ENOENT) return result;
  const std::string settled = SettledHostPath(devicePath, first);
  if (settled == first) {
    errno = ENOENT;
    return result;
  }
  result = op(settled);
  if (result >= 0) NoteFound(settled);
  return result;
}

// Calls visit with the name of each entry of the open directory fd, "." and
// ".." left out, in the directory's order, until visit returns false. False
// when the directory cannot be read.
bool ForEachEntry(int fd, const std::function<bool(const char* name)>& visit);

// A name made safe as one host file name: letters, digits, '-', '_' and '.'
// are kept, every other byte becomes %XX.
std::string EscapeFileName(const std::string& name);

// Host seconds/nanoseconds since 1970 as a FILETIME (100 ns since 1601).
FILETIME ToFileTime(long long seconds, long nanoseconds);

}  // namespace platform
}  // namespace msgstore

#endif  // MSGSTORE_PLATFORM_HOST_PATH_H_

// Internal helpers of the platform layer: text conversion, the device root in
// use and the mapping of device paths onto host paths.
#ifndef MSGSTORE_PLATFORM_HOST_PATH_H_
#define MSGSTORE_PLATFORM_HOST_PATH_H_

#include <string>
#include <vector>

#include "msgstore/types.h"

namespace msgstore {
namespace platform {

// UTF-16 <-> UTF-8; malformed input becomes U+FFFD.
std::string ToUtf8(const std::u16string& text);
std::u16string ToUtf16(const std::string& text);
// A zero-terminated wide string, or an empty one for nullptr.
std::u16string FromWide(const WCHAR* text);

// ASCII-only case folding, as the handset's file system compares names.
std::string AsciiLower(std::string text);
bool AsciiIEquals(const std::string& a, const std::string& b);

// The device root after making sure that it and the phone volume exist.
std::string UsedDeviceRoot();
// ROOT/.platform/<sub>, created with its parents; empty on failure.
std::string PlatformDir(const std::string& sub);

// Splits a device path at '\' and '/', dropping empty and "." components;
// ".." removes the previous component and never climbs above the root.
std::vector<std::string> SplitDevicePath(const std::u16string& devicePath);
// base/comp1/comp2/..., each component matched case-insensitively against
// existing entries; components that do not exist keep their spelling.
std::string ResolveUnder(const std::string& base, const std::vector<std::string>& components);

// A name made safe as one host file name: letters, digits, '-', '_' and '.'
// are kept, every other byte becomes %XX.
std::string EscapeFileName(const std::string& name);

// Host seconds/nanoseconds since 1970 as a FILETIME (100 ns since 1601).
FILETIME ToFileTime(long long seconds, long nanoseconds);

}  // namespace platform
}  // namespace msgstore

#endif  // MSGSTORE_PLATFORM_HOST_PATH_H_

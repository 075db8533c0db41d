// The registry, kept under ROOT/.platform/registry/HKLM. A key is a
// directory "k.<name>" and a value a file "v.<name>" holding the type
// (4 bytes, little-endian) and then the data as given. Names are stored in
// ASCII lower case, so key paths and value names compare without regard to
// case, and escaped to be safe host file names. A value is replaced whole
// (ReplaceHostFile), so readers in other processes see the old value or the
// new one, never a part. Access rights and options
// are not checked.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "msgstore/platform.h"
#include "platform/handles.h"
#include "platform/host_files.h"
#include "platform/host_path.h"
#include "platform/sys_calls.h"

namespace msgstore {
namespace platform {
namespace {

constexpr LONG kErrorAccessDenied = 5;

class KeyObject : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::kKey;
  explicit KeyObject(std::string dir) : HandleObject(kKind), dir(std::move(dir)) {}
  std::string dir;
};

bool IsDirectory(const std::string& path) {
  struct stat info;
  return Sys().stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The host directory of an open key; empty for an unknown handle. HKLM's
// is made only for a write, so that reading a registry never written leaves
// the device root as it was.
std::string KeyDir(HKEY key, bool make) {
  if (key == HKEY_LOCAL_MACHINE)
    return make ? PlatformDir("registry/HKLM") : PlatformPath("registry/HKLM");
  auto object = FindHandleAs<KeyObject>(key);
  return object ? object->dir : std::string();
}

std::vector<std::string> SubKeyParts(const WCHAR* subKey) {
  std::vector<std::string> parts;
  std::u16string path = FromWide(subKey);
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string::npos) end = path.size();
    if (end > start)
      parts.push_back("k." + EscapeFileName(AsciiLower(ToUtf8(path.substr(start, end - start)))));
    start = end + 1;
  }
  return parts;
}

std::string ValuePath(const std::string& dir, const WCHAR* valueName) {
  return dir + "/v." + EscapeFileName(AsciiLower(ToUtf8(FromWide(valueName))));
}

HKEY NewKey(const std::string& dir) { return AddHandle(std::make_shared<KeyObject>(dir)); }

}  // namespace
}  // namespace platform
}  // namespace msgstore

using namespace msgstore::platform;  // NOLINT: the file is all registry functions

LONG RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD /*reserved*/, WCHAR* /*className*/,
                     DWORD /*options*/, DWORD /*samDesired*/,
                     LPSECURITY_ATTRIBUTES /*securityAttributes*/, HKEY* result,
                     DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::string dir = KeyDir(key, true);
  if (dir.empty()) return ERROR_INVALID_HANDLE;
  if (!IsDirectory(dir)) return ERROR_FILE_NOT_FOUND;  // the key was deleted meanwhile
  bool created = false;
  for (const std::string& part : SubKeyParts(subKey)) {
    dir += "/" + part;
    if (Sys().mkdir(dir.c_str(), 0777) == 0) {
      created = true;
    } else if (errno == EEXIST && IsDirectory(dir)) {
      created = false;
    } else {
      return kErrorAccessDenied;
    }
  }
  *result = NewKey(dir);
  if (disposition != nullptr)
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD /*options*/, DWORD /*samDesired*/,
                   HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::string dir = KeyDir(key, false);
  if (dir.empty()) return ERROR_INVALID_HANDLE;
  for (const std::string& part : SubKeyParts(subKey)) dir += "/" + part;
  if (!IsDirectory(dir)) return ERROR_FILE_NOT_FOUND;
  *result = NewKey(dir);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* /*reserved*/, DWORD* type,
                      BYTE* data, DWORD* cbData) {
  if (data != nullptr && cbData == nullptr) return ERROR_INVALID_PARAMETER;
  std::string dir = KeyDir(key, false);
  if (dir.empty()) return ERROR_INVALID_HANDLE;
  std::string stored;
  if (!ReadHostFile(ValuePath(dir, valueName), &stored)) return ERROR_FILE_NOT_FOUND;
  if (stored.size() < 4 || stored.size() - 4 > 0xFFFFFFFFu) return ERROR_FILE_NOT_FOUND;
  DWORD storedType = 0;
  for (int i = 3; i >= 0; --i) storedType = (storedType << 8) | static_cast<BYTE>(stored[i]);
  DWORD size = static_cast<DWORD>(stored.size() - 4);
  if (type != nullptr) *type = storedType;
  if (cbData == nullptr) return ERROR_SUCCESS;
  if (data == nullptr) {
    *cbData = size;
    return ERROR_SUCCESS;
  }
  if (*cbData < size) {
    *cbData = size;
    return ERROR_MORE_DATA;
  }
  if (size > 0) std::memcpy(data, stored.data() + 4, size);
  *cbData = size;
  return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD /*reserved*/, DWORD type,
                    const BYTE* data, DWORD cbData) {
  if (data == nullptr && cbData > 0) return ERROR_INVALID_PARAMETER;
  std::string dir = KeyDir(key, true);
  if (dir.empty()) return ERROR_INVALID_HANDLE;
  if (!IsDirectory(dir)) return ERROR_FILE_NOT_FOUND;
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(type >> (8 * i));
  if (cbData > 0) bytes.append(reinterpret_cast<const char*>(data), cbData);
  return ReplaceHostFile(ValuePath(dir, valueName), bytes) ? ERROR_SUCCESS : kErrorAccessDenied;
}

LONG RegFlushKey(HKEY key) {
  std::string dir = KeyDir(key, false);
  if (dir.empty()) return ERROR_INVALID_HANDLE;
  UniqueFd fd(Sys().open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (fd.valid()) Sys().fsync(fd.get());
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  return RemoveHandleOf<KeyObject>(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

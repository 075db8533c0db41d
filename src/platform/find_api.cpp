// Directory enumeration with wildcard patterns, in the directory's own order.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>

#include "msgstore/platform.h"
#include "platform/handles.h"
#include "platform/host_path.h"

namespace msgstore {
namespace platform {
namespace {

class FindObject : public HandleObject {
 public:
  UniqueDir dir;
  std::u16string pattern;
};

char16_t FoldCase(char16_t c) { return (c >= u'A' && c <= u'Z') ? c - u'A' + u'a' : c; }

// '*' matches any run of characters, '?' exactly one; case is ignored.
bool WildcardMatch(const std::u16string& pattern, const std::u16string& name) {
  if (pattern == u"*.*") return true;  // every name, with or without a dot
  size_t p = 0, n = 0;
  size_t starP = std::u16string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u16string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

// Moves to the next matching entry and describes it in data.
bool NextMatch(FindObject& find, WIN32_FIND_DATAW* data) {
  while (struct dirent* entry = ::readdir(find.dir.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    std::u16string name = ToUtf16(entry->d_name);
    if (!WildcardMatch(find.pattern, name)) continue;
    struct stat info;
    if (::fstatat(::dirfd(find.dir.get()), entry->d_name, &info, 0) != 0) continue;  // gone
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes =
        S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    data->ftCreationTime = ToFileTime(info.st_ctim.tv_sec, info.st_ctim.tv_nsec);
    data->ftLastAccessTime = ToFileTime(info.st_atim.tv_sec, info.st_atim.tv_nsec);
    data->ftLastWriteTime = ToFileTime(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
    uint64_t size = S_ISDIR(info.st_mode) ? 0 : static_cast<uint64_t>(info.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    size_t length = name.size() < MAX_PATH - 1 ? name.size() : MAX_PATH - 1;
    std::memcpy(data->cFileName, name.data(), length * sizeof(WCHAR));
    data->cFileName[length] = 0;
    return true;
  }
  return false;
}

}  // namespace
}  // namespace platform
}  // namespace msgstore

using msgstore::platform::FindObject;

HANDLE FindFirstFileW(const WCHAR* fileName, WIN32_FIND_DATAW* findData) {
  if (fileName == nullptr || findData == nullptr) return INVALID_HANDLE_VALUE;
  std::u16string path = msgstore::platform::FromWide(fileName);
  size_t slash = path.find_last_of(u"\\/");
  std::u16string directory = slash == std::u16string::npos ? u"" : path.substr(0, slash);
  std::u16string pattern = slash == std::u16string::npos ? path : path.substr(slash + 1);
  if (pattern.empty()) return INVALID_HANDLE_VALUE;
  auto find = std::make_shared<FindObject>();
  find->pattern = pattern;
  find->dir.reset(::opendir(msgstore::HostPath(directory).c_str()));
  if (!find->dir || !msgstore::platform::NextMatch(*find, findData)) return INVALID_HANDLE_VALUE;
  return msgstore::platform::AddHandle(find);
}

BOOL FindNextFileW(HANDLE findFile, WIN32_FIND_DATAW* findData) {
  auto find = msgstore::platform::FindHandleAs<FindObject>(findFile);
  if (!find || findData == nullptr) return FALSE;
  return msgstore::platform::NextMatch(*find, findData) ? TRUE : FALSE;
}

BOOL FindClose(HANDLE findFile) {
  return msgstore::platform::RemoveHandleOf<FindObject>(findFile) ? TRUE : FALSE;
}

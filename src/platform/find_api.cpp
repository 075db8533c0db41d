// Directory enumeration with wildcard patterns, in the directory's own order.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "msgstore/platform.h"
#include "platform/find_names.h"
#include "platform/handles.h"
#include "platform/host_path.h"
#include "platform/sys_calls.h"

namespace msgstore {
namespace platform {
namespace {

class FindObject : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::kFind;
  FindObject() : HandleObject(kKind) {}
  UniqueFd dir;
  std::u16string pattern;
  // Entries read from the directory and not yet gone through; only what
  // getdents fills is read.
  static constexpr size_t kBufferSize = 32768;
  std::unique_ptr<char[]> buffer{new char[kBufferSize]};
  size_t at = 0, end = 0;
};

char16_t FoldCase(char16_t c) { return (c >= u'A' && c <= u'Z') ? c - u'A' + u'a' : c; }

// '*' matches any run of characters, '?' exactly one; case is ignored.
bool WildcardMatch(std::u16string_view pattern, std::u16string_view name) {
  if (pattern == u"*.*") return true;  // every name, with or without a dot
  size_t p = 0, n = 0;
  size_t starP = std::u16string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

// The next entry of the find whose name matches its pattern, or nullptr.
const struct dirent64* NextEntry(FindObject& find) {
  while (find.at >= find.end) {
    const ssize_t n = Sys().getdents(find.dir.get(), find.buffer.get(), FindObject::kBufferSize);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return nullptr;
    find.at = 0;
    find.end = static_cast<size_t>(n);
  }
  const auto* entry = reinterpret_cast<const struct dirent64*>(find.buffer.get() + find.at);
  find.at += entry->d_reclen;
  return entry;
}
const struct dirent64* NextMatchingEntry(FindObject& find, std::u16string* name) {
  while (const struct dirent64* entry = NextEntry(find)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    *name = ToUtf16(entry->d_name);
    if (WildcardMatch(find.pattern, *name)) return entry;
  }
  return nullptr;
}

void CopyName(const std::u16string& name, WCHAR* out) {
  size_t length = name.size() < MAX_PATH - 1 ? name.size() : MAX_PATH - 1;
  std::memcpy(out, name.data(), length * sizeof(WCHAR));
  out[length] = 0;
}

// Moves to the next matching entry and describes it in data.
bool NextMatch(FindObject& find, WIN32_FIND_DATAW* data) {
  std::u16string name;
  while (const struct dirent64* entry = NextMatchingEntry(find, &name)) {
    struct stat info;
    if (Sys().fstatat(find.dir.get(), entry->d_name, &info, 0) != 0) continue;  // gone
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes =
        S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    data->ftCreationTime = ToFileTime(info.st_ctim.tv_sec, info.st_ctim.tv_nsec);
    data->ftLastAccessTime = ToFileTime(info.st_atim.tv_sec, info.st_atim.tv_nsec);
    data->ftLastWriteTime = ToFileTime(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
    uint64_t size = S_ISDIR(info.st_mode) ? 0 : static_cast<uint64_t>(info.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    CopyName(name, data->cFileName);
    return true;
  }
  return false;
}

// Splits a find's file name into its folder and its pattern; false when the
// pattern is empty.
bool SplitQuery(const WCHAR* fileName, std::u16string* directory, std::u16string* pattern) {
  std::u16string path = FromWide(fileName);
  size_t slash = path.find_last_of(u"\\/");
  *directory = slash == std::u16string::npos ? u"" : path.substr(0, slash);
  *pattern = slash == std::u16string::npos ? path : path.substr(slash + 1);
  return !pattern->empty();
}

int OpenDirectory(const std::u16string& directory) {
  return OnHostPath(directory, PathUse::kExisting, [](const std::string& host) {
    return Sys().open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  });
}

// The find for fileName (a folder and a pattern) with its folder open, or
// nullptr.
std::shared_ptr<FindObject> OpenFind(const WCHAR* fileName) {
  auto find = std::make_shared<FindObject>();
  std::u16string directory;
  if (!SplitQuery(fileName, &directory, &find->pattern)) return nullptr;
  const int fd = OpenDirectory(directory);
  if (fd < 0) return nullptr;
  find->dir = UniqueFd(fd);
  return find;
}

}  // namespace

size_t ForEachFoundName(const WCHAR* fileName, const std::function<bool(const WCHAR* name)>& visit,
                        bool* unread) {
  if (unread != nullptr) *unread = false;
  if (fileName == nullptr) return 0;
  std::u16string directory, pattern;
  if (!SplitQuery(fileName, &directory, &pattern)) return 0;
  UniqueFd dir(OpenDirectory(directory));
  if (!dir.valid()) {
    if (unread != nullptr) *unread = errno != ENOENT && errno != ENOTDIR;
    return 0;
  }
  size_t visited = 0;
  WCHAR buffer[MAX_PATH];
  const bool whole = ForEachEntry(dir.get(), [&](const char* entry) {
    // A name in ASCII (as the stores' names are) goes into the buffer as it
    // is; any other is converted whole first.
    size_t length = 0;
    auto ascii = [](char c) { return c != 0 && static_cast<unsigned char>(c) < 0x80; };
    while (length < MAX_PATH - 1 && ascii(entry[length])) {
      buffer[length] = static_cast<WCHAR>(entry[length]);
      ++length;
    }
    if (entry[length] == 0) {
      buffer[length] = 0;
      if (!WildcardMatch(pattern, std::u16string_view(buffer, length))) return true;
    } else {
      const std::u16string name = ToUtf16(entry);
      if (!WildcardMatch(pattern, name)) return true;
      CopyName(name, buffer);
    }
    ++visited;
    return visit(buffer);
  });
  if (unread != nullptr) *unread = !whole;
  return visited;
}

}  // namespace platform
}  // namespace msgstore

using msgstore::platform::FindObject;

HANDLE FindFirstFileW(const WCHAR* fileName, WIN32_FIND_DATAW* findData) {
  if (fileName == nullptr || findData == nullptr) return INVALID_HANDLE_VALUE;
  std::shared_ptr<FindObject> find = msgstore::platform::OpenFind(fileName);
  if (!find || !msgstore::platform::NextMatch(*find, findData)) return INVALID_HANDLE_VALUE;
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

// Whole host files and directory trees through the system-call table.
#include "platform/host_files.h"

#include <fcntl.h>

#include <cerrno>
#include <vector>

#include "platform/handles.h"
#include "platform/host_path.h"
#include "platform/sys_calls.h"

namespace msgstore {
namespace platform {

bool ReadHostFile(const std::string& host, std::string* bytes) {
  bytes->clear();
  UniqueFd fd(Sys().open(host.c_str(), O_RDONLY | O_CLOEXEC, 0));
  if (!fd.valid()) return false;
  char buffer[4096];
  for (;;) {
    const ssize_t n = Sys().read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes->append(buffer, static_cast<size_t>(n));
  }
}

HostKind HostPathKind(const std::string& host) {
  struct stat info;
  if (Sys().stat(host.c_str(), &info) != 0) return HostKind::kMissing;
  return S_ISDIR(info.st_mode) ? HostKind::kDirectory : HostKind::kOther;
}

bool MakeHostDirs(const std::string& dir) {
  struct stat info;
  if (dir.empty() || Sys().stat(dir.c_str(), &info) == 0)
    return !dir.empty() && S_ISDIR(info.st_mode);
  const size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeHostDirs(dir.substr(0, slash))) return false;
  if (Sys().mkdir(dir.c_str(), 0777) == 0) return true;
  return errno == EEXIST && Sys().stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool RemoveHostTree(const std::string& path) {
  struct stat info;
  if (Sys().lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  if (!S_ISDIR(info.st_mode)) return Sys().unlink(path.c_str()) == 0;
  std::vector<std::string> names;
  {
    UniqueFd dir(Sys().open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (!dir.valid() || !ForEachEntry(dir.get(), [&](const char* name) {
          names.push_back(name);
          return true;
        }))
      return false;
  }
  bool removed = true;
  for (const std::string& name : names) removed = RemoveHostTree(path + "/" + name) && removed;
  return removed && Sys().rmdir(path.c_str()) == 0;
}

}  // namespace platform
}  // namespace msgstore

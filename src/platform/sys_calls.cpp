// The host's file-system calls, as the platform layer's table holds them.
#include "platform/sys_calls.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

namespace msgstore {
namespace platform {
namespace {

int HostOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int HostStat(const char* path, struct stat* info) { return ::stat(path, info); }
int HostLstat(const char* path, struct stat* info) { return ::lstat(path, info); }
int HostFstat(int fd, struct stat* info) { return ::fstat(fd, info); }
ssize_t HostGetdents(int fd, void* buffer, size_t size) { return ::getdents64(fd, buffer, size); }
int HostStatvfs(const char* path, struct statvfs* info) { return ::statvfs(path, info); }

constexpr SysCalls kHost = {HostOpen,    ::close,   ::read,    ::write,      ::lseek, HostFstat,
                            HostStat,    HostLstat, ::fstatat, HostGetdents, ::mkdir, ::rmdir,
                            ::unlink,    ::rename,  ::link,    ::flock,      ::fsync, HostStatvfs,
                            ::ftruncate, ::mmap,    ::munmap};

}  // namespace

SysCalls& Sys() {
  static SysCalls table = kHost;
  return table;
}

const SysCalls& HostSysCalls() { return kHost; }

}  // namespace platform
}  // namespace msgstore

// The host system calls that the platform layer makes on files and
// directories, kept in one table. Every file-system call of the platform goes
// through Sys(), so that a test can put functions of its own in the table
// (to count calls or make one fail with a chosen errno) without forking,
// mounting or touching the files of other processes.
#ifndef MSGSTORE_PLATFORM_SYS_CALLS_H_
#define MSGSTORE_PLATFORM_SYS_CALLS_H_

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>

#include <cstddef>

namespace msgstore {
namespace platform {

struct SysCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buffer, size_t size);
  ssize_t (*write)(int fd, const void* buffer, size_t size);
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*fstat)(int fd, struct stat* info);
  int (*stat)(const char* path, struct stat* info);
  int (*lstat)(const char* path, struct stat* info);
  int (*fstatat)(int dirFd, const char* name, struct stat* info, int flags);
  // Reads directory entries (struct dirent64) of an open directory.
  ssize_t (*getdents)(int fd, void* buffer, size_t size);
  int (*mkdir)(const char* path, mode_t mode);
  int (*rmdir)(const char* path);
  int (*unlink)(const char* path);
  int (*rename)(const char* from, const char* to);
  int (*link)(const char* from, const char* to);
  int (*flock)(int fd, int operation);
  int (*fsync)(int fd);
  int (*statvfs)(const char* path, struct statvfs* info);
  int (*ftruncate)(int fd, off_t length);
  void* (*mmap)(void* address, size_t length, int protection, int flags, int fd, off_t offset);
  int (*munmap)(void* address, size_t length);
};

// The table in use. Tests may change its entries; they are read at each call.
SysCalls& Sys();
// The host's own functions.
const SysCalls& HostSysCalls();

}  // namespace platform
}  // namespace msgstore

#endif  // MSGSTORE_PLATFORM_SYS_CALLS_H_

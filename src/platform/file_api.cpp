// Win32-style file functions over the device root. Share modes are not
// enforced: every open is shared for reading and writing, as POSIX files are.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "msgstore/platform.h"
#include "platform/handles.h"
#include "platform/host_path.h"
#include "platform/path_state.h"
#include "platform/read_file.h"
#include "platform/sys_calls.h"

namespace msgstore {
namespace platform {
namespace {

class FileObject : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::kFile;
  FileObject(UniqueFd fd, bool canRead, bool canWrite, int64_t size)
      : HandleObject(kKind),
        fd(std::move(fd)),
        canRead(canRead),
        canWrite(canWrite),
        sizeAtOpen(size) {}
  UniqueFd fd;
  bool canRead;
  bool canWrite;
  // The size seen when a handle that cannot write was opened; -1 otherwise.
  // Files are replaced whole by rename, so the file such a handle reads keeps
  // its size.
  int64_t sizeAtOpen;
};

int RetryOpen(const std::string& host, int flags) {
  int fd;
  do {
    fd = Sys().open(host.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

void NoteMoved(const std::string& from, const std::string& to) {
  NoteGone(from);
  NoteFound(to);
}

// Runs op on the host paths of two device paths (from an existing file to a
// name to be made or replaced); when it fails as missing, once more on both
// paths settled, if either differs.
template <class Op>
int OnHostPaths(const WCHAR* from, const WCHAR* to, Op op) {
  const std::u16string_view fromDevice = WideView(from), toDevice = WideView(to);
  const std::string fromFirst = FirstHostPath(fromDevice, PathUse::kExisting);
  const std::string toFirst = FirstHostPath(toDevice, PathUse::kCreate);
  int result = op(fromFirst, toFirst);
  if (result >= 0) NoteMoved(fromFirst, toFirst);
  if (result >= 0 || errno != ENOENT) return result;
  const std::string fromSettled = SettledHostPath(fromDevice, fromFirst);
  const std::string toSettled = SettledHostPath(toDevice, toFirst);
  if (fromSettled == fromFirst && toSettled == toFirst) {
    errno = ENOENT;
    return result;
  }
  result = op(fromSettled, toSettled);
  if (result >= 0) NoteMoved(fromSettled, toSettled);
  return result;
}

// Opens a device path as CreateFileW opens it with flags (O_CREAT or not):
// the path as spelled first, settled when missing.
UniqueFd OpenDevicePath(const WCHAR* fileName, int flags) {
  const PathUse use = (flags & O_CREAT) != 0 ? PathUse::kCreate : PathUse::kExisting;
  return UniqueFd(OnHostPath(WideView(fileName), use,
                             [&](const std::string& host) { return RetryOpen(host, flags); }));
}

// What a handle that cannot write learns at its open: the size, or -1 with
// the descriptor closed when it is a directory (which opens for reading on
// this host but not on the handset) or cannot be looked at.
int64_t SizeForReading(UniqueFd* fd) {
  struct stat info;
  if (Sys().fstat(fd->get(), &info) != 0 || S_ISDIR(info.st_mode)) {
    fd->Reset();
    return -1;
  }
  return static_cast<int64_t>(info.st_size);
}

// ReadFile's loop: up to count bytes, fewer at the end of the file.
bool ReadUpTo(int fd, char* out, DWORD count, DWORD* read) {
  DWORD done = 0;
  while (done < count) {
    ssize_t n = Sys().read(fd, out + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;  // end of file
    done += static_cast<DWORD>(n);
  }
  *read = done;
  return true;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = Sys().write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool CopyAll(int from, int to) {
  char buffer[65536];
  for (;;) {
    ssize_t n = Sys().read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(to, buffer, static_cast<size_t>(n))) return false;
  }
}

}  // namespace

ReadingFile::ReadingFile(const WCHAR* path) {
  if (path == nullptr || path[0] == 0) return;
  fd_ = OpenDevicePath(path, O_CLOEXEC | O_RDONLY);
  if (!fd_.valid()) return;
  const int64_t size = SizeForReading(&fd_);
  if (size >= 0) size_ = static_cast<DWORD>(size);
}

bool ReadingFile::Read(void* buffer, DWORD count, DWORD* read) {
  *read = 0;
  if (!fd_.valid() || (buffer == nullptr && count > 0)) return false;
  return ReadUpTo(fd_.get(), static_cast<char*>(buffer), count, read);
}

PathState StateOf(const WCHAR* path) {
  if (path == nullptr) return PathState::kMissing;
  struct stat info;
  if (OnHostPath(WideView(path), PathUse::kExisting,
                 [&](const std::string& host) { return Sys().stat(host.c_str(), &info); }) == 0)
    return S_ISDIR(info.st_mode) ? PathState::kDirectory : PathState::kFile;
  return errno == ENOENT || errno == ENOTDIR ? PathState::kMissing : PathState::kUnknown;
}

}  // namespace platform
}  // namespace msgstore

using msgstore::platform::FileObject;
using msgstore::platform::FindHandleAs;
using msgstore::platform::FromWide;
using msgstore::platform::NoteGone;
using msgstore::platform::OnHostPath;
using msgstore::platform::OnHostPaths;
using msgstore::platform::PathUse;
using msgstore::platform::RetryOpen;
using msgstore::platform::SettledHostPath;
using msgstore::platform::Sys;
using msgstore::platform::UniqueFd;

HANDLE CreateFileW(const WCHAR* fileName, DWORD desiredAccess, DWORD /*shareMode*/,
                   LPSECURITY_ATTRIBUTES /*securityAttributes*/, DWORD creationDisposition,
                   DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/) {
  if (fileName == nullptr || fileName[0] == 0) return INVALID_HANDLE_VALUE;
  bool canRead = (desiredAccess & GENERIC_READ) != 0;
  bool canWrite = (desiredAccess & GENERIC_WRITE) != 0;
  int flags = O_CLOEXEC;
  switch (creationDisposition) {
    case CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      flags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      flags |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      if (!canWrite) return INVALID_HANDLE_VALUE;
      flags |= O_TRUNC;
      break;
    default:
      return INVALID_HANDLE_VALUE;
  }
  // Truncation needs write access on the host even when the caller only reads.
  if (canWrite || (flags & O_TRUNC) != 0)
    flags |= canRead || !canWrite ? O_RDWR : O_WRONLY;
  else
    flags |= O_RDONLY;
  UniqueFd fd = msgstore::platform::OpenDevicePath(fileName, flags);
  if (!fd.valid()) return INVALID_HANDLE_VALUE;
  // Opening a directory for writing fails in open itself; for reading it is
  // refused here.
  int64_t size = -1;
  if (!canWrite && (flags & O_TRUNC) == 0) {
    size = msgstore::platform::SizeForReading(&fd);
    if (size < 0) return INVALID_HANDLE_VALUE;
  }
  return msgstore::platform::AddHandle(
      std::make_shared<FileObject>(std::move(fd), canRead, canWrite, size));
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
              void* /*overlapped*/) {
  if (bytesRead != nullptr) *bytesRead = 0;
  auto object = FindHandleAs<FileObject>(file);
  if (!object || !object->canRead || (buffer == nullptr && bytesToRead > 0)) return FALSE;
  DWORD done = 0;
  if (!msgstore::platform::ReadUpTo(object->fd.get(), static_cast<char*>(buffer), bytesToRead,
                                    &done))
    return FALSE;
  if (bytesRead != nullptr) *bytesRead = done;
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* /*overlapped*/) {
  if (bytesWritten != nullptr) *bytesWritten = 0;
  auto object = FindHandleAs<FileObject>(file);
  if (!object || !object->canWrite || (buffer == nullptr && bytesToWrite > 0)) return FALSE;
  const char* in = static_cast<const char*>(buffer);
  DWORD done = 0;
  while (done < bytesToWrite) {
    ssize_t n = Sys().write(object->fd.get(), in + done, bytesToWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<DWORD>(n);
  }
  if (bytesWritten != nullptr) *bytesWritten = done;
  return done == bytesToWrite ? TRUE : FALSE;
}

DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh) {
  auto object = FindHandleAs<FileObject>(file);
  if (!object) return INVALID_FILE_SIZE;
  uint64_t size;
  if (object->sizeAtOpen >= 0) {
    size = static_cast<uint64_t>(object->sizeAtOpen);
  } else {
    struct stat info;
    if (Sys().fstat(object->fd.get(), &info) != 0) return INVALID_FILE_SIZE;
    size = static_cast<uint64_t>(info.st_size);
  }
  if (fileSizeHigh != nullptr) *fileSizeHigh = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE file, LONG distanceToMove, LONG* distanceToMoveHigh, DWORD moveMethod) {
  auto object = FindHandleAs<FileObject>(file);
  if (!object) return INVALID_SET_FILE_POINTER;
  int whence = moveMethod == FILE_BEGIN     ? SEEK_SET
               : moveMethod == FILE_CURRENT ? SEEK_CUR
               : moveMethod == FILE_END     ? SEEK_END
                                            : -1;
  if (whence < 0) return INVALID_SET_FILE_POINTER;
  // With a high part the two halves form one signed 64-bit distance.
  int64_t distance =
      distanceToMoveHigh != nullptr
          ? static_cast<int64_t>(
                (static_cast<uint64_t>(static_cast<uint32_t>(*distanceToMoveHigh)) << 32) |
                static_cast<uint32_t>(distanceToMove))
          : static_cast<int64_t>(distanceToMove);
  off_t position = Sys().lseek(object->fd.get(), static_cast<off_t>(distance), whence);
  if (position < 0) return INVALID_SET_FILE_POINTER;
  uint64_t value = static_cast<uint64_t>(position);
  if (distanceToMoveHigh != nullptr) *distanceToMoveHigh = static_cast<LONG>(value >> 32);
  return static_cast<DWORD>(value);
}

BOOL CloseHandle(HANDLE object) {
  if (object == nullptr || object == INVALID_HANDLE_VALUE) return FALSE;
  return msgstore::platform::RemoveHandle(object) ? TRUE : FALSE;
}

BOOL DeleteFileW(const WCHAR* fileName) {
  if (fileName == nullptr) return FALSE;
  // unlink() refuses a directory itself.
  return OnHostPath(msgstore::platform::WideView(fileName), PathUse::kExisting,
                    [](const std::string& host) {
                      const int result = Sys().unlink(host.c_str());
                      if (result == 0) NoteGone(host);
                      return result;
                    }) == 0
             ? TRUE
             : FALSE;
}

BOOL CopyFileW(const WCHAR* existingFileName, const WCHAR* newFileName, BOOL failIfExists) {
  if (existingFileName == nullptr || newFileName == nullptr) return FALSE;
  std::string from = SettledHostPath(FromWide(existingFileName));
  std::string to = SettledHostPath(FromWide(newFileName));
  UniqueFd source(Sys().open(from.c_str(), O_RDONLY | O_CLOEXEC, 0));
  struct stat sourceInfo;
  if (!source.valid() || Sys().fstat(source.get(), &sourceInfo) != 0 || S_ISDIR(sourceInfo.st_mode))
    return FALSE;
  struct stat targetInfo;
  if (Sys().stat(to.c_str(), &targetInfo) == 0) {
    if (failIfExists || S_ISDIR(targetInfo.st_mode)) return FALSE;
    // Copying a file onto itself would truncate it first.
    if (targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino)
      return FALSE;
  }
  // The copy is made whole under a temporary name beside the target and then
  // put in its place, so that the target is never seen half copied.
  std::string temp = SettledHostPath(msgstore::TempPathFor(FromWide(newFileName)));
  bool copied = false;
  {
    UniqueFd target(Sys().open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!target.valid()) return FALSE;
    copied = msgstore::platform::CopyAll(source.get(), target.get());
  }
  // Without replacing, link() refuses a target that appeared meanwhile.
  bool placed = copied && (failIfExists ? Sys().link(temp.c_str(), to.c_str()) == 0
                                        : Sys().rename(temp.c_str(), to.c_str()) == 0);
  if (!placed || failIfExists) Sys().unlink(temp.c_str());
  return placed ? TRUE : FALSE;
}

BOOL MoveFileExW(const WCHAR* existingFileName, const WCHAR* newFileName, DWORD flags) {
  if (existingFileName == nullptr || newFileName == nullptr) return FALSE;
  return OnHostPaths(existingFileName, newFileName,
                     [flags](const std::string& from, const std::string& to) {
                       // rename() replaces a file in one step and refuses to
                       // put a file over a directory.
                       if ((flags & MOVEFILE_REPLACE_EXISTING) != 0)
                         return Sys().rename(from.c_str(), to.c_str());
                       struct stat info;
                       if (Sys().lstat(from.c_str(), &info) != 0) return -1;
                       // link() fails when the new name exists; a directory
                       // is moved by rename.
                       if (S_ISDIR(info.st_mode)) {
                         if (Sys().lstat(to.c_str(), &info) == 0) {
                           errno = EEXIST;
                           return -1;
                         }
                         return Sys().rename(from.c_str(), to.c_str());
                       }
                       if (Sys().link(from.c_str(), to.c_str()) != 0) return -1;
                       return Sys().unlink(from.c_str());
                     }) == 0
             ? TRUE
             : FALSE;
}

DWORD GetFileAttributesW(const WCHAR* fileName) {
  switch (msgstore::platform::StateOf(fileName)) {
    case msgstore::platform::PathState::kFile:
      return FILE_ATTRIBUTE_NORMAL;
    case msgstore::platform::PathState::kDirectory:
      return FILE_ATTRIBUTE_DIRECTORY;
    default:
      return INVALID_FILE_ATTRIBUTES;
  }
}

BOOL CreateDirectoryW(const WCHAR* pathName, LPSECURITY_ATTRIBUTES /*securityAttributes*/) {
  if (pathName == nullptr) return FALSE;
  std::vector<std::string> parts = msgstore::platform::SplitDevicePath(FromWide(pathName));
  if (parts.empty()) return FALSE;
  // The card volume comes and goes with the card; it is never made here.
  if (parts.size() == 1 && msgstore::platform::AsciiIEquals(parts[0], "SD Card")) return FALSE;
  std::string host = msgstore::platform::ResolveUnder(msgstore::platform::UsedDeviceRoot(), parts);
  return Sys().mkdir(host.c_str(), 0777) == 0 ? TRUE : FALSE;
}

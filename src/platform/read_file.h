// Reading a file whole by the library's own readers: the same system calls
// as CreateFileW (read access, open existing), GetFileSize, ReadFile and
// CloseHandle make, without a handle in the process's handle table, as no
// caller ever sees it.
#ifndef MSGSTORE_PLATFORM_READ_FILE_H_
#define MSGSTORE_PLATFORM_READ_FILE_H_

#include "msgstore/types.h"
#include "platform/handles.h"

namespace msgstore {
namespace platform {

// A file opened for reading, closed when it goes.
class ReadingFile {
 public:
  // CreateFileW (path, GENERIC_READ, share read, OPEN_EXISTING): valid()
  // tells whether it opened.
  explicit ReadingFile(const WCHAR* path);
  bool valid() const { return fd_.valid(); }
  // GetFileSize without the high part: the size seen when it was opened.
  DWORD Size() const { return size_; }
  // ReadFile: up to count bytes from the file's position, fewer at its end.
  bool Read(void* buffer, DWORD count, DWORD* read);

 private:
  UniqueFd fd_;
  DWORD size_ = INVALID_FILE_SIZE;
};

}  // namespace platform
}  // namespace msgstore

#endif  // MSGSTORE_PLATFORM_READ_FILE_H_

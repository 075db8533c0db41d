// Reads a file in one piece through the platform's file functions.
#include "common/whole_file.h"

#include <new>

#include "msgstore/platform.h"

namespace msgstore {
namespace {

// Closes a file handle from CreateFileW on every way out.
class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : h_(h) {}
  ~FileHandle() {
    if (valid()) CloseHandle(h_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

}  // namespace

ReadResult ReadWholeFile(const WCHAR* path, DWORD minSize, std::vector<uint8_t>* out) {
  if (path == nullptr || out == nullptr) return ReadResult::kOpenFailed;
  FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return ReadResult::kOpenFailed;
  DWORD size = GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE || size <= minSize) return ReadResult::kTooSmall;
  std::vector<uint8_t> buffer;
  try {
    buffer.assign(size, 0);
  } catch (const std::bad_alloc&) {
    return ReadResult::kReadFailed;
  }
  DWORD read = 0;
  if (!ReadFile(file.get(), buffer.data(), size, &read, nullptr)) return ReadResult::kReadFailed;
  // A short read leaves the rest of the image zero, as the buffer was filled
  // with zeros before the read.
  out->swap(buffer);
  return ReadResult::kOk;
}

}  // namespace msgstore

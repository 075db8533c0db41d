// Reads a file in one piece through the platform's file functions.
#include "common/whole_file.h"

#include <new>

#include "common/scoped.h"
#include "msgstore/platform.h"

namespace msgstore {
namespace {}  // namespace

ReadResult ReadWholeFile(const WCHAR* path, DWORD minSize, std::vector<uint8_t>* out) {
  if (path == nullptr || out == nullptr) return ReadResult::kOpenFailed;
  ScopedFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
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

// Reads a file in one piece through the platform's file functions.
#include "common/whole_file.h"

#include <new>

#include "common/field_codec.h"
#include "common/scoped.h"
#include "msgstore/platform.h"

namespace msgstore {
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
  // Only what was read is parsed, should the file have shrunk meanwhile.
  buffer.resize(read);
  out->swap(buffer);
  return ReadResult::kOk;
}

ReadResult ReadFileHead(const WCHAR* path, DWORD lengthAt, DWORD extra, std::vector<uint8_t>* out) {
  if (path == nullptr || out == nullptr) return ReadResult::kOpenFailed;
  ScopedFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return ReadResult::kOpenFailed;
  const DWORD size = GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE || size == 0) return ReadResult::kTooSmall;
  uint8_t head[8] = {};
  const DWORD headSize = lengthAt + 4;
  DWORD read = 0;
  if (headSize > sizeof head || !ReadFile(file.get(), head, headSize, &read, nullptr))
    return ReadResult::kReadFailed;
  if (read < headSize) return ReadResult::kTooSmall;
  const uint64_t wanted = static_cast<uint64_t>(DecodeU32(head + lengthAt)) + extra;
  const DWORD length = static_cast<DWORD>(wanted < size ? wanted : size);
  std::vector<uint8_t> buffer;
  try {
    buffer.assign(length, 0);
  } catch (const std::bad_alloc&) {
    return ReadResult::kReadFailed;
  }
  if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) != 0 ||
      !ReadFile(file.get(), buffer.data(), length, &read, nullptr))
    return ReadResult::kReadFailed;
  buffer.resize(read);
  out->swap(buffer);
  return ReadResult::kOk;
}

}  // namespace msgstore

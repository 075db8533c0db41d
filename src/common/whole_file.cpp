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
  const DWORD headSize = lengthAt + 4;
  if (headSize > 8) return ReadResult::kReadFailed;
  // Heads are short: one read of a first piece usually holds all of it.
  constexpr DWORD kFirstPiece = 512;
  std::vector<uint8_t> buffer;
  try {
    buffer.assign(size < kFirstPiece ? size : kFirstPiece, 0);
  } catch (const std::bad_alloc&) {
    return ReadResult::kReadFailed;
  }
  DWORD read = 0;
  if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
    return ReadResult::kReadFailed;
  if (read < headSize) return ReadResult::kTooSmall;
  const uint64_t wanted = static_cast<uint64_t>(DecodeU32(&buffer[lengthAt])) + extra;
  const DWORD length = static_cast<DWORD>(wanted < size ? wanted : size);
  if (length <= read) {
    buffer.resize(length);
  } else {
    try {
      buffer.resize(length, 0);
    } catch (const std::bad_alloc&) {
      return ReadResult::kReadFailed;
    }
    DWORD more = 0;
    if (!ReadFile(file.get(), buffer.data() + read, length - read, &more, nullptr))
      return ReadResult::kReadFailed;
    // Only what was read is parsed, should the file have shrunk meanwhile.
    buffer.resize(read + more);
  }
  out->swap(buffer);
  return ReadResult::kOk;
}

}  // namespace msgstore

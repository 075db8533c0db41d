// Reads a file in one piece through the platform's file functions.
#include "common/whole_file.h"

#include <new>

#include "common/field_codec.h"
#include "msgstore/platform.h"
#include "platform/read_file.h"

namespace msgstore {
namespace {

// Opens path (read access, shared read, open existing) and learns its size,
// which must be larger than minSize.
ReadResult OpenSized(platform::ReadingFile& file, DWORD minSize, DWORD* size) {
  if (!file.valid()) return ReadResult::kOpenFailed;
  *size = file.Size();
  if (*size == INVALID_FILE_SIZE) return ReadResult::kReadFailed;
  if (*size <= minSize) return ReadResult::kTooSmall;
  return ReadResult::kOk;
}

// Reads up to count more bytes from the file's position onto the end of
// buffer; the buffer keeps only what was read, should the file have shrunk
// meanwhile.
bool ReadMore(platform::ReadingFile& file, DWORD count, std::vector<uint8_t>* buffer) {
  const size_t had = buffer->size();
  try {
    buffer->resize(had + count, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  DWORD read = 0;
  if (!file.Read(buffer->data() + had, count, &read)) return false;
  buffer->resize(had + read);
  return true;
}

}  // namespace

ReadResult ReadWholeFile(const WCHAR* path, DWORD minSize, std::vector<uint8_t>* out) {
  if (path == nullptr || out == nullptr) return ReadResult::kOpenFailed;
  platform::ReadingFile file(path);
  DWORD size = 0;
  const ReadResult opened = OpenSized(file, minSize, &size);
  if (opened != ReadResult::kOk) return opened;
  std::vector<uint8_t> buffer;
  if (!ReadMore(file, size, &buffer)) return ReadResult::kReadFailed;
  out->swap(buffer);
  return ReadResult::kOk;
}

ReadResult ReadFileHead(const WCHAR* path, DWORD lengthAt, DWORD extra, std::vector<uint8_t>* out) {
  if (path == nullptr || out == nullptr) return ReadResult::kOpenFailed;
  const DWORD headSize = lengthAt + 4;
  platform::ReadingFile file(path);
  DWORD size = 0;
  const ReadResult opened = OpenSized(file, 0, &size);
  if (opened != ReadResult::kOk) return opened;
  if (headSize > 8) return ReadResult::kReadFailed;
  // Heads are short: one read of a first piece usually holds all of it.
  constexpr DWORD kFirstPiece = 512;
  std::vector<uint8_t> buffer;
  if (!ReadMore(file, size < kFirstPiece ? size : kFirstPiece, &buffer))
    return ReadResult::kReadFailed;
  if (buffer.size() < headSize) return ReadResult::kTooSmall;
  const uint64_t wanted = static_cast<uint64_t>(DecodeU32(&buffer[lengthAt])) + extra;
  const DWORD length = static_cast<DWORD>(wanted < size ? wanted : size);
  if (length <= buffer.size()) {
    buffer.resize(length);
  } else if (!ReadMore(file, length - static_cast<DWORD>(buffer.size()), &buffer)) {
    return ReadResult::kReadFailed;
  }
  out->swap(buffer);
  return ReadResult::kOk;
}

}  // namespace msgstore

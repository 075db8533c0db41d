// Identifier counter files, advanced under their own named mutex.
#include "common/id_counter.h"

#include "common/field_codec.h"
#include "common/named_lock.h"
#include "common/replace_file.h"
#include "common/scoped.h"
#include "msgstore/platform.h"
#include "platform/path_state.h"

namespace msgstore {
namespace {

bool WriteValue(const WCHAR* path, DWORD value) {
  uint8_t bytes[4];
  EncodeU32(bytes, value);
  return ReplaceFileWhole(path, bytes, sizeof bytes);
}

// The stored value into *value, as ReadIdCounter reads it. False when a
// counter file that is there cannot be opened or read, which must not pass
// for 0: identifiers would start again at 1.
bool ReadCounterValue(const WCHAR* path, DWORD* value) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  ScopedFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  bool read = true;
  if (file.valid()) {
    DWORD got = 0;
    read = ReadFile(file.get(), bytes, sizeof bytes, &got, nullptr) != FALSE;
  } else {
    read = platform::IsMissing(path);
  }
  *value = DecodeU32(bytes);
  return read;
}

}  // namespace

DWORD ReadIdCounter(const WCHAR* path) {
  DWORD value = 0;
  ReadCounterValue(path, &value);
  return value;
}

DWORD NextId(const IdCounter& counter) {
  NamedLock held(counter.mutexName, false);
  DWORD current = 0;
  if (!ReadCounterValue(counter.path, &current)) return 0;
  const DWORD next = current + 1;
  return WriteValue(counter.path, next) ? next : 0;
}

bool SetIdCounter(const IdCounter& counter, DWORD value) {
  NamedLock held(counter.mutexName, false);
  return WriteValue(counter.path, value);
}

}  // namespace msgstore

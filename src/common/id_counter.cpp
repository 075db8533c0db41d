// Identifier counter files, advanced under their own named mutex.
#include "common/id_counter.h"

#include "common/field_codec.h"
#include "common/named_lock.h"
#include "common/replace_file.h"
#include "common/scoped.h"
#include "msgstore/platform.h"

namespace msgstore {
namespace {

bool WriteValue(const WCHAR* path, DWORD value) {
  uint8_t bytes[4];
  EncodeU32(bytes, value);
  return ReplaceFileWhole(path, bytes, sizeof bytes);
}

}  // namespace

DWORD ReadIdCounter(const WCHAR* path) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  ScopedFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.valid()) {
    DWORD got = 0;
    ReadFile(file.get(), bytes, sizeof bytes, &got, nullptr);
  }
  return DecodeU32(bytes);
}

DWORD NextId(const IdCounter& counter) {
  NamedLock held(counter.mutexName, false);
  const DWORD next = ReadIdCounter(counter.path) + 1;
  return WriteValue(counter.path, next) ? next : 0;
}

bool SetIdCounter(const IdCounter& counter, DWORD value) {
  NamedLock held(counter.mutexName, false);
  return WriteValue(counter.path, value);
}

}  // namespace msgstore

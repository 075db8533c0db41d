// Little-endian field reader over a file image and field writer over a
// stream. The reader trusts no length it finds in the data.
#include "common/field_codec.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/msg_props.h"
#include "common/msg_str.h"

namespace msgstore {

bool FieldReader::Take(size_t n, const uint8_t** p) {
  if (!ok_) return false;
  if (n > remaining()) {
    ok_ = false;
    return false;
  }
  *p = data_ + pos_;
  pos_ += n;
  return true;
}

bool FieldReader::Skip(size_t n) {
  const uint8_t* p = nullptr;
  return Take(n, &p);
}

bool FieldReader::U16(WORD* out) {
  const uint8_t* p = nullptr;
  if (!Take(2, &p)) return false;
  *out = DecodeU16(p);
  return true;
}

bool FieldReader::U32(DWORD* out) {
  const uint8_t* p = nullptr;
  if (!Take(4, &p)) return false;
  *out = DecodeU32(p);
  return true;
}

bool FieldReader::I32(int32_t* out) {
  const uint8_t* p = nullptr;
  if (!Take(4, &p)) return false;
  *out = static_cast<int32_t>(DecodeU32(p));
  return true;
}

bool FieldReader::FileTime(FILETIME* out) {
  const uint8_t* p = nullptr;
  if (!Take(8, &p)) return false;
  out->dwLowDateTime = DecodeU32(p);
  out->dwHighDateTime = DecodeU32(p + 4);
  return true;
}

bool FieldReader::String(WCHAR** member) {
  if (!ok_) return false;
  // Find the terminator among the whole code units that are left.
  const uint8_t* start = data_ + pos_;
  size_t units = remaining() / 2;
  size_t length = 0;
  while (length < units && DecodeU16(start + 2 * length) != 0) ++length;
  if (length == units) {
    ok_ = false;
    return false;
  }
  pos_ += (length + 1) * 2;
  // As MsgStr_Duplicate copies it: null for an empty string (or when no
  // memory is left), else a calloc'd copy with its terminator.
  WCHAR* copy = nullptr;
  if (length > 0) {
    copy = static_cast<WCHAR*>(std::calloc(length + 1, sizeof(WCHAR)));
    if (copy != nullptr)
      for (size_t i = 0; i < length; ++i) copy[i] = static_cast<WCHAR>(DecodeU16(start + 2 * i));
  }
  ReplaceString(member, copy);
  return true;
}

bool FieldReader::Content(DWORD* cbData, BYTE** pData) {
  if (!ok_) return false;
  if (remaining() < 4) {
    ok_ = false;
    return false;
  }
  DWORD size = DecodeU32(data_ + pos_);
  if (static_cast<size_t>(size) > remaining() - 4) {
    ok_ = false;
    return false;
  }
  BYTE* block = static_cast<BYTE*>(std::calloc(static_cast<size_t>(size) + 1, 1));
  if (block == nullptr) {
    ok_ = false;
    return false;
  }
  if (size > 0) std::memcpy(block, data_ + pos_ + 4, size);
  pos_ += 4 + static_cast<size_t>(size);
  std::free(*pData);
  *pData = block;
  *cbData = size;
  return true;
}

}  // namespace msgstore

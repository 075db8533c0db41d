// Little-endian field encoding of the message files: fixed-width encoders
// and a bounds-checked reader over bytes already read.
#ifndef MSGSTORE_COMMON_FIELD_CODEC_H_
#define MSGSTORE_COMMON_FIELD_CODEC_H_


#include "msgstore/types.h"

namespace msgstore {

inline void EncodeU16(uint8_t* p, WORD v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void EncodeU32(uint8_t* p, DWORD v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline WORD DecodeU16(const uint8_t* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
inline DWORD DecodeU32(const uint8_t* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
         (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}

// Reads fields in order from [data, data + size). Every method returns false,
// and leaves its output untouched, when the field does not fit in what is
// left; the reader then stays failed.
class FieldReader {
 public:
  FieldReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Skip(size_t n);
  bool U16(WORD* out);
  bool U32(DWORD* out);
  bool I32(int32_t* out);
  bool FileTime(FILETIME* out);
  // A UTF-16LE string up to its zero code unit. The member receives a
  // MsgStr_Duplicate copy (null for an empty string); its old value is freed.
  bool String(WCHAR** member);
  // cbData then cbData content bytes into a calloc'd block of cbData + 1
  // zero-filled bytes; the old block is freed.
  bool Content(DWORD* cbData, BYTE** pData);

  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  size_t remaining() const { return size_ - pos_; }

 private:
  bool Take(size_t n, const uint8_t** p);

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_FIELD_CODEC_H_

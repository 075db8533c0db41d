// A message file layout described once, as a table of fields that both the
// writer and the readers walk, so that the two cannot drift apart.
//
// A field names a member of the shared record (tagMSGPROPS) or of the
// store's own record (tagMMSMSGPROPS, tagEMAILMSGPROPS); its width follows
// from the member's type: 16 or 32 bits, a FILETIME, or a string. Besides
// fields a layout holds marks: a 4-byte offset placeholder, the point whose
// offset is patched into it, the end of what the quick read takes, and the
// content (cbData and the bytes of pData).
#ifndef MSGSTORE_COMMON_LAYOUT_H_
#define MSGSTORE_COMMON_LAYOUT_H_

#include <array>
#include <cstddef>
#include <type_traits>
#include <vector>

#include "common/field_codec.h"
#include "msgstore/types.h"

namespace msgstore {

enum class FieldKind : uint8_t {
  kU16,
  kU32,
  kFileTime,
  kString,
  kOffset,     // 4-byte placeholder number `slot`
  kPatchHere,  // the current offset goes into placeholder number `slot`
  kQuickEnd,   // the quick read stops here
  kContent,    // cbData, then cbData bytes of pData
};

enum class RecordKind : uint8_t { kMsg, kStore };

struct LayoutField {
  FieldKind kind;
  RecordKind record;
  uint16_t at;  // offset of the member in its record, or the placeholder slot
};

template <class T>
constexpr FieldKind KindOf() {
  if constexpr (std::is_same_v<T, WCHAR*>) {
    return FieldKind::kString;
  } else if constexpr (std::is_same_v<T, FILETIME>) {
    return FieldKind::kFileTime;
  } else {
    static_assert(std::is_integral_v<T> && (sizeof(T) == 2 || sizeof(T) == 4),
                  "a layout field is 16 or 32 bits, a FILETIME or a string");
    return sizeof(T) == 2 ? FieldKind::kU16 : FieldKind::kU32;
  }
}

constexpr LayoutField Offset(uint16_t slot) { return {FieldKind::kOffset, RecordKind::kMsg, slot}; }
constexpr LayoutField PatchHere(uint16_t slot) {
  return {FieldKind::kPatchHere, RecordKind::kMsg, slot};
}
constexpr LayoutField QuickEnd() { return {FieldKind::kQuickEnd, RecordKind::kMsg, 0}; }
constexpr LayoutField Content() { return {FieldKind::kContent, RecordKind::kMsg, 0}; }

}  // namespace msgstore

// A member of tagMSGPROPS, and a member of the store's own record.
#define MSG_FIELD(member)                                                              \
  ::msgstore::LayoutField {                                                            \
    ::msgstore::KindOf<decltype(tagMSGPROPS::member)>(), ::msgstore::RecordKind::kMsg, \
        offsetof(tagMSGPROPS, member)                                                  \
  }
#define STORE_FIELD(Record, member)                                                 \
  ::msgstore::LayoutField {                                                         \
    ::msgstore::KindOf<decltype(Record::member)>(), ::msgstore::RecordKind::kStore, \
        offsetof(Record, member)                                                    \
  }

namespace msgstore {

struct Layout {
  const LayoutField* fields;
  size_t count;
};

template <size_t N>
constexpr Layout MakeLayout(const std::array<LayoutField, N>& fields) {
  return {fields.data(), N};
}

// The runs of fields laid end to end, as one layout table.
template <size_t... N>
constexpr std::array<LayoutField, (N + ...)> Join(const std::array<LayoutField, N>&... runs) {
  std::array<LayoutField, (N + ...)> out{};
  size_t i = 0;
  auto append = [&](const auto& run) {
    for (const LayoutField& f : run) out[i++] = f;
  };
  (append(runs), ...);
  return out;
}

template <class... F>
constexpr std::array<LayoutField, sizeof...(F)> Run(F... fields) {
  return {fields...};
}

// Runs of the shared record that several layouts hold alike.
// The old layouts: the record in its memory order, without pszText2.
inline constexpr auto kMemoryOrder =
    Run(MSG_FIELD(bRead), MSG_FIELD(dwUser1), MSG_FIELD(pszText1), MSG_FIELD(ftIndexTime),
        MSG_FIELD(ftTime), MSG_FIELD(pszTo), MSG_FIELD(pszText3), MSG_FIELD(pszText4),
        MSG_FIELD(pszSubject), MSG_FIELD(dwFolder), MSG_FIELD(wStatus), MSG_FIELD(dwOid),
        MSG_FIELD(dwUser2), MSG_FIELD(pszMsgID), MSG_FIELD(wUser1), MSG_FIELD(wUser2),
        MSG_FIELD(dwUser3));
// The current layouts: the fixed header, the strings before the quick length,
// the message's other strings, the tail and the user words.
inline constexpr auto kHeader = Run(MSG_FIELD(dwOid), MSG_FIELD(bRead), MSG_FIELD(wStatus),
                                    MSG_FIELD(ftIndexTime), MSG_FIELD(dwFolder));
inline constexpr auto kLeadStrings = Run(MSG_FIELD(pszSubject), MSG_FIELD(pszText2));
inline constexpr auto kBodyStrings =
    Run(MSG_FIELD(pszText1), MSG_FIELD(pszTo), MSG_FIELD(pszText3), MSG_FIELD(pszText4));
inline constexpr auto kTail =
    Run(MSG_FIELD(ftTime), MSG_FIELD(dwUser1), MSG_FIELD(dwUser2), MSG_FIELD(pszMsgID));
inline constexpr auto kUserWords = Run(MSG_FIELD(wUser1), MSG_FIELD(wUser2), MSG_FIELD(dwUser3));

// How far a reader goes.
enum class ReadExtent {
  kQuick,        // up to the quick end mark
  kWithoutBody,  // every field; cbData 0 and pData null (freed) instead of the content
  kWithBody,     // every field and the content
};

// Reads the fields of the layout from r into the records. Strings replace
// (and free) what the members held. False when a field runs past the bytes
// read; the fields read before stay in the records.
bool ReadLayout(FieldReader& r, const Layout& layout, ReadExtent extent, tagMSGPROPS* msg,
                void* store);

// Reads with the content, or without it.
inline ReadExtent BodyExtent(bool withBody) {
  return withBody ? ReadExtent::kWithBody : ReadExtent::kWithoutBody;
}

// The bytes of a file of the layout holding the records.
std::vector<uint8_t> EncodeLayout(const Layout& layout, const tagMSGPROPS& msg, const void* store);

// Replaces the file at path (its low-byte name, as a stream opens it) with
// the records in the layout. 1 once the new file stands complete under that
// name; 0 when it could not be made, with the old file left as it was and no
// temporary file behind.
int WriteLayoutFile(const WCHAR* path, const Layout& layout, const tagMSGPROPS& msg,
                    const void* store);

// ReadLayout over a file image.
bool ReadLayoutImage(const std::vector<uint8_t>& image, const Layout& layout, ReadExtent extent,
                     tagMSGPROPS* msg, void* store);

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_LAYOUT_H_

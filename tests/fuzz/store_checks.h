// What the MMS and e-mail harnesses check alike: that a message file reader
// gives back exactly what the file holds (its writer makes the same bytes of
// the record again), and that a folder index behaves as the sorted list of
// its whole records.
//
// Records handed to a reader are marked first: every member holds a value
// of its own and every string and the content are allocated, so a reader
// that leaks what it replaces (LeakSanitizer), keeps it, or touches what it
// must leave alone is caught.
#ifndef MSGSTORE_TESTS_FUZZ_STORE_CHECKS_H_
#define MSGSTORE_TESTS_FUZZ_STORE_CHECKS_H_

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/index_file.h"
#include "fuzz_support.h"
#include "msgstore/email.h"

namespace msgstore_fuzz {

// The phone's e-mail tree. Its maker takes "\DiskOnChip\User" to exist, as
// it does on a handset; an empty scratch root has to be given it first.
inline void CreateEmailTree() {
  CreateDirectoryW(u"\\DiskOnChip", nullptr);
  CreateDirectoryW(u"\\DiskOnChip\\User", nullptr);
  FUZZ_CHECK(EmailMsgStore_CreateDir(false));
}

// ---------------------------------------------------------------------------
// Records

inline WCHAR* Allocated(const char16_t* text) {
  const size_t bytes = (std::char_traits<char16_t>::length(text) + 1) * sizeof(WCHAR);
  auto* copy = static_cast<WCHAR*>(std::malloc(bytes));
  FUZZ_CHECK(copy != nullptr);
  std::memcpy(copy, text, bytes);
  return copy;
}

inline void Mark(tagMSGPROPS* p) {
  *p = {};
  p->bRead = 0x0B;
  p->dwUser1 = 0xD1;
  p->pszText1 = Allocated(u"text1");
  p->pszText2 = Allocated(u"text2");
  p->cbData = 2;
  p->pData = static_cast<BYTE*>(std::calloc(3, 1));
  p->ftIndexTime = {0x11, 0x12};
  p->ftTime = {0x21, 0x22};
  p->pszTo = Allocated(u"to");
  p->pszText3 = Allocated(u"text3");
  p->pszText4 = Allocated(u"text4");
  p->pszSubject = Allocated(u"subject");
  p->dwFolder = 0xF0;
  p->wStatus = 0x57;
  p->dwOid = 0x01D;
  p->dwUser2 = 0xD2;
  p->pszMsgID = Allocated(u"msgid");
  p->wUser1 = 0xA1;
  p->wUser2 = 0xA2;
  p->dwUser3 = 0xD3;
}

inline void Mark(tagMMSMSGPROPS* p) {
  *p = {0x51, Allocated(u"mms"), 0x52, 0x53, 0x54, 0x55, 0x56, 0x57};
}

inline void Mark(tagEMAILMSGPROPS* p) {
  *p = {0x61, 0x62, Allocated(u"email1"), Allocated(u"email2"), -3, 0x64, 0x65};
}

inline bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Every member but the content; strings by their text.
inline bool SameFields(const tagMSGPROPS& a, const tagMSGPROPS& b) {
  return a.bRead == b.bRead && a.dwUser1 == b.dwUser1 && Wide(a.pszText1) == Wide(b.pszText1) &&
         Wide(a.pszText2) == Wide(b.pszText2) && SameTime(a.ftIndexTime, b.ftIndexTime) &&
         SameTime(a.ftTime, b.ftTime) && Wide(a.pszTo) == Wide(b.pszTo) &&
         Wide(a.pszText3) == Wide(b.pszText3) && Wide(a.pszText4) == Wide(b.pszText4) &&
         Wide(a.pszSubject) == Wide(b.pszSubject) && a.dwFolder == b.dwFolder &&
         a.wStatus == b.wStatus && a.dwOid == b.dwOid && a.dwUser2 == b.dwUser2 &&
         Wide(a.pszMsgID) == Wide(b.pszMsgID) && a.wUser1 == b.wUser1 && a.wUser2 == b.wUser2 &&
         a.dwUser3 == b.dwUser3;
}

inline bool SameFields(const tagMMSMSGPROPS& a, const tagMMSMSGPROPS& b) {
  return a.wMmsValue1 == b.wMmsValue1 && Wide(a.pszMmsText) == Wide(b.pszMmsText) &&
         a.dwMmsValue1 == b.dwMmsValue1 && a.wMmsValue2 == b.wMmsValue2 &&
         a.wMmsQuick1 == b.wMmsQuick1 && a.dwMmsValue2 == b.dwMmsValue2 &&
         a.wMmsValue3 == b.wMmsValue3 && a.wMmsQuick2 == b.wMmsQuick2;
}

inline bool SameFields(const tagEMAILMSGPROPS& a, const tagEMAILMSGPROPS& b) {
  return a.wQuickValue == b.wQuickValue && a.dwEmailData1 == b.dwEmailData1 &&
         Wide(a.pszEmailText1) == Wide(b.pszEmailText1) &&
         Wide(a.pszEmailText2) == Wide(b.pszEmailText2) &&
         a.dwReadReportStatus == b.dwReadReportStatus && a.dwAccountId == b.dwAccountId &&
         a.dwEmailData2 == b.dwEmailData2;
}

// The members that every quick read fills from the head of the file.
inline bool SameHead(const tagMSGPROPS& a, const tagMSGPROPS& b) {
  return a.dwOid == b.dwOid && a.bRead == b.bRead && a.wStatus == b.wStatus &&
         SameTime(a.ftIndexTime, b.ftIndexTime) && a.dwFolder == b.dwFolder &&
         Wide(a.pszSubject) == Wide(b.pszSubject) && Wide(a.pszText2) == Wide(b.pszText2);
}

// Readers hand back an empty string as a null pointer.
inline bool NoEmptyStrings(std::initializer_list<const WCHAR*> strings) {
  for (const WCHAR* s : strings)
    if (s != nullptr && s[0] == 0) return false;
  return true;
}
inline bool NoEmptyStrings(const tagMSGPROPS& p) {
  return NoEmptyStrings(
      {p.pszSubject, p.pszText2, p.pszText1, p.pszTo, p.pszText3, p.pszText4, p.pszMsgID});
}
inline bool NoEmptyStrings(const tagMMSMSGPROPS& p) { return NoEmptyStrings({p.pszMmsText}); }
inline bool NoEmptyStrings(const tagEMAILMSGPROPS& p) {
  return NoEmptyStrings({p.pszEmailText1, p.pszEmailText2});
}

// The bytes a string takes in a file: its code units and the terminator.
inline size_t StoredSize(const WCHAR* s) { return 2 * (Wide(s).size() + 1); }

// ---------------------------------------------------------------------------
// Message files

// What the checks need to know of a message file layout.
struct LayoutFacts {
  // Where the file keeps its header length, the offset of cbData: after the
  // quick length in the current layouts, first in the old ones.
  size_t headerLengthAt;
  // Current layouts: where pszSubject starts; the quick length stored first
  // is the offset just past pszText2. The old layouts hold no pszText2 and
  // their readers leave the member alone.
  bool hasText2;
  size_t subjectAt;
  // MMS readers take the body where the header length points; e-mail
  // readers right after the last field.
  bool bodyAtHeaderLength;
  // The bytes the fields of a record without strings take: nothing shorter
  // can be read. With the body, an e-mail file needs its content length
  // after them too; an MMS file's may lie anywhere.
  size_t smallestFields;
};

// clang-format off
//                                   header     pszText2  pszSubject  body at        smallest
//                                   length at            at          header length  fields
constexpr LayoutFacts kMmsCurrent   = {4,        true,     34,         true,          88};
constexpr LayoutFacts kMmsOld       = {0,        false,    0,          true,          82};
constexpr LayoutFacts kEmailCurrent = {4,        true,     32,         false,         90};
constexpr LayoutFacts kEmailOld     = {0,        false,    0,          false,         84};
// clang-format on

// A message file layout of a store and the operations over it.
template <class Store>
struct Format {
  int (*read)(WCHAR* path, tagMSGPROPS* msg, Store* store, bool withBody);
  int (*write)(WCHAR* path, tagMSGPROPS* msg, Store* store);
  void (*release)(tagMSGPROPS* msg, Store* store);
  LayoutFacts layout;
};

// The record read from data, written again into rewrite with the layout's
// writer, gives the same bytes: only the offsets at the head are recomputed,
// and the content comes from where the reader took it. Returns where the
// fields end (the header length the writer computed).
template <class Store>
size_t CheckRewrite(const Format<Store>& f, WCHAR* rewrite, tagMSGPROPS* msg, Store* store,
                    const uint8_t* data, size_t size) {
  FUZZ_CHECK(f.write(rewrite, msg, store) == 1);
  std::string out;
  FUZZ_CHECK(GetHostFile(msgstore::HostPath(rewrite), &out));
  const auto* bytes = reinterpret_cast<const uint8_t*>(out.data());
  const size_t fieldsAt = f.layout.headerLengthAt + 4;
  FUZZ_CHECK(out.size() >= fieldsAt + 4);
  const size_t fieldsEnd = LoadU32(bytes + f.layout.headerLengthAt);
  const size_t content = 4 + static_cast<size_t>(msg->cbData);
  FUZZ_CHECK(fieldsEnd >= fieldsAt && out.size() == fieldsEnd + content);
  FUZZ_CHECK(fieldsEnd <= size &&
             std::memcmp(bytes + fieldsAt, data + fieldsAt, fieldsEnd - fieldsAt) == 0);
  const size_t bodyAt =
      f.layout.bodyAtHeaderLength ? LoadU32(data + f.layout.headerLengthAt) : fieldsEnd;
  FUZZ_CHECK(bodyAt + content <= size &&
             std::memcmp(bytes + fieldsEnd, data + bodyAt, content) == 0);
  if (f.layout.hasText2)
    FUZZ_CHECK(LoadU32(bytes) ==
               f.layout.subjectAt + StoredSize(msg->pszSubject) + StoredSize(msg->pszText2));
  return fieldsEnd;
}

// Reads the file at path (which holds data) with and without the body, each
// into a marked record. The read with the body must give back the file's
// bytes (CheckRewrite) and a content block with a zero byte after it; the
// read without it takes only the first header-length bytes, so it succeeds
// exactly when the fields end within them, and then agrees with the full
// read on every field.
template <class Store>
void CheckRead(const Format<Store>& f, WCHAR* path, WCHAR* rewrite, const uint8_t* data,
               size_t size) {
  tagMSGPROPS full;
  Store fullStore;
  Mark(&full);
  Mark(&fullStore);
  const WCHAR* text2 = full.pszText2;
  const int withBody = f.read(path, &full, &fullStore, true);
  if (size < f.layout.smallestFields + (f.layout.bodyAtHeaderLength ? 0 : 4))
    FUZZ_CHECK(withBody == 0);
  if (!f.layout.hasText2) FUZZ_CHECK(full.pszText2 == text2);
  size_t fieldsEnd = 0;
  if (withBody) {
    FUZZ_CHECK(withBody == 1 && NoEmptyStrings(full) && NoEmptyStrings(fullStore));
    FUZZ_CHECK(full.pData != nullptr && full.pData[full.cbData] == 0);
    fieldsEnd = CheckRewrite(f, rewrite, &full, &fullStore, data, size);
  }

  tagMSGPROPS header;
  Store headerStore;
  Mark(&header);
  Mark(&headerStore);
  text2 = header.pszText2;
  const int withoutBody = f.read(path, &header, &headerStore, false);
  if (size < f.layout.smallestFields) FUZZ_CHECK(withoutBody == 0);
  if (!f.layout.hasText2) FUZZ_CHECK(header.pszText2 == text2);
  if (withoutBody) FUZZ_CHECK(header.cbData == 0 && header.pData == nullptr);
  if (withBody) {
    FUZZ_CHECK(withoutBody == (LoadU32(data + f.layout.headerLengthAt) >= fieldsEnd ? 1 : 0));
    if (withoutBody) FUZZ_CHECK(SameFields(full, header) && SameFields(fullStore, headerStore));
  }
  f.release(&full, &fullStore);
  f.release(&header, &headerStore);
}

// ---------------------------------------------------------------------------
// Folder indexes

using msgstore::IndexRecord;

struct IndexOps {
  DWORD (*list)(CArray<tagOidArray, tagOidArray>& list, DWORD folder);
  void (*add)(DWORD messageId, DWORD folder, FILETIME time);
  void (*remove)(DWORD messageId, DWORD folder);
};

inline uint64_t Ticks(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

inline bool SameRecords(const std::vector<IndexRecord>& a, const std::vector<IndexRecord>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].folder != b[i].folder || a[i].oid != b[i].oid || Ticks(a[i].time) != Ticks(b[i].time))
      return false;
  }
  return true;
}

// The index of folder, at indexPath, holds data. Every whole 16-byte record
// must come back as it is in the file and the bytes after the last one must
// be ignored, by the reader and by the quick list; the add must put its
// record before the first one that is not later, and the removal must take
// out the first record with the identifier and folder, or the file with the
// last one. An empty file is never read nor written.
inline void CheckIndex(const IndexOps& ops, DWORD folder, const WCHAR* indexPath,
                       const uint8_t* data, size_t size) {
  std::vector<IndexRecord> expected;
  for (size_t at = 0; at + 16 <= size; at += 16) {
    const uint8_t* p = data + at;
    expected.push_back({LoadU32(p), LoadU32(p + 4), {LoadU32(p + 8), LoadU32(p + 12)}});
  }
  std::vector<IndexRecord> records;
  const bool read = msgstore::ReadIndex(indexPath, &records);
  FUZZ_CHECK(read == (size > 0));
  if (read) FUZZ_CHECK(SameRecords(records, expected));

  CArray<tagOidArray, tagOidArray> list;
  list.Add({1, 99, 0xDEADBEEF});  // what an unreadable index must leave alone
  const DWORD count = ops.list(list, folder);
  if (size == 0) {
    FUZZ_CHECK(count == 0 && list.GetSize() == 1 && list[0].dwOid == 0xDEADBEEF);
  } else {
    FUZZ_CHECK(count == expected.size() && list.GetSize() == static_cast<long>(count));
    for (size_t i = 0; i < expected.size(); ++i) {
      const tagOidArray& entry = list[static_cast<long>(i)];
      FUZZ_CHECK(entry.bMemoryCard == 0 && entry.byFolder == (expected[i].folder & 0xFF) &&
                 entry.dwOid == expected[i].oid);
    }
  }

  // An identifier no store would hand out soon, added at the time of a
  // record already there, so that ties are exercised too.
  constexpr DWORD kAdded = 0xFFFFFF00;
  const FILETIME time = expected.empty() ? FILETIME{5, 5} : expected[expected.size() / 2].time;
  ops.add(kAdded, folder, time);
  if (size == 0) {
    FUZZ_CHECK(!msgstore::ReadIndex(indexPath, &records) &&
               GetFileAttributesW(indexPath) != INVALID_FILE_ATTRIBUTES);
    return;
  }
  std::vector<IndexRecord> added = expected;
  size_t place = 0;
  while (place < added.size() && Ticks(added[place].time) > Ticks(time)) ++place;
  added.insert(added.begin() + static_cast<std::ptrdiff_t>(place), {folder, kAdded, time});
  FUZZ_CHECK(msgstore::ReadIndex(indexPath, &records) && SameRecords(records, added));

  ops.remove(kAdded, folder);
  if (added.size() == 1) {
    FUZZ_CHECK(GetFileAttributesW(indexPath) == INVALID_FILE_ATTRIBUTES);
    return;
  }
  for (size_t i = 0; i < added.size(); ++i) {
    if (added[i].oid == kAdded && added[i].folder == folder) {
      added.erase(added.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  FUZZ_CHECK(msgstore::ReadIndex(indexPath, &records) && SameRecords(records, added));
}

}  // namespace msgstore_fuzz

#endif  // MSGSTORE_TESTS_FUZZ_STORE_CHECKS_H_

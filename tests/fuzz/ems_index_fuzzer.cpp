// The EMS folder index ("EmsIni") on whatever bytes it may hold: the record
// reader, the quick list, and the add and removal that read the file before
// they rewrite it.
//
// Every whole 16-byte record must come back as it is in the file and the
// bytes after the last one must be ignored; the add must put its record
// before the first one that is not later, and the removal must take out the
// first record with the identifier and folder, or the file with the last one.
#include <vector>

#include "common/index_file.h"
#include "ems/ems_internal.h"
#include "fuzz_support.h"
#include "msgstore/ems.h"

namespace {

using msgstore::IndexRecord;

WCHAR g_index[MAX_PATH];

// An identifier no store would hand out soon, filed as a SIM copy so that it
// goes into the INBOX index with its own folder.
constexpr DWORD kAddedOid = 0xFFFFFF00;
constexpr DWORD kAddedFolder = EMS_FOLDER_SIM_INBOX;

std::vector<IndexRecord> Decode(const uint8_t* data, size_t size) {
  std::vector<IndexRecord> records;
  for (size_t at = 0; at + 16 <= size; at += 16) {
    const uint8_t* p = data + at;
    using msgstore_fuzz::LoadU32;
    records.push_back({LoadU32(p), LoadU32(p + 4), {LoadU32(p + 8), LoadU32(p + 12)}});
  }
  return records;
}

uint64_t Ticks(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

bool Same(const std::vector<IndexRecord>& a, const std::vector<IndexRecord>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].folder != b[i].folder || a[i].oid != b[i].oid || Ticks(a[i].time) != Ticks(b[i].time))
      return false;
  }
  return true;
}

bool IndexExists() { return GetFileAttributesW(g_index) != INVALID_FILE_ATTRIBUTES; }

void CheckQuickList(const std::vector<IndexRecord>& expected, size_t size) {
  CMsgList list;
  list.Add({1, 99, 0xDEADBEEF});  // what an unreadable index must leave alone
  DWORD count = EMSMsgStore_GetQuickMsgList(list, EMS_FOLDER_INBOX);
  if (size == 0) {
    FUZZ_CHECK(count == 0 && list.GetSize() == 1 && list[0].dwOid == 0xDEADBEEF);
    return;
  }
  FUZZ_CHECK(count == expected.size() && list.GetSize() == static_cast<long>(count));
  for (size_t i = 0; i < expected.size(); ++i) {
    const tagOidArray& entry = list[static_cast<long>(i)];
    FUZZ_CHECK(entry.bMemoryCard == 0 && entry.byFolder == (expected[i].folder & 0xFF) &&
               entry.dwOid == expected[i].oid);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("ems_index");
  FUZZ_CHECK(EMSMsgStore_CreateDir(false));
  FUZZ_CHECK(msgstore::ems::IndexPath(EMS_FOLDER_INBOX, g_index));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  msgstore_fuzz::PutDeviceFile(g_index, data, size);
  const std::vector<IndexRecord> expected = Decode(data, size);

  std::vector<IndexRecord> records;
  bool read = msgstore::ReadIndex(g_index, &records);
  FUZZ_CHECK(read == (size > 0));
  if (read) FUZZ_CHECK(Same(records, expected));
  CheckQuickList(expected, size);

  // Add a record at the time of one already there, so ties are exercised too.
  FILETIME time = expected.empty() ? FILETIME{5, 5} : expected[expected.size() / 2].time;
  EMSMsgStore_AddMsgToIni(kAddedOid, kAddedFolder, time);
  std::vector<IndexRecord> added = expected;
  if (size == 0) {
    // An empty index is never written to.
    FUZZ_CHECK(!msgstore::ReadIndex(g_index, &records) && IndexExists());
    return 0;
  }
  size_t place = 0;
  while (place < added.size() && Ticks(added[place].time) > Ticks(time)) ++place;
  added.insert(added.begin() + static_cast<std::ptrdiff_t>(place), {kAddedFolder, kAddedOid, time});
  FUZZ_CHECK(msgstore::ReadIndex(g_index, &records) && Same(records, added));

  EMSMsgStore_DeleteMsgFromIni(kAddedOid, kAddedFolder);
  if (added.size() == 1) {
    // The only record went, and the index with it.
    FUZZ_CHECK(!IndexExists());
    return 0;
  }
  for (size_t i = 0; i < added.size(); ++i) {
    if (added[i].oid == kAddedOid && added[i].folder == kAddedFolder) {
      added.erase(added.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  FUZZ_CHECK(msgstore::ReadIndex(g_index, &records) && Same(records, added));
  return 0;
}

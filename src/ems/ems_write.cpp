// Writing EMS messages: the choice of storage, the folder limit with its
// evictions, identifier allocation and the phone index.
#include <cstdint>

#include "common/id_counter.h"
#include "common/msg_str.h"
#include "common/scoped.h"
#include "ems/ems_internal.h"
#include "msgstore/platform.h"

namespace msgstore {
namespace ems {
namespace {

DWORD PhoneLastRecord(DWORD folder, DWORD* pCount) {
  CMsgList list;
  EMSMsgStore_GetQuickMsgList(list, folder);
  // SIM copies share the index of their ordinary folder but never count.
  for (long i = list.GetSize() - 1; i >= 0; --i) {
    if (IsSimFolder(list[i].byFolder)) list.RemoveAt(i);
  }
  const long size = list.GetSize();
  if (pCount) *pCount = static_cast<DWORD>(size);
  return size > 0 ? list[size - 1].dwOid : 0;
}

DWORD CardLastRecord(DWORD folder, DWORD* pCount) {
  CMsgList list;
  const DWORD count = EMSMsgStore_GetMessageList(true, folder, list);
  if (pCount) *pCount = count;
  DWORD oldest = 0;
  FILETIME oldestTime = {0, 0};
  bool found = false;
  for (long i = 0; i < list.GetSize(); ++i) {
    ScopedMsgProps record;
    if (!EMSMsgStore_QuickReadFromFile(true, folder, list[i].dwOid, record.get())) continue;
    if (!found || CompareFileTime(&oldestTime, &record->ftIndexTime) > 0) {
      found = true;
      oldest = list[i].dwOid;
      oldestTime = record->ftIndexTime;
    }
  }
  return oldest;
}

// Deletes the file of oid; in phone memory its index record goes too.
void Evict(bool card, DWORD folder, DWORD oid) {
  WCHAR path[MAX_PATH] = {};
  if (EMSMsgStore_GetFilePath(card, oid, folder, path)) DeleteFileW(path);
  if (!card) EMSMsgStore_DeleteMsgFromIni(oid, folder);
}

bool IsFull(DWORD count) { return count >= EMS_MAX_FOLDER_MESSAGES; }

// Keeps folder under the limit before a new message goes in: evicts, or
// moves the message to the other storage when the caller allows it (card is
// then switched and *pStorage set). False when the message is refused.
bool MakeRoom(bool& card, DWORD folder, int* pStorage) {
  DWORD count = 0;
  const DWORD oldest = EMSMsgStore_GetLastRecord(card, folder, &count);
  if (!IsFull(count)) return true;
  if (pStorage != nullptr && *pStorage == STORAGE_AUTO) {
    if (!card && (GetPlatform().xGetSDCardState() & (2 | 4)) != 0) {
      Evict(card, folder, oldest);  // the card cannot take it now
      return true;
    }
    DWORD otherCount = 0;
    const DWORD otherOldest = EMSMsgStore_GetLastRecord(!card, folder, &otherCount);
    if (!IsFull(otherCount)) {
      card = !card;
      *pStorage = card ? 1 : 0;
      return true;
    }
    // Both full: the message goes to the card, which loses its oldest.
    const DWORD cardOldest = card ? oldest : otherOldest;
    if (!card) {
      card = true;
      *pStorage = 1;
    }
    Evict(true, folder, cardOldest);
    return true;
  }
  if (folder == EMS_FOLDER_INBOX) {
    if (pStorage != nullptr) *pStorage = STORAGE_INBOX_FULL;
    return false;
  }
  Evict(card, folder, oldest);
  return true;
}

// Picks the identifier and builds the path; a new message on the card draws
// identifiers until its name is free. False when no path can be built.
bool ChooseName(bool card, tagMSGPROPS* props, DWORD oidExisting, WCHAR* path) {
  bool drawn = false;
  DWORD previous = 0;
  for (;;) {
    const DWORD oid = oidExisting != 0 ? oidExisting : GetNextEmsOid();
    props->dwOid = oid;
    if (!EMSMsgStore_GetFilePath(card, oid, props->dwFolder, path)) return false;
    if (oidExisting != 0 || !card || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
      return true;
    }
    // A counter that cannot be written hands out the same number forever.
    if (drawn && oid == previous) return false;
    drawn = true;
    previous = oid;
  }
}

}  // namespace

DWORD GetNextEmsOid() { return NextId(kCounter); }

}  // namespace ems
}  // namespace msgstore

using msgstore::ems::IsSimFolder;

DWORD EMSMsgStore_GetLastRecord(bool bMemoryCard, DWORD folder, DWORD* pCount) {
  return bMemoryCard ? msgstore::ems::CardLastRecord(folder, pCount)
                     : msgstore::ems::PhoneLastRecord(folder, pCount);
}

DWORD EMSMsgStore_WriteMessage(bool bMemoryCard, tagMSGPROPS* props, DWORD oidExisting,
                               int* pStorage) {
  if (props == nullptr) return 0;
  bool card = bMemoryCard;
  const DWORD folder = props->dwFolder;
  if (oidExisting == 0 && !IsSimFolder(folder) &&
      !msgstore::ems::MakeRoom(card, folder, pStorage)) {
    return 0;
  }
  WCHAR path[MAX_PATH] = {};
  if (!msgstore::ems::ChooseName(card, props, oidExisting, path) ||
      !EMSMsgStore_WriteToFile(path, props)) {
    return 0;
  }
  if (!card) {
    if (oidExisting != 0) EMSMsgStore_DeleteMsgFromIni(oidExisting, folder);
    EMSMsgStore_AddMsgToIni(props->dwOid, folder, props->ftIndexTime);
  }
  return props->dwOid;
}

// Writing EMS messages: the choice of storage, the folder limit with its
// evictions, identifier allocation and the phone index. The EMS store's own
// rules: SIM copies neither count nor have a limit; a full INBOX refuses a
// message unless the caller lets the store choose the storage; with the
// choice, a card whose state has flag 2 or 4 makes the phone evict.
#include "common/store_ops.h"
#include "ems/ems_internal.h"
#include "msgstore/platform.h"

namespace msgstore {
namespace ems {
namespace {

bool IsFull(DWORD count) { return count >= kStore.folderLimit; }

// Keeps folder under the limit before a new message goes in: evicts, or
// moves the message to the other storage when the caller allows it (card is
// then switched and *pStorage set). False when the message is refused, when
// a folder could not be counted (its index or directory could not be read)
// or when the oldest message could not be evicted (the folder stays full).
bool MakeRoom(bool& card, DWORD folder, int* pStorage) {
  const ReadWatch watch;
  DWORD count = 0;
  const DWORD oldest = EMSMsgStore_GetLastRecord(card, folder, &count);
  if (watch.Missed()) return false;
  if (!IsFull(count)) return true;
  if (pStorage != nullptr && *pStorage == STORAGE_AUTO) {
    if (!card && (GetPlatform().xGetSDCardState() & kStore.cardUnusable) != 0) {
      return Evict(kStoreOps, card, folder, oldest);  // the card cannot take it now
    }
    DWORD otherCount = 0;
    const DWORD otherOldest = EMSMsgStore_GetLastRecord(!card, folder, &otherCount);
    if (watch.Missed()) return false;
    if (!IsFull(otherCount)) {
      card = !card;
      *pStorage = card ? 1 : 0;
      ThisThreadWriteNote().switchedFor = WriteNote::kFolderFull;
      return true;
    }
    // Both full: the message goes to the card, which loses its oldest.
    const DWORD cardOldest = card ? oldest : otherOldest;
    if (!card) {
      card = true;
      *pStorage = 1;
      ThisThreadWriteNote().switchedFor = WriteNote::kFolderFull;
    }
    return Evict(kStoreOps, true, folder, cardOldest);
  }
  if (folder == EMS_FOLDER_INBOX) {
    if (pStorage != nullptr) *pStorage = STORAGE_INBOX_FULL;
    ThisThreadWriteNote().refusal = WriteNote::kFolderFull;
    return false;
  }
  return Evict(kStoreOps, card, folder, oldest);
}

}  // namespace

DWORD GetNextEmsOid() { return NextId(kCounter); }

}  // namespace ems
}  // namespace msgstore

using msgstore::ems::IsSimFolder;
using msgstore::ems::kStoreOps;

DWORD EMSMsgStore_GetLastRecord(bool bMemoryCard, DWORD folder, DWORD* pCount) {
  if (bMemoryCard) return msgstore::OldestByScan(kStoreOps, true, folder, pCount, false);
  CMsgList list;
  EMSMsgStore_GetQuickMsgList(list, folder);
  // SIM copies share the index of their ordinary folder but never count.
  for (long i = list.GetSize() - 1; i >= 0; --i) {
    if (IsSimFolder(list[i].byFolder)) list.RemoveAt(i);
  }
  return msgstore::OldestOfIndexList(list, pCount);
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
  if (!msgstore::ChooseName(kStoreOps, card, props, oidExisting, path) ||
      !EMSMsgStore_WriteToFile(path, props)) {
    return 0;
  }
  // A new message whose index record cannot be written is taken back.
  if (!msgstore::IndexWritten(kStoreOps, card, oidExisting, folder, *props, path)) return 0;
  return props->dwOid;
}

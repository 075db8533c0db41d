// Writing MMS messages: the folder limit, the free space of the volume, the
// choice of storage, identifier allocation and the phone index.
//
// The MMS store's own rules: at most one storage switch or eviction per
// write, remembered by the limit flag, and a second shortage refuses the
// message with STORAGE_NO_SPACE; with STORAGE_AUTO a full phone folder goes
// to the card unless the card state has flag 2 (flag 4 is not looked at); a
// full REPORT never switches; when both storages are full the card loses its
// oldest message; the free space checked is the body's size.
#include "mms/mms_internal.h"
#include "msgstore/platform.h"

namespace {

using msgstore::mms::kStoreOps;

bool IsFull(DWORD count) { return count >= MMS_MAX_FOLDER_MESSAGES; }

bool HasRoomFor(bool card, DWORD bytes) {
  uint64_t available = 0, total = 0, free = 0;
  const BOOL known = msgstore::GetPlatform().GetDiskFreeSpaceExW(
      card ? u"\\SD Card" : u"\\DiskOnChip", &available, &total, &free);
  // A volume whose free space cannot be asked is taken to have room.
  return !known || free >= bytes;
}

class StorageChoice {
 public:
  StorageChoice(bool card, DWORD folder, DWORD* storageInOut)
      : card_(card), folder_(folder), inOut_(storageInOut) {}

  bool card() const { return card_; }

  // Settles where the message goes; false when it is refused for lack of
  // space. oldest is the folder's oldest message on the first storage asked.
  bool Settle(DWORD oldest, DWORD size, bool checkLimit) {
    oldest_ = oldest;
    if (checkLimit) CheckLimit();
    while (!HasRoomFor(card_, size)) {
      if (limitReached_) {
        Report(STORAGE_NO_SPACE);
        return false;
      }
      limitReached_ = true;
      TryOtherStorage();
    }
    return true;
  }

 private:
  void CheckLimit() {
    DWORD count = 0;
    oldest_ = MMSMsgStore_GetLastRecord(card_, folder_, &count);
    if (!IsFull(count)) return;
    limitReached_ = true;
    const bool automatic = inOut_ != nullptr && *inOut_ == static_cast<DWORD>(STORAGE_AUTO);
    if (automatic && folder_ != MMS_FOLDER_REPORT &&
        (card_ || (msgstore::GetPlatform().xGetSDCardState() & 2) == 0)) {
      TryOtherStorage();
      return;
    }
    msgstore::Evict(kStoreOps, card_, folder_, oldest_);
  }

  // Moves to the other storage when its folder has room; when both are full
  // the message goes to the card, which loses its oldest.
  void TryOtherStorage() {
    const bool other = !card_;
    DWORD otherCount = 0;
    const DWORD otherOldest = MMSMsgStore_GetLastRecord(other, folder_, &otherCount);
    if (!IsFull(otherCount)) {
      card_ = other;
      Report(other ? 1 : 0);
      return;
    }
    DWORD victim = oldest_;
    if (!card_) {
      card_ = true;
      Report(1);
      victim = otherOldest;
    }
    msgstore::Evict(kStoreOps, true, folder_, victim);
  }

  void Report(DWORD value) {
    if (inOut_ != nullptr) *inOut_ = value;
  }

  bool card_;
  DWORD folder_;
  DWORD* inOut_;
  DWORD oldest_ = 0;
  bool limitReached_ = false;
};

}  // namespace

DWORD MMSMsgStore_GetLastRecord(bool storage, DWORD folder, DWORD* count) {
  if (storage) return msgstore::OldestByScan(kStoreOps, folder, count, true);
  CMsgList list;
  MMSMsgStore_GetQuickMsgList(list, folder);
  return msgstore::OldestOfIndexList(list, count);
}

DWORD MMSMsgStore_WriteMessage(bool storage, tagMSGPROPS* props, tagMMSMSGPROPS* mms,
                               DWORD existingId, DWORD* storageInOut) {
  if (props == nullptr) return 0;
  StorageChoice choice(storage, props->dwFolder, storageInOut);
  // Rewrites and messages without a folder are not counted.
  const bool checkLimit = existingId == 0 && props->dwFolder != MMS_FOLDER_NONE;
  if (!choice.Settle(existingId, props->cbData, checkLimit)) return 0;
  WCHAR path[MAX_PATH] = {};
  if (!msgstore::ChooseName(kStoreOps, choice.card(), props, existingId, path) ||
      !MMSMsgStore_WriteToFile(path, props, mms)) {
    return 0;
  }
  msgstore::IndexWritten(kStoreOps, choice.card(), existingId, *props);
  return props->dwOid;
}

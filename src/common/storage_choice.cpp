// The storage choice of the MMS and e-mail write paths.
#include "common/storage_choice.h"

#include "msgstore/platform.h"

namespace msgstore {
namespace {

bool HasRoomFor(bool card, DWORD bytes) {
  uint64_t available = 0, total = 0, free = 0;
  const BOOL known = GetPlatform().GetDiskFreeSpaceExW(card ? u"\\SD Card" : u"\\DiskOnChip",
                                                       &available, &total, &free);
  // A volume whose free space cannot be asked is taken to have room.
  return !known || free >= bytes;
}

}  // namespace

bool StorageChoice::Settle(const WriteRequest& request) {
  request_ = request;
  oldest_ = request.rewriteVictim;
  if (request.checkLimit && !CheckLimit()) return false;
  while (!HasRoomFor(card_, request.size)) {
    if (limitReached_) {
      Report(STORAGE_NO_SPACE);
      ThisThreadWriteNote().refusal = WriteNote::kNoSpace;
      return false;
    }
    limitReached_ = true;
    if (!TryOtherStorage(WriteNote::kNoSpace)) return false;
  }
  return true;
}

bool StorageChoice::IsFull(DWORD count) const { return count >= policy_.store->folderLimit; }

// Whether the message's folder may send it to the other storage when full;
// a number that names no folder may.
bool StorageChoice::Switches() const {
  const FolderDescription* folder = policy_.store->Folder(msg_.dwFolder);
  return folder == nullptr || folder->switches;
}

bool StorageChoice::CheckLimit() {
  const ReadWatch watch;
  DWORD count = 0;
  oldest_ = policy_.lastRecord(card_, request_.countFolder, &count);
  if (watch.Missed()) return false;  // the folder could not be counted
  if (!IsFull(count)) return true;
  limitReached_ = true;
  const bool automatic = inOut_ != nullptr && *inOut_ == STORAGE_AUTO;
  if (automatic && Switches()) {
    // A full phone folder sends the message to the card unless the card
    // cannot take it now.
    if (card_ || (GetPlatform().xGetSDCardState() & policy_.store->cardUnusable) == 0)
      return TryOtherStorage(WriteNote::kFolderFull);
  } else if (request_.refuseWhenFull) {
    ThisThreadWriteNote().refusal = WriteNote::kFolderFull;
    return false;
  }
  if (policy_.evict(card_, msg_, store_, oldest_)) return true;
  ThisThreadWriteNote().evictionFailed = true;
  return false;
}

// Moves to the other storage when its folder has room; when both are full the
// message goes to the card, which loses its oldest (no index, no notice).
bool StorageChoice::TryOtherStorage(WriteNote::Refusal why) {
  const bool other = !card_;
  const ReadWatch watch;
  DWORD otherCount = 0;
  const DWORD otherOldest = policy_.lastRecord(other, request_.countFolder, &otherCount);
  if (watch.Missed()) return false;
  if (!IsFull(otherCount)) {
    card_ = other;
    Report(other ? 1 : 0);
    ThisThreadWriteNote().switchedFor = why;
    return true;
  }
  if (request_.refuseWhenBothFull) {
    Report(STORAGE_BOTH_FULL);
    ThisThreadWriteNote().refusal = WriteNote::kBothFull;
    return false;
  }
  DWORD victim = oldest_;
  if (!card_) {
    card_ = true;
    Report(1);
    ThisThreadWriteNote().switchedFor = why;
    victim = otherOldest;
  }
  // A rewrite's own card file, its victim when both storages are full, is
  // not deleted first: the write replaces it whole, and one that fails then
  // leaves it as it was.
  return victim == 0 || victim == request_.rewriteVictim ||
         Evict(*policy_.ops, true, msg_.dwFolder, victim);
}

}  // namespace msgstore

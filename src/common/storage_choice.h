// Where a new message goes when its folder is full or its volume short of
// space, for the stores that check both (MMS and e-mail): the folder limit
// first (evict the oldest, or with STORAGE_AUTO try the other storage), then
// the free space of the chosen volume against the content's size. At most one
// storage switch or eviction is made per write, remembered by a limit flag;
// a second shortage refuses the message with STORAGE_NO_SPACE.
#ifndef MSGSTORE_COMMON_STORAGE_CHOICE_H_
#define MSGSTORE_COMMON_STORAGE_CHOICE_H_

#include "common/store_ops.h"
#include "msgstore/stores.h"
#include "msgstore/types.h"

namespace msgstore {

// What differs between the stores.
struct StoragePolicy {
  const StoreOps* ops;
  // The oldest message of a folder and how many it holds.
  DWORD (*lastRecord)(bool card, DWORD folder, DWORD* count);
  // Evicts oldest from a full folder of the storage asked for (its file, its
  // index record, and any notice the store sends). False when its file stays:
  // the folder has no room then, and the write is refused.
  bool (*evict)(bool card, const tagMSGPROPS& msg, const void* store, DWORD oldest);
  // The folder limit, which folders may send a message to the other
  // storage, and the card state bits that keep a message of a full phone
  // folder in phone memory.
  const StoreDescription* store;
};

struct WriteRequest {
  DWORD countFolder;        // the folder that is counted and evicted from
  DWORD size;               // content bytes, checked against the free space
  bool checkLimit;          // false for rewrites: only the free space counts
  DWORD rewriteVictim;      // a rewrite's identifier: its card file is kept from eviction; 0: none
  bool refuseWhenFull;      // a full folder without STORAGE_AUTO refuses the message
  bool refuseWhenBothFull;  // both storages full refuses it with STORAGE_BOTH_FULL
};

class StorageChoice {
 public:
  // storageInOut: STORAGE_AUTO lets the store use the other storage; it
  // receives 0 or 1 when the message moves, STORAGE_NO_SPACE or
  // STORAGE_BOTH_FULL when it is refused, and is left alone otherwise.
  StorageChoice(const StoragePolicy& policy, bool card, const tagMSGPROPS& msg, const void* store,
                int32_t* storageInOut)
      : policy_(policy), msg_(msg), store_(store), inOut_(storageInOut), card_(card) {}

  // False when the message is refused.
  bool Settle(const WriteRequest& request);
  bool card() const { return card_; }

 private:
  bool IsFull(DWORD count) const;
  bool Switches() const;
  bool CheckLimit();
  bool TryOtherStorage(WriteNote::Refusal why);
  void Report(int32_t value) {
    if (inOut_ != nullptr) *inOut_ = value;
  }

  const StoragePolicy& policy_;
  const tagMSGPROPS& msg_;
  const void* store_;
  int32_t* inOut_;
  bool card_;
  WriteRequest request_{};
  DWORD oldest_ = 0;
  bool limitReached_ = false;
};

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_STORAGE_CHOICE_H_

// Writing MMS messages: the folder limit, the free space of the volume, the
// choice of storage, identifier allocation and the phone index.
//
// The MMS store's own rules: with STORAGE_AUTO a full phone folder goes to
// the card unless the card state has flag 2 (flag 4 is not looked at); a
// full folder is never refused, it evicts; messages without a folder (NONE)
// and rewrites are not counted; a rewrite that finds both storages full has
// its own card file for victim, which the write replaces.
#include "common/storage_choice.h"
#include "mms/mms_internal.h"
#include "msgstore/platform.h"

namespace {

using msgstore::mms::kStoreOps;

const msgstore::StoragePolicy kPolicy = {
    &kStoreOps, MMSMsgStore_GetLastRecord,
    [](bool card, const tagMSGPROPS& msg, const void*, DWORD oldest) {
      return msgstore::Evict(kStoreOps, card, msg.dwFolder, oldest);
    },
    &msgstore::mms::kStore};

}  // namespace

DWORD MMSMsgStore_GetLastRecord(bool storage, DWORD folder, DWORD* count) {
  if (storage) return msgstore::OldestByScan(kStoreOps, true, folder, count, true);
  CMsgList list;
  MMSMsgStore_GetQuickMsgList(list, folder);
  return msgstore::OldestOfIndexList(list, count);
}

DWORD MMSMsgStore_WriteMessage(bool storage, tagMSGPROPS* props, tagMMSMSGPROPS* mms,
                               DWORD existingId, DWORD* storageInOut) {
  if (props == nullptr) return 0;
  msgstore::StorageChoice choice(kPolicy, storage, *props, mms,
                                 reinterpret_cast<int32_t*>(storageInOut));
  msgstore::WriteRequest request = {};
  request.countFolder = props->dwFolder;
  request.size = props->cbData;
  request.checkLimit = existingId == 0 && props->dwFolder != MMS_FOLDER_NONE;
  request.rewriteVictim = existingId;
  if (!choice.Settle(request)) return 0;
  WCHAR path[MAX_PATH] = {};
  if (!msgstore::ChooseName(kStoreOps, choice.card(), props, existingId, path) ||
      !MMSMsgStore_WriteToFile(path, props, mms)) {
    return 0;
  }
  // A new message whose index record cannot be written is taken back.
  if (!msgstore::IndexWritten(kStoreOps, choice.card(), existingId, props->dwFolder, *props, path))
    return 0;
  return props->dwOid;
}

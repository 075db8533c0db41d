// Writing e-mail messages: the folder limit, the free space of the volume,
// the choice of storage, identifier allocation and the phone index.
//
// The e-mail store's own rules: folders are counted by their directory
// listing on both storages, the INBOX as the incoming-server account's
// files; a full INBOX refuses a new message unless the caller lets the store
// choose the storage, and refuses it with STORAGE_BOTH_FULL when both
// storages are full; with STORAGE_AUTO a card state with flag 2 or 4 keeps
// the message in phone memory; an eviction from the storage asked for tells
// the messaging application (NotifyMessageApp, event 3); an INBOX message is
// named and indexed by its account.
#include "common/msg_str.h"
#include "common/storage_choice.h"
#include "email/email_internal.h"
#include "msgstore/platform.h"

namespace {

using msgstore::email::kStoreOps;

bool IsInbox(const tagMSGPROPS& msg) { return msg.dwFolder == EMAIL_FOLDER_INBOX; }

DWORD AccountOf(const void* email) {
  return email != nullptr ? static_cast<const tagEMAILMSGPROPS*>(email)->dwAccountId : 0;
}

// An INBOX message is indexed under its account, any other under its folder.
DWORD IndexKey(const tagMSGPROPS& msg, DWORD account) {
  return IsInbox(msg) ? account : msg.dwFolder;
}

bool FilePath(bool card, const tagMSGPROPS& msg, DWORD account, DWORD oid, WCHAR* path) {
  return IsInbox(msg) ? EmailMsgStore_GetFilePathInbox(card, oid, account, path) != 0
                      : EmailMsgStore_GetFilePath(card, oid, msg.dwFolder, path) != 0;
}

// False, with nothing told, when the oldest file stays.
bool EvictAndNotify(bool card, const tagMSGPROPS& msg, const void* email, DWORD oldest) {
  const DWORD account = AccountOf(email);
  WCHAR path[MAX_PATH] = {};
  if (FilePath(card, msg, account, oldest, path) &&
      !msgstore::EvictFile(kStoreOps, card, path, oldest, IndexKey(msg, account), msg.dwFolder,
                           IsInbox(msg) ? account : 0))
    return false;
  msgstore::NotifyMessageApp(msg.dwFolder, oldest, card ? 1 : 0, msgstore::kEvictionEvent);
  return true;
}

const msgstore::StoragePolicy kPolicy = {&kStoreOps, EmailMsgStore_GetLastRecord, EvictAndNotify,
                                         &msgstore::email::kStore};

}  // namespace

DWORD EmailMsgStore_GetLastRecord(bool storage, DWORD folder, DWORD* count) {
  return msgstore::OldestByScan(kStoreOps, storage, folder, count, true);
}

DWORD EmailMsgStore_WriteMessage(bool storage, tagMSGPROPS* msg, tagEMAILMSGPROPS* email,
                                 DWORD existingId, int* storageInOut) {
  if (msg == nullptr) return 0;
  const DWORD account = AccountOf(email);
  const bool inboxLike = IsInbox(*msg) || msgstore::email::IsAccountFolder(msg->dwFolder);
  msgstore::StorageChoice choice(kPolicy, storage, *msg, email, storageInOut);
  msgstore::WriteRequest request = {};
  request.countFolder = inboxLike ? EMAIL_FOLDER_INBOX : msg->dwFolder;
  request.size = msg->cbData;
  request.checkLimit = existingId == 0;
  request.refuseWhenFull = IsInbox(*msg);
  request.refuseWhenBothFull = inboxLike;
  if (!choice.Settle(request)) return 0;
  const bool card = choice.card();
  WCHAR path[MAX_PATH] = {};
  const bool named = msgstore::ChooseName(
      msgstore::email::GetNextEmailMsgId,
      [&](DWORD oid, WCHAR* out) { return FilePath(card, *msg, account, oid, out); }, card, msg,
      existingId, path);
  if (!named || !EmailMsgStore_WriteToFile(path, msg, email)) return 0;
  // A new message whose index record cannot be written is taken back.
  if (!msgstore::IndexWritten(kStoreOps, card, existingId, IndexKey(*msg, account), *msg, path))
    return 0;
  return msg->dwOid;
}

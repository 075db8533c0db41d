// The unread count of both MMS inboxes, which settles the automatic download
// folder and the inbox messages left in a transient status on the way.
//
// Each folder is counted once before it is walked; moves and deletions
// shorten it meanwhile, so later positions run past the end and read the
// last file again. A message is counted before its status is looked at.
#include "mms/mms_internal.h"

namespace {

constexpr WORD kStatusPending = 104;  // left over from a download
constexpr WORD kStatusSettled = 101;

using msgstore::mms::Message;

// Reads the message at a position of a folder, without body.
bool ReadAt(bool storage, DWORD folder, DWORD position, Message& m) {
  return MMSMsgStore_ReadFolderMessage(storage, folder, static_cast<int>(position), 0, false,
                                       m.msg(), m.store()) != 0;
}

// Messages downloaded automatically move to the INBOX of the storage named
// (AUTODOWNLOAD itself is always in phone memory) with status 101; those
// without content are deleted.
void SettleDownloads(bool storage) {
  const DWORD count = MMSMsgStore_GetFolderMessageCount(storage, MMS_FOLDER_AUTODOWNLOAD);
  for (DWORD position = 0; position < count; ++position) {
    Message message;
    if (!ReadAt(storage, MMS_FOLDER_AUTODOWNLOAD, position, message)) continue;
    DWORD id = message->dwOid;
    if (message->pszText1 == nullptr) {
      MMSMsgStore_DeleteMessage(false, MMS_FOLDER_AUTODOWNLOAD, id);
    } else if (MMSMsgStore_SetFolder(storage, MMS_FOLDER_AUTODOWNLOAD, &id, MMS_FOLDER_INBOX,
                                     nullptr)) {
      MMSMsgStore_SetStatus(storage, MMS_FOLDER_INBOX, id, kStatusSettled);
    }
  }
}

// Counts the unread messages of an INBOX and settles those in status 104:
// 101 with content, deleted without.
DWORD CountInbox(bool storage) {
  DWORD unread = 0;
  const DWORD count = MMSMsgStore_GetFolderMessageCount(storage, MMS_FOLDER_INBOX);
  for (DWORD position = 0; position < count; ++position) {
    Message message;
    if (!ReadAt(storage, MMS_FOLDER_INBOX, position, message)) continue;
    if (message->bRead == 0) ++unread;
    if (message->wStatus != kStatusPending) continue;
    if (message->pszText1 != nullptr)
      MMSMsgStore_SetStatus(storage, MMS_FOLDER_INBOX, message->dwOid, kStatusSettled);
    else
      MMSMsgStore_DeleteMessage(storage, MMS_FOLDER_INBOX, message->dwOid);
  }
  return unread;
}

}  // namespace

DWORD GetMMSInboxUnreadMsgsCount() {
  MMSMsgStore_CreateDir(false);
  SettleDownloads(false);
  DWORD unread = CountInbox(false);
  MMSMsgStore_CreateDir(true);
  SettleDownloads(true);
  unread += CountInbox(true);
  return unread;
}

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

// The message at a position of a folder, read without body; released on the
// way out.
class Positioned {
 public:
  Positioned(bool storage, DWORD folder, DWORD position) : props_{}, mms_{} {
    ok_ = MMSMsgStore_ReadFolderMessage(storage, folder, static_cast<int>(position), 0, false,
                                        &props_, &mms_) != 0;
  }
  ~Positioned() { MMSMsgStore_FreeMsgProps(&props_, &mms_); }
  Positioned(const Positioned&) = delete;
  Positioned& operator=(const Positioned&) = delete;

  bool ok() const { return ok_; }
  const tagMSGPROPS* operator->() const { return &props_; }

 private:
  tagMSGPROPS props_;
  tagMMSMSGPROPS mms_;
  bool ok_;
};

// Messages downloaded automatically move to the INBOX of the storage named
// (AUTODOWNLOAD itself is always in phone memory) with status 101; those
// without content are deleted.
void SettleDownloads(bool storage) {
  const DWORD count = MMSMsgStore_GetFolderMessageCount(storage, MMS_FOLDER_AUTODOWNLOAD);
  for (DWORD position = 0; position < count; ++position) {
    Positioned message(storage, MMS_FOLDER_AUTODOWNLOAD, position);
    if (!message.ok()) continue;
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
    Positioned message(storage, MMS_FOLDER_INBOX, position);
    if (!message.ok()) continue;
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

// Changing EMS messages: field setters, moves between folders, deletion and
// emptying, with the platform's SMS counters kept in step.
#include "common/named_lock.h"
#include "common/scoped.h"
#include "ems/ems_internal.h"
#include "msgstore/platform.h"

namespace {

using msgstore::GetPlatform;

// A message read whole for a change. One member may be lent a caller's
// string for the write; the record's own pointer is put back before the
// record is released, so the caller's string is never freed here.
class EditedRecord {
 public:
  EditedRecord() = default;
  // Runs before props_ releases the record.
  ~EditedRecord() {
    if (lent_ != nullptr) *lent_ = own_;
  }
  EditedRecord(const EditedRecord&) = delete;
  EditedRecord& operator=(const EditedRecord&) = delete;

  // Identifier 0 reads the last file of the folder's enumeration.
  bool Read(bool card, DWORD folder, DWORD oid) {
    return EMSMsgStore_ReadFolderMessage(card, folder, -1, oid, true, props_.get()) != 0;
  }
  void Lend(WCHAR* tagMSGPROPS::*member, WCHAR* text) {
    lent_ = &(props_.get()->*member);
    own_ = *lent_;
    *lent_ = text;
  }
  tagMSGPROPS* get() { return props_.get(); }
  tagMSGPROPS* operator->() { return props_.get(); }

 private:
  msgstore::ScopedMsgProps props_;
  WCHAR** lent_ = nullptr;
  WCHAR* own_ = nullptr;
};

// Reads the message, lets change alter the record and writes it back under
// the same identifier. The write's result (the identifier) or 0.
template <class Change>
int RewriteMessage(bool card, DWORD folder, DWORD oid, Change change) {
  EditedRecord record;
  if (!record.Read(card, folder, oid)) return 0;
  change(record);
  return static_cast<int>(EMSMsgStore_WriteMessage(card, record.get(), oid, nullptr));
}

int SetText(bool card, DWORD folder, DWORD oid, WCHAR* tagMSGPROPS::*member, WCHAR* text) {
  return RewriteMessage(card, folder, oid,
                        [&](EditedRecord& record) { record.Lend(member, text); });
}

// Received and read counters of the INBOX of one storage.
void CountInbox(bool card, int change, bool read) {
  msgstore::Platform& platform = GetPlatform();
  if (card) {
    platform.xSetEms_SDRecvMsgCount(change);
    if (read) platform.xSetEms_SDReadMsgCount(change);
  } else {
    platform.xSetEmsRecvMsgCount(change);
    if (read) platform.xSetEmsReadMsgCount(change);
  }
}

int MoveMessage(bool card, DWORD folder, DWORD oid, DWORD newFolder, int* choice, DWORD* pNewOid) {
  EditedRecord record;
  if (!record.Read(card, folder, oid)) return 0;
  record->dwFolder = newFolder;
  record->dwOid = 0;
  const bool target = msgstore::ems::IsSimFolder(newFolder) ? false : card;
  const DWORD newOid = EMSMsgStore_WriteMessage(target, record.get(), 0, choice);
  if (pNewOid != nullptr) *pNewOid = newOid;
  if (newOid == 0) return 0;
  const bool read = record->bRead != 0;
  const bool entered = newFolder == EMS_FOLDER_INBOX && folder != EMS_FOLDER_SIM_INBOX;
  if (entered) CountInbox(card, 1, read);
  // The source goes (its index record first) only now that its copy stands
  // complete; when it stays, the copy is taken back and its count with it.
  using msgstore::ems::kStoreOps;
  WCHAR path[MAX_PATH] = {};
  if (!EMSMsgStore_GetFilePath(card, oid, folder, path) ||
      msgstore::RemoveMessageFile(kStoreOps, card, path, oid, folder) !=
          msgstore::Removal::kDeleted) {
    const bool copyCard = *choice == STORAGE_AUTO ? target : *choice == 1;
    if (msgstore::RemoveMessage(kStoreOps, copyCard, newFolder, newOid) !=
        msgstore::Removal::kFailed) {
      if (pNewOid != nullptr) *pNewOid = 0;
      if (entered) CountInbox(card, -1, read);
    }
    return 0;
  }
  if (folder == EMS_FOLDER_INBOX && newFolder != EMS_FOLDER_SIM_INBOX) CountInbox(card, -1, read);
  return 1;
}

// A SIM copy leaving the phone lowers the SIM card's own count, never below 0.
// The count is read and set under the counters' mutex, so that concurrent
// deletions all count.
void LowerSimCount(DWORD folder) {
  if (folder != EMS_FOLDER_SIM_SENT && folder != EMS_FOLDER_SIM_UNSENT) return;
  msgstore::NamedLock held(msgstore::ems::kStore.countersMutex, false);
  msgstore::Platform& platform = GetPlatform();
  if (folder == EMS_FOLDER_SIM_SENT) {
    const DWORD count = platform.xGetSentSmsCountInSim();
    if (count != 0) platform.xSetSentSmsCountInSim(count - 1);
  } else if (folder == EMS_FOLDER_SIM_UNSENT) {
    const DWORD count = platform.xGetUnsentSmsCountInSim();
    if (count != 0) platform.xSetUnsentSmsCountInSim(count - 1);
  }
}

}  // namespace

int EMSMsgStore_SetStatus(bool bMemoryCard, DWORD folder, DWORD oid, WORD status) {
  return RewriteMessage(bMemoryCard, folder, oid,
                        [&](EditedRecord& record) { record->wStatus = status; });
}

int EMSMsgStore_SetRead(bool bMemoryCard, DWORD folder, DWORD oid, int read) {
  return RewriteMessage(bMemoryCard, folder, oid, [&](EditedRecord& record) {
    // Counted on every call, whatever the old value was.
    if (folder == EMS_FOLDER_INBOX) {
      if (bMemoryCard) {
        GetPlatform().xSetEms_SDReadMsgCount(1);
      } else {
        GetPlatform().xSetEmsReadMsgCount(1);
      }
    }
    record->bRead = read;
  });
}

int EMSMsgStore_SetTime(bool bMemoryCard, DWORD folder, DWORD oid, FILETIME time) {
  return RewriteMessage(bMemoryCard, folder, oid,
                        [&](EditedRecord& record) { record->ftTime = time; });
}

int EMSMsgStore_SetSubject(bool bMemoryCard, DWORD folder, DWORD oid, WCHAR* text) {
  return SetText(bMemoryCard, folder, oid, &tagMSGPROPS::pszSubject, text);
}

int EMSMsgStore_SetTo(bool bMemoryCard, DWORD folder, DWORD oid, WCHAR* text) {
  return SetText(bMemoryCard, folder, oid, &tagMSGPROPS::pszTo, text);
}

int EMSMsgStore_SetMsgID(bool bMemoryCard, DWORD folder, DWORD oid, WCHAR* text) {
  return SetText(bMemoryCard, folder, oid, &tagMSGPROPS::pszMsgID, text);
}

int EMSMsgStore_SetFolder(bool bMemoryCard, DWORD folder, DWORD oid, DWORD newFolder, int* pStorage,
                          DWORD* pNewOid) {
  int choice = STORAGE_AUTO;
  const int result = MoveMessage(bMemoryCard, folder, oid, newFolder, &choice, pNewOid);
  if (pStorage != nullptr && choice != STORAGE_AUTO) *pStorage = choice;
  return result;
}

int EMSMsgStore_DeleteMessage(bool bMemoryCard, DWORD folder, DWORD oid) {
  LowerSimCount(folder);
  const msgstore::Removal removal =
      msgstore::RemoveMessage(msgstore::ems::kStoreOps, bMemoryCard, folder, oid);
  if (removal != msgstore::Removal::kDeleted) return removal == msgstore::Removal::kWasGone ? 1 : 0;
  if (folder == EMS_FOLDER_INBOX || folder == EMS_FOLDER_SIM_INBOX) {
    CountInbox(bMemoryCard, -1, false);  // read counters stay
  }
  return 1;
}

int EMSMsgStore_EmptyFolder(bool bMemoryCard, DWORD folder) {
  WCHAR dir[MAX_PATH] = {};
  if (!EMSMsgStore_GetFolderPath(bMemoryCard, folder, dir)) return 0;
  // The index stays behind; its records now name missing files. The shell
  // learns of an emptied EMS INBOX with lParam 0.
  const bool emptied = msgstore::EmptyDir(dir, msgstore::ems::kStore.messagePattern,
                                          folder == EMS_FOLDER_INBOX, msgstore::kEmsNoticeMark);
  return emptied ? 1 : 0;
}

// Changing e-mail messages: field setters, moves (to another folder, from an
// account's INBOX to SPAM and back), deletion and emptying. Each operation
// that takes a folder has an Inbox twin that takes an account instead,
// because INBOX files are named by account. A change reads the whole message,
// alters the record and writes it again through the write path; a move
// writes a new message (new identifier, STORAGE_AUTO) and then deletes the
// source from the storage asked for. SPAM keeps a message's account, so a
// restore needs none. A change that fails leaves the message as it was: a
// move deletes its source only after the copy is written, and takes the copy
// back when the source will not go; an emptying reports the files that would
// not go.
#include "common/dir_scan.h"
#include "common/msg_str.h"
#include "email/email_internal.h"
#include "msgstore/platform.h"

namespace {

using msgstore::email::Message;

// Where a message is: a folder 2 to 6, or an account's INBOX.
struct Place {
  DWORD folder;
  DWORD account;  // for an account's INBOX
  bool isInbox;

  static Place Folder(DWORD folder) { return {folder, 0, false}; }
  static Place Inbox(DWORD account) { return {EMAIL_FOLDER_INBOX, account, true}; }
  bool inbox() const { return isInbox; }
  DWORD indexKey() const { return isInbox ? account : folder; }

  bool Read(bool storage, DWORD messageId, Message& m) const {
    return (inbox() ? EmailMsgStore_ReadFolderMessageInbox(storage, account, -1, messageId, true,
                                                           m.msg(), m.store())
                    : EmailMsgStore_ReadFolderMessage(storage, folder, -1, messageId, true, m.msg(),
                                                      m.store())) != 0;
  }
  bool FilePath(bool storage, DWORD messageId, WCHAR* path) const {
    return (inbox() ? EmailMsgStore_GetFilePathInbox(storage, messageId, account, path)
                    : EmailMsgStore_GetFilePath(storage, messageId, folder, path)) != 0;
  }
};

// Reads the message, lets change alter it and writes it back under the same
// identifier. The identifier, or 0.
template <class Change>
int Rewrite(bool storage, const Place& place, DWORD messageId, Change change) {
  Message m;
  if (!place.Read(storage, messageId, m)) return 0;
  change(m);
  return static_cast<int>(
      EmailMsgStore_WriteMessage(storage, m.msg(), m.store(), messageId, nullptr));
}

int Move(bool storage, const Place& from, DWORD messageId, DWORD toFolder) {
  Message m;
  if (!from.Read(storage, messageId, m)) return 0;
  m->dwFolder = toFolder;
  m->dwOid = 0;
  int choice = STORAGE_AUTO;
  // The source is touched only once its copy stands complete.
  if (EmailMsgStore_WriteMessage(storage, m.msg(), m.store(), 0, &choice) == 0) return 0;
  using msgstore::email::kStoreOps;
  WCHAR path[MAX_PATH] = {};
  if (from.FilePath(storage, messageId, path) &&
      msgstore::RemoveMessageFile(kStoreOps, storage, path, messageId, from.indexKey()) ==
          msgstore::Removal::kDeleted)
    return 1;
  // The source stays (with its index record): the copy is taken back.
  const Place to = toFolder == EMAIL_FOLDER_INBOX ? Place::Inbox(m.store()->dwAccountId)
                                                  : Place::Folder(toFolder);
  const bool copyCard = choice == STORAGE_AUTO ? storage : choice != 0;
  if (to.FilePath(copyCard, m->dwOid, path))
    msgstore::RemoveMessageFile(kStoreOps, copyCard, path, m->dwOid, to.indexKey());
  return 0;
}

int Delete(bool storage, const Place& place, DWORD messageId) {
  WCHAR path[MAX_PATH] = {};
  if (!place.FilePath(storage, messageId, path)) return 0;
  const msgstore::Removal removal = msgstore::RemoveMessageFile(msgstore::email::kStoreOps, storage,
                                                                path, messageId, place.indexKey());
  return removal == msgstore::Removal::kDeleted || removal == msgstore::Removal::kWasGone ? 1 : 0;
}

}  // namespace

int EmailMsgStore_SetStatus(bool storage, DWORD folder, DWORD messageId, WORD status) {
  return Rewrite(storage, Place::Folder(folder), messageId,
                 [&](Message& m) { m->wStatus = status; });
}

int EmailMsgStore_SetStatusInbox(bool storage, DWORD accountId, DWORD messageId, WORD status) {
  return Rewrite(storage, Place::Inbox(accountId), messageId,
                 [&](Message& m) { m->wStatus = status; });
}

int EmailMsgStore_SetReadStatus(bool storage, DWORD folder, DWORD messageId, int read) {
  return Rewrite(storage, Place::Folder(folder), messageId, [&](Message& m) { m->bRead = read; });
}

int EmailMsgStore_SetReadStatusInbox(bool storage, DWORD accountId, DWORD messageId, int read) {
  return Rewrite(storage, Place::Inbox(accountId), messageId, [&](Message& m) { m->bRead = read; });
}

int EmailMsgStore_SetReadReportStatus(bool storage, DWORD folder, DWORD messageId, int status) {
  return Rewrite(storage, Place::Folder(folder), messageId,
                 [&](Message& m) { m.store()->dwReadReportStatus = status; });
}

int EmailMsgStore_SetReadReportStatusInbox(bool storage, DWORD accountId, DWORD messageId,
                                           int status) {
  return Rewrite(storage, Place::Inbox(accountId), messageId,
                 [&](Message& m) { m.store()->dwReadReportStatus = status; });
}

int EmailMsgStore_SetFolder(bool storage, DWORD folder, DWORD messageId, DWORD newFolder) {
  return Move(storage, Place::Folder(folder), messageId, newFolder);
}

int EmailMsgStore_MoveInboxToSpam(bool storage, DWORD accountId, DWORD messageId) {
  return Move(storage, Place::Inbox(accountId), messageId, EMAIL_FOLDER_SPAM);
}

int EmailMsgStore_RestoreMessageToInbox(bool storage, DWORD messageId) {
  return Move(storage, Place::Folder(EMAIL_FOLDER_SPAM), messageId, EMAIL_FOLDER_INBOX);
}

int EmailMsgStore_DeleteMessage(bool storage, DWORD folder, DWORD messageId) {
  return Delete(storage, Place::Folder(folder), messageId);
}

int EmailMsgStore_DeleteMessageInbox(bool storage, DWORD accountId, DWORD messageId) {
  return Delete(storage, Place::Inbox(accountId), messageId);
}

int EmailMsgStore_EmptyFolder(bool storage, DWORD folder) {
  WCHAR dir[MAX_PATH] = {};
  if (!EmailMsgStore_GetFolderPath(storage, folder, dir)) return 0;
  // The index stays behind; no notice is sent.
  return msgstore::DeleteMatching(dir, msgstore::email::kStore.messagePattern) ? 1 : 0;
}

int EmailMsgStore_EmptyFolderInbox(bool storage, DWORD accountId) {
  return msgstore::DeleteMatching(msgstore::email::InboxDir(storage),
                                  msgstore::email::AccountPattern(accountId))
             ? 1
             : 0;
}

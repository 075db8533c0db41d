// Changing MMS messages: read flag, status and folder are changed by reading
// the whole message and writing it again through the write path; deletion
// and emptying remove files. The MMS store's own rules: identifier 0 reads
// the last file of the folder, which a change then stores as a new message;
// a move removes the old message from the storage asked for even when the
// copy went to the other one, and reports STORAGE_AUTO when it stayed; an
// emptied INBOX is told to the shell with lParam 1. A change that fails
// leaves the message as it was: a move deletes its source only after the
// copy is written, and takes the copy back when the source will not go; an
// emptying reports the files that would not go.
#include "common/msg_props.h"
#include "mms/mms_internal.h"
#include "msgstore/platform.h"

namespace {

using msgstore::mms::Message;

// The message read whole for a change.
bool ReadWhole(bool storage, DWORD folder, DWORD messageId, Message& m) {
  return MMSMsgStore_ReadFolderMessage(storage, folder, -1, messageId, true, m.msg(), m.store()) !=
         0;
}

// Reads the message, lets change alter it and writes it back under the same
// identifier. The identifier, or 0.
template <class Change>
DWORD Rewrite(bool storage, DWORD folder, DWORD messageId, Change change) {
  Message message;
  if (!ReadWhole(storage, folder, messageId, message)) return 0;
  change(message);
  return MMSMsgStore_WriteMessage(storage, message.msg(), message.store(), messageId, nullptr);
}

int Move(bool storage, DWORD fromFolder, DWORD* messageId, DWORD toFolder, DWORD* choice) {
  Message message;
  if (messageId == nullptr || !ReadWhole(storage, fromFolder, *messageId, message)) return 0;
  message->dwFolder = toFolder;
  message->dwOid = 0;
  // The source is touched only once its copy stands complete.
  if (MMSMsgStore_WriteMessage(storage, message.msg(), message.store(), 0, choice) == 0) return 0;
  using msgstore::mms::kStoreOps;
  WCHAR path[MAX_PATH] = {};
  if (!MMSMsgStore_GetFilePath(storage, *messageId, fromFolder, path) ||
      msgstore::RemoveMessageFile(kStoreOps, storage, path, *messageId, fromFolder) !=
          msgstore::Removal::kDeleted) {
    // The source stays (with its index record): the copy is taken back.
    const bool copyCard = *choice == static_cast<DWORD>(STORAGE_AUTO) ? storage : *choice != 0;
    msgstore::RemoveMessage(kStoreOps, copyCard, toFolder, message->dwOid);
    return 0;
  }
  *messageId = message->dwOid;
  return 1;
}

}  // namespace

int MMSMsgStore_SetFolder(bool storage, DWORD fromFolder, DWORD* messageId, DWORD toFolder,
                          DWORD* storageOut) {
  DWORD choice = static_cast<DWORD>(STORAGE_AUTO);
  const int result = Move(storage, fromFolder, messageId, toFolder, &choice);
  if (storageOut != nullptr) *storageOut = choice;
  return result;
}

DWORD MMSMsgStore_SetReadStatus(bool storage, DWORD folder, DWORD messageId, DWORD read) {
  return Rewrite(storage, folder, messageId,
                 [&](Message& m) { m->bRead = static_cast<BOOL>(read); });
}

DWORD MMSMsgStore_SetStatus(bool storage, DWORD folder, DWORD messageId, int status) {
  return Rewrite(storage, folder, messageId,
                 [&](Message& m) { m->wStatus = static_cast<WORD>(status); });
}

int MMSMsgStore_DeleteMessage(bool storage, DWORD folder, DWORD messageId) {
  const msgstore::Removal removal =
      msgstore::RemoveMessage(msgstore::mms::kStoreOps, storage, folder, messageId);
  return removal == msgstore::Removal::kDeleted || removal == msgstore::Removal::kWasGone ? 1 : 0;
}

int MMSMsgStore_EmptyFolder(bool storage, DWORD folder) {
  WCHAR dir[MAX_PATH] = {};
  if (!MMSMsgStore_GetFolderPath(storage, folder, dir)) return 0;
  // The index stays behind; its records now name missing files. An emptied
  // INBOX is told to the shell even when some of its files would not go.
  const bool emptied = msgstore::EmptyDir(dir, msgstore::mms::kStore.messagePattern,
                                          folder == MMS_FOLDER_INBOX, msgstore::kMmsNoticeMark);
  return emptied ? 1 : 0;
}

// E-mail folder index files: "EmailIni" in each phone folder directory, and
// "<account>_EmailIni" in the phone INBOX directory for each account's
// inbox. The records and their order are the shared index module's. Folder
// values 7 to 11 have no index (every operation returns before taking the
// mutex); the mutex is taken without yielding.
#include "email/email_internal.h"

void EmailMsgStore_AddMsgToIni(DWORD messageId, DWORD folder, FILETIME indexTime) {
  WCHAR path[MAX_PATH] = {};
  if (!msgstore::email::IndexPath(folder, path)) return;
  msgstore::IndexInsert(path, msgstore::email::kIndexLock, {folder, messageId, indexTime});
}

void EmailMsgStore_DeleteMsgFromIni(DWORD messageId, DWORD folder) {
  WCHAR path[MAX_PATH] = {};
  if (!msgstore::email::IndexPath(folder, path)) return;
  msgstore::IndexRemove(path, msgstore::email::kIndexLock, messageId, folder);
}

DWORD EmailMsgStore_GetQuickMsgList(CArray<tagOidArray, tagOidArray>& list, DWORD folder) {
  WCHAR path[MAX_PATH] = {};
  if (!msgstore::email::IndexPath(folder, path)) return 0;
  return msgstore::IndexQuickList(path, msgstore::email::kIndexLock, list);
}

// MMS folder index files ("MmsIni" in each phone folder directory). The
// records and their order are the shared index module's. The MMS store's own
// rules: a folder is indexed under its own number; AUTODOWNLOAD and NONE keep
// no index (adding and removing return before taking the mutex), and the
// mutex is taken without yielding.
#include "mms/mms_internal.h"

bool msgstore::mms::IndexFileOf(DWORD folder, WCHAR* path) {
  const FolderDescription* f = kStore.Folder(folder);
  return f != nullptr && f->indexed() && IndexPath(f->indexFolder, path);
}

using msgstore::mms::IndexFileOf;

void MMSMsgStore_AddMsgToIni(DWORD messageId, DWORD folder, FILETIME time) {
  WCHAR path[MAX_PATH];
  if (!IndexFileOf(folder, path)) return;
  msgstore::IndexInsert(path, msgstore::mms::kIndexLock, {folder, messageId, time});
}

void MMSMsgStore_DeleteMsgFromIni(DWORD messageId, DWORD folder) {
  WCHAR path[MAX_PATH];
  if (!IndexFileOf(folder, path)) return;
  msgstore::IndexRemove(path, msgstore::mms::kIndexLock, messageId, folder);
}

DWORD MMSMsgStore_GetQuickMsgList(CArray<tagOidArray, tagOidArray>& list, DWORD folder) {
  WCHAR path[MAX_PATH];
  if (!msgstore::mms::IndexPath(folder, path)) return 0;
  return msgstore::IndexQuickList(path, msgstore::mms::kIndexLock, list);
}

// EMS folder index files ("EmsIni" in each phone folder directory). The
// records and their order are the shared index module's; what is EMS's own
// is which file a folder's messages go to:
// - NONE (8) has no index: adding and removing touch nothing;
// - a SIM copy (7, 12, 13) is indexed with its ordinary counterpart (1, 3,
//   4) but keeps its own folder in the record, so only that folder finds it;
// - the quick list reads the folder's own index with no mapping, so asking
//   for a SIM folder finds nothing.
#include "common/index_file.h"
#include "common/named_lock.h"
#include "ems/ems_internal.h"

bool msgstore::ems::IndexFileOf(DWORD folder, WCHAR* path) {
  const FolderDescription* f = kStore.Folder(folder);
  return f != nullptr && f->indexed() && IndexPath(f->indexFolder, path);
}

namespace {

using msgstore::ems::IndexFileOf;

// Every index operation takes the index mutex, even when there turns out to
// be no index to touch.
void PassThroughLock() {
  msgstore::NamedLock held(msgstore::ems::kIndexLock.mutexName, msgstore::ems::kIndexLock.yield);
}

}  // namespace

void EMSMsgStore_AddMsgToIni(DWORD oid, DWORD folder, FILETIME ftIndexTime) {
  WCHAR path[MAX_PATH];
  if (!IndexFileOf(folder, path)) return PassThroughLock();
  msgstore::IndexInsert(path, msgstore::ems::kIndexLock, {folder, oid, ftIndexTime});
}

void EMSMsgStore_DeleteMsgFromIni(DWORD oid, DWORD folder) {
  WCHAR path[MAX_PATH];
  if (!IndexFileOf(folder, path)) return PassThroughLock();
  msgstore::IndexRemove(path, msgstore::ems::kIndexLock, oid, folder);
}

DWORD EMSMsgStore_GetQuickMsgList(CArray<tagOidArray, tagOidArray>& list, DWORD folder) {
  WCHAR path[MAX_PATH];
  if (!msgstore::ems::IndexPath(folder, path)) {
    PassThroughLock();
    return 0;
  }
  return msgstore::IndexQuickList(path, msgstore::ems::kIndexLock, list);
}

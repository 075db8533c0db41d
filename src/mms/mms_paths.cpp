// MMS folder tree and paths, as the store's description places its folders:
// the card selector acts on phone memory for the folders that have no card
// directory of their own, and NONE has file paths but no folder path.
#include "common/folder_tree.h"
#include "mms/mms_internal.h"

namespace {

constexpr msgstore::FolderTree kTree = {msgstore::mms::kStore};

}  // namespace

int MMSMsgStore_CreateDir(bool storage) {
  kTree.Create(storage);
  return 1;
}

int MMSMsgStore_GetFolderPath(bool storage, DWORD folder, WCHAR* path) {
  return msgstore::CopyFolderPath(kTree, storage, folder, path);
}

int MMSMsgStore_GetFilePath(bool storage, DWORD messageId, DWORD folder, WCHAR* path) {
  return msgstore::CopyFilePath(kTree, storage, messageId, folder, path);
}

namespace msgstore {
namespace mms {

bool IndexPath(DWORD folder, WCHAR* path) { return kTree.IndexPath(folder, path); }

DWORD GetNextMmsOid() { return NextId(kCounter); }

}  // namespace mms
}  // namespace msgstore

// EMS folder tree and paths, as the store's description places its folders.
#include "common/folder_tree.h"
#include "ems/ems_internal.h"

namespace {

constexpr msgstore::FolderTree kTree = {msgstore::ems::kStore};

}  // namespace

int EMSMsgStore_CreateDir(bool bMemoryCard) {
  kTree.Create(bMemoryCard);
  return 1;
}

int EMSMsgStore_GetFolderPath(bool bMemoryCard, DWORD folder, WCHAR* path) {
  return msgstore::CopyFolderPath(kTree, bMemoryCard, folder, path);
}

int EMSMsgStore_GetFilePath(bool bMemoryCard, DWORD oid, DWORD folder, WCHAR* path) {
  return msgstore::CopyFilePath(kTree, bMemoryCard, oid, folder, path);
}

namespace msgstore {
namespace ems {

bool IndexPath(DWORD folder, WCHAR* path) { return kTree.IndexPath(folder, path); }

}  // namespace ems
}  // namespace msgstore

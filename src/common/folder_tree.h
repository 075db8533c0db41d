// A store's directory tree: which folder lives on which storage, and the
// directory and file names that stand for it, as the store's description
// gives them; paths, the tree's creation and listings come from here.
#ifndef MSGSTORE_COMMON_FOLDER_TREE_H_
#define MSGSTORE_COMMON_FOLDER_TREE_H_

#include <string>

#include "msgstore/stores.h"

namespace msgstore {

struct FolderTree {
  const StoreDescription& store;

  // The folder's directory on the storage; "" when the storage refuses it.
  std::u16string FolderDir(bool card, DWORD folder) const;
  // The directory that holds the folder's message files; "" when refused.
  std::u16string FileDir(bool card, DWORD folder) const;
  // "%s\%d<extension>" in FileDir; "" when refused.
  std::u16string FilePath(bool card, DWORD oid, DWORD folder) const;
  // "%s\<index name>" in the phone folder directory: where the folder's
  // index file lies. False when the folder has no phone folder path.
  bool IndexPath(DWORD folder, WCHAR* out) const;
  // The volume, "\User", "\User\MESSAGING", the store root and then each
  // folder directory of the storage, each made where it is missing.
  void Create(bool card) const;
};

// The path operations of every store: 1 with the path copied into out (a
// MAX_PATH buffer), 0 with out untouched when the storage refuses the
// folder.
int CopyFolderPath(const FolderTree& tree, bool card, DWORD folder, WCHAR* out);
int CopyFilePath(const FolderTree& tree, bool card, DWORD oid, DWORD folder, WCHAR* out);

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_FOLDER_TREE_H_

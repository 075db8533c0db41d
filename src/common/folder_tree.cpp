// Store directory trees and the paths in them.
#include "common/folder_tree.h"

#include "common/msg_str.h"
#include "msgstore/platform.h"

namespace msgstore {
namespace {

void EnsureDir(const std::u16string& path) {
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    CreateDirectoryW(path.c_str(), nullptr);
}

}  // namespace

std::u16string FolderTree::FolderDir(bool card, DWORD folder) const {
  const FolderDescription* f = store.Folder(folder);
  if (f == nullptr || !f->hasFolderPath) return std::u16string();
  if (card && (f->card == OnCard::kNone || f->card == OnCard::kPhoneFile)) return std::u16string();
  const bool onCard = card && f->card == OnCard::kOwn;
  return JoinPath(onCard ? store.cardRoot : store.phoneRoot, f->dir);
}

std::u16string FolderTree::FileDir(bool card, DWORD folder) const {
  const FolderDescription* f = store.Folder(folder);
  if (f == nullptr || (card && f->card == OnCard::kNone)) return std::u16string();
  const bool onCard = card && f->card == OnCard::kOwn;
  return JoinPath(onCard ? store.cardRoot : store.phoneRoot, f->dir);
}

std::u16string FolderTree::FilePath(bool card, DWORD oid, DWORD folder) const {
  std::u16string dir = FileDir(card, folder);
  if (dir.empty()) return dir;
  return JoinPath(dir, DecimalU16(oid) + store.extension);
}

bool FolderTree::IndexPath(DWORD folder, WCHAR* out) const {
  std::u16string dir = FolderDir(false, folder);
  if (dir.empty() || out == nullptr) return false;
  CopyPath(out, JoinPath(dir, store.indexName));
  return true;
}

void FolderTree::Create(bool card) const {
  const std::u16string volume = card ? u"\\SD Card" : u"\\DiskOnChip";
  const std::u16string root = card ? store.cardRoot : store.phoneRoot;
  EnsureDir(volume + u"\\User");
  EnsureDir(volume + u"\\User\\MESSAGING");
  EnsureDir(root);
  for (const FolderDescription& f : store) {
    if (card && !f.onCard()) continue;
    EnsureDir(JoinPath(root, f.dir));
  }
}

int CopyFolderPath(const FolderTree& tree, bool card, DWORD folder, WCHAR* out) {
  std::u16string dir = tree.FolderDir(card, folder);
  if (dir.empty() || out == nullptr) return 0;
  CopyPath(out, dir);
  return 1;
}

int CopyFilePath(const FolderTree& tree, bool card, DWORD oid, DWORD folder, WCHAR* out) {
  std::u16string path = tree.FilePath(card, oid, folder);
  if (path.empty() || out == nullptr) return 0;
  CopyPath(out, path);
  return 1;
}

}  // namespace msgstore

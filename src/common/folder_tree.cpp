// Store directory trees and the paths in them.
#include "common/folder_tree.h"

#include <cstring>

#include "common/msg_str.h"
#include "msgstore/platform.h"

namespace msgstore {
namespace {

// Hands the pieces of "%s\%d<extension>" in FileDir to put, in order; false
// (and nothing put) when the folder is refused.
template <class Put>
bool PutFilePath(const FolderTree& tree, bool card, DWORD oid, DWORD folder, Put put) {
  const FolderDescription* f = tree.store.Folder(folder);
  if (f == nullptr || (card && f->card == OnCard::kNone)) return false;
  static const WCHAR kSeparator = u'\\';
  const WCHAR* root = card && f->card == OnCard::kOwn ? tree.store.cardRoot : tree.store.phoneRoot;
  put(root, WStrLen(root));
  put(&kSeparator, 1);
  put(f->dir, WStrLen(f->dir));
  put(&kSeparator, 1);
  const std::u16string name = DecimalU16(oid);
  put(name.data(), name.size());
  put(tree.store.extension, WStrLen(tree.store.extension));
  return true;
}

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
  std::u16string path;
  PutFilePath(*this, card, oid, folder,
              [&](const WCHAR* text, size_t length) { path.append(text, length); });
  return path;
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
  if (out == nullptr) return 0;
  // Made straight into out, as CopyPath leaves a path: zero-filled and cut
  // at MAX_PATH - 1 code units. A refused folder leaves out as it was.
  size_t at = 0;
  bool cleared = false;
  return PutFilePath(tree, card, oid, folder,
                     [&](const WCHAR* text, size_t length) {
                       if (!cleared) std::memset(out, 0, MAX_PATH * sizeof(WCHAR));
                       cleared = true;
                       if (length > MAX_PATH - 1 - at) length = MAX_PATH - 1 - at;
                       std::memcpy(out + at, text, length * sizeof(WCHAR));
                       at += length;
                     })
             ? 1
             : 0;
}

}  // namespace msgstore

// E-mail folder tree, paths and the account of the plain INBOX, as the
// store's description places its folders. The e-mail store's own rules:
// - NONE has no message file path;
// - the INBOX files of the accounts are named "<account>_<message>.email" and
//   reached only through the Inbox path; GetFilePath serves DRAFT to SPAM
//   alone;
// - the tree is made only when its "Email" directory is missing, and in
//   phone memory "\DiskOnChip\User" is taken to exist.
#include <string>

#include "common/folder_tree.h"
#include "common/msg_str.h"
#include "email/email_internal.h"
#include "msgstore/platform.h"

namespace {

using msgstore::email::kAccountStore;
using msgstore::email::kStore;

constexpr msgstore::FolderTree kTree = {kStore};

}  // namespace

int EmailMsgStore_CreateDir(bool storage) {
  const std::u16string volume = storage ? u"\\SD Card" : u"\\DiskOnChip";
  const std::u16string root = volume + u"\\User\\MESSAGING\\Email";
  if (GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES) return 1;
  if (storage) CreateDirectoryW(u"\\SD Card\\User", nullptr);
  CreateDirectoryW((volume + u"\\User\\MESSAGING").c_str(), nullptr);
  CreateDirectoryW(root.c_str(), nullptr);
  for (const msgstore::FolderDescription& f : kStore) {
    if (storage && !f.onCard()) continue;
    CreateDirectoryW(msgstore::JoinPath(root, f.dir).c_str(), nullptr);
  }
  return 1;
}

int EmailMsgStore_GetFolderPath(bool storage, DWORD folder, WCHAR* path) {
  return msgstore::CopyFolderPath(kTree, storage, folder, path);
}

int EmailMsgStore_GetFilePath(bool storage, DWORD messageId, DWORD folder, WCHAR* path) {
  if (folder < EMAIL_FOLDER_DRAFT || folder > EMAIL_FOLDER_SPAM) return 0;
  return msgstore::CopyFilePath(kTree, storage, messageId, folder, path);
}

int EmailMsgStore_GetFilePathInbox(bool storage, DWORD messageId, DWORD accountId, WCHAR* path) {
  if (path == nullptr) return 0;
  msgstore::CopyPath(path,
                     msgstore::JoinPath(msgstore::email::InboxDir(storage),
                                        msgstore::DecimalU16(accountId) + u"_" +
                                            msgstore::DecimalU16(messageId) + kStore.extension));
  return 1;
}

namespace msgstore {
namespace email {

std::u16string InboxDir(bool card) { return kTree.FolderDir(card, EMAIL_FOLDER_INBOX); }

std::u16string AccountPattern(DWORD accountId) {
  return DecimalU16(accountId) + u"_" + kStore.messagePattern;
}

bool IndexPath(DWORD folder, WCHAR* path) {
  if (IsAccountFolder(folder)) {
    CopyPath(path, JoinPath(InboxDir(false), DecimalU16(folder) + u"_" + kStore.indexName));
    return true;
  }
  const FolderDescription* f = kStore.Folder(folder);
  return f != nullptr && f->indexed() && kTree.IndexPath(f->indexFolder, path);
}

bool GetIncomingServerAccount(WCHAR* name, DWORD byteCount) {
  if (name == nullptr) return false;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAccountStore.incomingKey, 0, 0, &key) != ERROR_SUCCESS)
    return false;
  // A missing value leaves the name as the caller zero-filled it.
  DWORD type = 0;
  RegQueryValueExW(key, kAccountStore.incomingValue, nullptr, &type, reinterpret_cast<BYTE*>(name),
                   &byteCount);
  RegCloseKey(key);
  return true;
}

bool GetAccountUniqueID(const WCHAR* name, DWORD* accountId) {
  WCHAR path[MAX_PATH] = {};
  CopyPath(path, JoinPath(kAccountStore.registryKey, name != nullptr ? name : u""));
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, 0, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = sizeof(DWORD);
  const bool read = RegQueryValueExW(key, kAccountStore.idValue, nullptr, &type,
                                     reinterpret_cast<BYTE*>(accountId), &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return read;
}

bool PlainInboxAccount(DWORD* accountId) {
  WCHAR name[33] = {};
  return GetIncomingServerAccount(name, kAccountStore.nameBytes) &&
         GetAccountUniqueID(name, accountId);
}

DWORD GetNextEmailMsgId() { return NextId(kCounter); }

}  // namespace email
}  // namespace msgstore

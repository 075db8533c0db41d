// Listing, reading and counting e-mail messages by their directories, the
// unread counts of the INBOX, and the rebuild of missing phone index files.
// The e-mail store's own rules: full listings mark every entry with folder 3;
// the plain INBOX
// listing holds the incoming-server account's files only, while the plain
// INBOX count holds every account's; the unread count reads the header of
// every INBOX file whose name contains the account's number, and a file that
// cannot be read counts as unread; the refresh never rebuilds INBOX indexes.
#include <string>

#include "common/dir_scan.h"
#include "common/msg_str.h"
#include "common/replace_file.h"
#include "email/email_internal.h"
#include "msgstore/platform.h"

namespace {

using msgstore::email::AccountPattern;
using msgstore::email::InboxDir;
using msgstore::email::kStore;

const WCHAR* const kMessagePattern = kStore.messagePattern;

// What full listings put in byFolder, whatever the folder.
constexpr BYTE kListingMark = 3;

// INBOX names are "<account>_<message>.email": their identifier follows the
// last '_'. Other names start with it.
DWORD List(bool storage, const std::u16string& dir, const std::u16string& pattern, bool inbox,
           CArray<tagOidArray, tagOidArray>& list) {
  return msgstore::ListDir(dir, pattern, storage ? 1 : 0, kListingMark, list, inbox);
}

size_t Count(const std::u16string& dir, const std::u16string& pattern) {
  return msgstore::ScanDir(dir, pattern, [](const WCHAR*) { return true; });
}

// Reads the file at position in the enumeration of pattern in dir (the last
// one past the end); 0 when nothing matches.
int ReadAtPosition(const std::u16string& dir, const std::u16string& pattern, int index,
                   bool withContent, tagMSGPROPS* msg, tagEMAILMSGPROPS* email) {
  std::u16string name;
  if (!msgstore::NameAtPosition(dir, pattern, index, &name)) return 0;
  WCHAR path[MAX_PATH] = {};
  msgstore::CopyPath(path, msgstore::JoinPath(dir, name));
  return EmailMsgStore_ReadFromFile(path, msg, email, withContent);
}

}  // namespace

int EmailMsgStore_ReadFolderMessage(bool storage, DWORD folder, int index, DWORD messageId,
                                    bool withContent, tagMSGPROPS* msg, tagEMAILMSGPROPS* email) {
  WCHAR path[MAX_PATH] = {};
  if (messageId != 0) {
    if (!EmailMsgStore_GetFilePath(storage, messageId, folder, path)) return 0;
    return EmailMsgStore_ReadFromFile(path, msg, email, withContent);
  }
  if (!EmailMsgStore_GetFolderPath(storage, folder, path)) return 0;
  return ReadAtPosition(path, kMessagePattern, index, withContent, msg, email);
}

int EmailMsgStore_ReadFolderMessageInbox(bool storage, DWORD accountId, int index, DWORD messageId,
                                         bool withContent, tagMSGPROPS* msg,
                                         tagEMAILMSGPROPS* email) {
  if (messageId != 0) {
    WCHAR path[MAX_PATH] = {};
    EmailMsgStore_GetFilePathInbox(storage, messageId, accountId, path);
    return EmailMsgStore_ReadFromFile(path, msg, email, withContent);
  }
  return ReadAtPosition(InboxDir(storage), AccountPattern(accountId), index, withContent, msg,
                        email);
}

DWORD EmailMsgStore_GetMessageList(bool storage, DWORD folder,
                                   CArray<tagOidArray, tagOidArray>& list) {
  WCHAR dir[MAX_PATH] = {};
  if (!EmailMsgStore_GetFolderPath(storage, folder, dir)) return 0;
  if (folder != EMAIL_FOLDER_INBOX) return List(storage, dir, kMessagePattern, false, list);
  DWORD account = 0;
  if (!msgstore::email::PlainInboxAccount(&account)) return 0;
  return List(storage, dir, AccountPattern(account), true, list);
}

DWORD EmailMsgStore_GetMessageListInbox(bool storage, DWORD accountId,
                                        CArray<tagOidArray, tagOidArray>& list) {
  return List(storage, InboxDir(storage), AccountPattern(accountId), true, list);
}

DWORD EmailMsgStore_GetFolderMessageCount(bool storage, DWORD folder) {
  WCHAR dir[MAX_PATH] = {};
  if (!EmailMsgStore_GetFolderPath(storage, folder, dir)) return 0;
  return static_cast<DWORD>(Count(dir, kMessagePattern));
}

int EmailMsgStore_GetFolderMessageCountInbox(bool storage, DWORD accountId, DWORD* count) {
  const DWORD found = static_cast<DWORD>(Count(InboxDir(storage), AccountPattern(accountId)));
  if (count != nullptr) *count = found;
  return 1;
}

DWORD EmailMsgStore_GetUnreadMsgCount(bool storage, DWORD accountId) {
  if (accountId == 0) return 0;
  WCHAR dir[MAX_PATH] = {};
  EmailMsgStore_GetFolderPath(storage, EMAIL_FOLDER_INBOX, dir);
  const std::u16string match = msgstore::DecimalU16(accountId);
  DWORD unread = 0;
  // Names are gathered first: reading takes the file mutex, which the
  // directory search must not wait behind.
  std::vector<std::u16string> names;
  msgstore::ScanDir(dir, kMessagePattern, [&](const WCHAR* name) {
    if (std::u16string(name).find(match) != std::u16string::npos) names.emplace_back(name);
    return true;
  });
  for (const std::u16string& name : names) {
    msgstore::email::Message m;
    WCHAR path[MAX_PATH] = {};
    msgstore::CopyPath(path, msgstore::JoinPath(dir, name));
    EmailMsgStore_ReadFromFile(path, m.msg(), m.store(), false);
    if (m->bRead == 0) ++unread;
  }
  return unread;
}

DWORD GetEmailInboxUnreadMsgsCount() {
  EmailMsgStore_CreateDir(false);
  EmailMsgStore_CreateDir(true);
  DWORD account = 0;
  if (!msgstore::email::PlainInboxAccount(&account)) return 0;
  return EmailMsgStore_GetUnreadMsgCount(false, account) +
         EmailMsgStore_GetUnreadMsgCount(true, account);
}

int EmailMsgStore_RefreshIniFiles() {
  // Files that writers which died left half made go first.
  msgstore::RemoveStaleTempFiles(kStore.phoneRoot);
  msgstore::RemoveStaleTempFiles(kStore.cardRoot);
  // 0 tells that an index could not be made whole.
  return msgstore::RebuildMissingIndexes(msgstore::email::kStoreOps, kStore.refreshed,
                                         msgstore::email::IndexPath)
             ? 1
             : 0;
}

// What the e-mail message store's modules share inside the library.
#ifndef MSGSTORE_EMAIL_EMAIL_INTERNAL_H_
#define MSGSTORE_EMAIL_EMAIL_INTERNAL_H_

#include <string>

#include "common/folder_tree.h"
#include "common/id_counter.h"
#include "common/index_file.h"
#include "common/store_ops.h"
#include "msgstore/email.h"

namespace msgstore {
namespace email {

// Named mutexes of the e-mail store; it takes them without yielding.
constexpr const WCHAR* kFileMutex = u"MUTEX_EMAIL_READWRITETILE";
constexpr IndexLock kIndexLock = {u"MUTEX_EMAIL_ACCESSINI", false};

constexpr const WCHAR* kPhoneRoot = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL";
constexpr const WCHAR* kCardRoot = u"\\SD Card\\User\\MESSAGING\\EMAIL";
constexpr const WCHAR* kCounterFile = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\EmailDB.ini";
// The counter is advanced under a mutex of its own, never while another
// mutex is held.
constexpr IdCounter kCounter = {kCounterFile, u"MUTEX_EMAIL_NEXTOID"};
constexpr const WCHAR* kMessagePattern = u"*.email";

// Folder values of 12 and more name the INBOX of the account with that
// identifier; 7 to 11 are no folder.
constexpr DWORD kFirstAccountFolder = 12;
inline bool IsAccountFolder(DWORD folder) { return folder >= kFirstAccountFolder; }

// The INBOX directory of a storage.
std::u16string InboxDir(bool card);
// "%d_*.email": one account's INBOX files.
std::u16string AccountPattern(DWORD accountId);

// The index file of a folder value (1 to 6, or an account identifier);
// false for values that have none.
bool IndexPath(DWORD folder, WCHAR* path);

// The account whose INBOX the plain INBOX operations mean, from the
// registry; false when it cannot be found.
bool GetIncomingServerAccount(WCHAR* name, DWORD byteCount);
bool GetAccountUniqueID(const WCHAR* name, DWORD* accountId);
bool PlainInboxAccount(DWORD* accountId);

// The next message identifier from "EmailDB.ini".
DWORD GetNextEmailMsgId();

constexpr StoreOps kStoreOps = {EmailMsgStore_GetFilePath,
                                EmailMsgStore_GetMessageList,
                                EmailMsgStore_QuickReadFromFile,
                                IndexPath,
                                kIndexLock,
                                GetNextEmailMsgId};

// Both records of a message, released on the way out.
using Message = MessagePair<tagEMAILMSGPROPS, EmailMsgStore_FreeMsgProps>;

}  // namespace email
}  // namespace msgstore

#endif  // MSGSTORE_EMAIL_EMAIL_INTERNAL_H_

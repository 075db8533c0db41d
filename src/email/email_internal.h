// What the e-mail message store's modules share inside the library.
#ifndef MSGSTORE_EMAIL_EMAIL_INTERNAL_H_
#define MSGSTORE_EMAIL_EMAIL_INTERNAL_H_

#include <string>

#include "common/id_counter.h"
#include "common/index_file.h"
#include "common/store_ops.h"
#include "email/email_description.h"
#include "msgstore/email.h"

namespace msgstore {
namespace email {

// The e-mail store takes its mutexes without yielding.
constexpr IndexLock kIndexLock = {kStore.indexMutex, kStore.yields};
// The counter is advanced under a mutex of its own, never while another
// mutex is held.
constexpr IdCounter kCounter = {kStore.counterFile, kStore.counterMutex};

// Folder values from kStore.firstAccountFolder on name the INBOX of the
// account with that identifier; those between the folders and them are no
// folder.
inline bool IsAccountFolder(DWORD folder) { return folder >= kStore.firstAccountFolder; }

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

// The e-mail store and its account store as they are: the folders, where
// each lives, which index lists it, the names of the store's files and
// mutexes, and where the accounts are kept. Everything else of the stores
// reads these.
#ifndef MSGSTORE_EMAIL_EMAIL_DESCRIPTION_H_
#define MSGSTORE_EMAIL_EMAIL_DESCRIPTION_H_

#include <iterator>

#include "msgstore/email.h"
#include "msgstore/stores.h"

namespace msgstore {
namespace email {

// In the order in which the trees are made (NONE in phone memory only).
// REPORT and SPAM live on the card too, and a full REPORT never sends a
// message to the other storage; all accounts share one INBOX directory per
// storage; NONE is the phone directory for both selectors, has no message
// file path and keeps no index.
inline constexpr FolderDescription kFolders[] = {
    // number, name, dir, card, folder path, index, rebuilt always, sim, limited, switches,
    // per account
    {EMAIL_FOLDER_INBOX, "inbox", u"INBOX", OnCard::kOwn, true, EMAIL_FOLDER_INBOX, false, false,
     true, true, true},
    {EMAIL_FOLDER_DRAFT, "draft", u"DRAFT", OnCard::kOwn, true, EMAIL_FOLDER_DRAFT, false, false,
     true, true, false},
    {EMAIL_FOLDER_SENT, "sent", u"SENT", OnCard::kOwn, true, EMAIL_FOLDER_SENT, false, false, true,
     true, false},
    {EMAIL_FOLDER_UNSENT, "unsent", u"UNSENT", OnCard::kOwn, true, EMAIL_FOLDER_UNSENT, false,
     false, true, true, false},
    {EMAIL_FOLDER_REPORT, "report", u"REPORT", OnCard::kOwn, true, EMAIL_FOLDER_REPORT, false,
     false, true, false, false},
    {EMAIL_FOLDER_SPAM, "spam", u"SPAM", OnCard::kOwn, true, EMAIL_FOLDER_SPAM, false, false, true,
     true, false},
    {EMAIL_FOLDER_NONE, "none", u"NONE", OnCard::kPhone, true, 0, false, false, false, true, false},
};

inline constexpr DWORD kShown[] = {EMAIL_FOLDER_INBOX,  EMAIL_FOLDER_DRAFT,  EMAIL_FOLDER_SENT,
                                   EMAIL_FOLDER_UNSENT, EMAIL_FOLDER_REPORT, EMAIL_FOLDER_SPAM,
                                   EMAIL_FOLDER_NONE};
inline constexpr DWORD kSearched[] = {EMAIL_FOLDER_INBOX,  EMAIL_FOLDER_DRAFT,  EMAIL_FOLDER_SENT,
                                      EMAIL_FOLDER_UNSENT, EMAIL_FOLDER_REPORT, EMAIL_FOLDER_SPAM};
inline constexpr DWORD kRefreshed[] = {EMAIL_FOLDER_DRAFT, EMAIL_FOLDER_REPORT, EMAIL_FOLDER_SENT,
                                       EMAIL_FOLDER_SPAM, EMAIL_FOLDER_UNSENT};

inline constexpr StoreDescription kStore = {
    StoreKind::kEmail,
    "email",
    "e-mail store",
    u"\\DiskOnChip\\User\\MESSAGING\\EMAIL",
    u"\\SD Card\\User\\MESSAGING\\EMAIL",
    u".email",
    u"*.email",
    u"EmailIni",
    u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\EmailDB.ini",
    u"MUTEX_EMAIL_NEXTOID",
    u"MUTEX_EMAIL_READWRITETILE",
    u"MUTEX_EMAIL_ACCESSINI",
    false,
    nullptr,
    EMAIL_MAX_FOLDER_MESSAGES,
    2 | 4,
    // Folder values of 12 and more name the INBOX of the account with that
    // identifier; 7 to 11 are no folder.
    12,
    kFolders,
    std::size(kFolders),
    OrderOf(kShown),
    OrderOf(kSearched),
    OrderOf(kRefreshed),
};

inline constexpr AccountStoreDescription kAccountStore = {
    u"\\DiskOnChip\\User\\MESSAGING\\EmailAccMsgStore.db",
    u"\\Software\\Corvane\\Email\\Accounts",
    u"AccoutnId",
    u"MUTEX_EMAIL_NEXTACCOUNTID",
    u"AccountUniqueID",
    u"\\Software\\Corvane\\Email\\Preferences",
    u"IncomingServerAccount",
    0x30000003,
    255,
    32,  // 15 characters and the terminator
};

}  // namespace email
}  // namespace msgstore

#endif  // MSGSTORE_EMAIL_EMAIL_DESCRIPTION_H_

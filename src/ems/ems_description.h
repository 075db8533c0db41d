// The SMS/EMS store as it is: its folders, where each lives, which index
// lists it, and the names of its files and mutexes. Everything else of the
// store reads these.
#ifndef MSGSTORE_EMS_EMS_DESCRIPTION_H_
#define MSGSTORE_EMS_EMS_DESCRIPTION_H_

#include <iterator>

#include "msgstore/ems.h"
#include "msgstore/stores.h"

namespace msgstore {
namespace ems {

// In the order in which the phone tree is made. REPORT lives in phone memory
// only; the SIM copies have no card directory, but a file path asked for
// with the card selector names the phone file, and they are indexed with
// their ordinary counterpart; NONE is the phone directory whatever the
// selector and keeps no index.
inline constexpr FolderDescription kFolders[] = {
    // number, name, dir, card, folder path, index, rebuilt always, sim, limited, switches,
    // per account
    {EMS_FOLDER_INBOX, "inbox", u"INBOX", OnCard::kOwn, true, EMS_FOLDER_INBOX, true, false, true,
     true, false},
    {EMS_FOLDER_DRAFT, "draft", u"DRAFT", OnCard::kOwn, true, EMS_FOLDER_DRAFT, false, false, true,
     true, false},
    {EMS_FOLDER_SENT, "sent", u"SENT", OnCard::kOwn, true, EMS_FOLDER_SENT, true, false, true, true,
     false},
    {EMS_FOLDER_UNSENT, "unsent", u"UNSENT", OnCard::kOwn, true, EMS_FOLDER_UNSENT, true, false,
     true, true, false},
    {EMS_FOLDER_REPORT, "report", u"REPORT", OnCard::kNone, true, EMS_FOLDER_REPORT, false, false,
     true, true, false},
    {EMS_FOLDER_SPAM, "spam", u"SPAM", OnCard::kOwn, true, EMS_FOLDER_SPAM, false, false, true,
     true, false},
    {EMS_FOLDER_NONE, "none", u"NONE", OnCard::kPhone, true, 0, false, false, false, true, false},
    {EMS_FOLDER_SIM_INBOX, "sim-inbox", u"SIM_INBOX", OnCard::kPhoneFile, true, EMS_FOLDER_INBOX,
     false, true, false, true, false},
    {EMS_FOLDER_SIM_SENT, "sim-sent", u"SIM_SENT", OnCard::kPhoneFile, true, EMS_FOLDER_SENT, false,
     true, false, true, false},
    {EMS_FOLDER_SIM_UNSENT, "sim-unsent", u"SIM_UNSENT", OnCard::kPhoneFile, true,
     EMS_FOLDER_UNSENT, false, true, false, true, false},
};

inline constexpr DWORD kShown[] = {EMS_FOLDER_INBOX,     EMS_FOLDER_DRAFT,    EMS_FOLDER_SENT,
                                   EMS_FOLDER_UNSENT,    EMS_FOLDER_REPORT,   EMS_FOLDER_SPAM,
                                   EMS_FOLDER_SIM_INBOX, EMS_FOLDER_SIM_SENT, EMS_FOLDER_SIM_UNSENT,
                                   EMS_FOLDER_NONE};
inline constexpr DWORD kSearched[] = {
    EMS_FOLDER_INBOX, EMS_FOLDER_SIM_INBOX, EMS_FOLDER_SIM_SENT, EMS_FOLDER_SIM_UNSENT,
    EMS_FOLDER_DRAFT, EMS_FOLDER_SENT,      EMS_FOLDER_UNSENT,   EMS_FOLDER_REPORT,
    EMS_FOLDER_SPAM,  EMS_FOLDER_NONE};
inline constexpr DWORD kRefreshed[] = {EMS_FOLDER_INBOX, EMS_FOLDER_DRAFT, EMS_FOLDER_REPORT,
                                       EMS_FOLDER_SENT,  EMS_FOLDER_SPAM,  EMS_FOLDER_UNSENT};

inline constexpr StoreDescription kStore = {
    StoreKind::kSms,
    "sms",
    "SMS/EMS store",
    u"\\DiskOnChip\\User\\MESSAGING\\EMS",
    u"\\SD Card\\User\\MESSAGING\\EMS",
    u".sms",
    u"*.sms",
    u"EmsIni",
    u"\\DiskOnChip\\User\\MESSAGING\\EMS\\EmsDB.ini",
    u"MUTEX_NEXTOID",
    u"MUTEX_READWRITETILE",
    u"MUTEX_ACCESSINI",
    true,
    // The SIM counts and the card INBOX's first set-up are read and then set
    // under this mutex.
    u"MUTEX_SMSCOUNTERS",
    EMS_MAX_FOLDER_MESSAGES,
    2 | 4,
    0,
    kFolders,
    std::size(kFolders),
    OrderOf(kShown),
    OrderOf(kSearched),
    OrderOf(kRefreshed),
};

}  // namespace ems
}  // namespace msgstore

#endif  // MSGSTORE_EMS_EMS_DESCRIPTION_H_

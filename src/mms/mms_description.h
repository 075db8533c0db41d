// The MMS store as it is: its folders, where each lives, which index lists
// it, and the names of its files and mutexes. Everything else of the store
// reads these.
#ifndef MSGSTORE_MMS_MMS_DESCRIPTION_H_
#define MSGSTORE_MMS_MMS_DESCRIPTION_H_

#include <iterator>

#include "msgstore/mms.h"
#include "msgstore/stores.h"

namespace msgstore {
namespace mms {

// In the order in which the phone tree is made. REPORT lives in phone memory
// only and never sends a message to the card; AUTODOWNLOAD is the phone
// directory whatever the selector and keeps no index; NONE has file paths
// (always the phone directory) but no folder path: its messages are reached
// by identifier and cannot be listed, counted or emptied.
inline constexpr FolderDescription kFolders[] = {
    // number, name, dir, card, folder path, index, rebuilt always, sim, limited, switches,
    // per account
    {MMS_FOLDER_INBOX, "inbox", u"INBOX", OnCard::kOwn, true, MMS_FOLDER_INBOX, false, false, true,
     true, false},
    {MMS_FOLDER_DRAFT, "draft", u"DRAFT", OnCard::kOwn, true, MMS_FOLDER_DRAFT, false, false, true,
     true, false},
    {MMS_FOLDER_SENT, "sent", u"SENT", OnCard::kOwn, true, MMS_FOLDER_SENT, false, false, true,
     true, false},
    {MMS_FOLDER_UNSENT, "unsent", u"UNSENT", OnCard::kOwn, true, MMS_FOLDER_UNSENT, false, false,
     true, true, false},
    {MMS_FOLDER_REPORT, "report", u"REPORT", OnCard::kNone, true, MMS_FOLDER_REPORT, false, false,
     true, false, false},
    {MMS_FOLDER_SPAM, "spam", u"SPAM", OnCard::kOwn, true, MMS_FOLDER_SPAM, false, false, true,
     true, false},
    {MMS_FOLDER_AUTODOWNLOAD, "autodownload", u"AUTODOWNLOAD", OnCard::kPhone, true, 0, false,
     false, false, true, false},
    {MMS_FOLDER_NONE, "none", u"NONE", OnCard::kPhone, false, 0, false, false, false, true, false},
};

inline constexpr DWORD kShown[] = {MMS_FOLDER_INBOX,        MMS_FOLDER_DRAFT,  MMS_FOLDER_SENT,
                                   MMS_FOLDER_UNSENT,       MMS_FOLDER_REPORT, MMS_FOLDER_SPAM,
                                   MMS_FOLDER_AUTODOWNLOAD, MMS_FOLDER_NONE};
inline constexpr DWORD kSearched[] = {MMS_FOLDER_INBOX, MMS_FOLDER_AUTODOWNLOAD, MMS_FOLDER_DRAFT,
                                      MMS_FOLDER_SENT,  MMS_FOLDER_UNSENT,       MMS_FOLDER_SPAM,
                                      MMS_FOLDER_REPORT};
inline constexpr DWORD kRefreshed[] = {MMS_FOLDER_INBOX, MMS_FOLDER_DRAFT, MMS_FOLDER_REPORT,
                                       MMS_FOLDER_SENT,  MMS_FOLDER_SPAM,  MMS_FOLDER_UNSENT};

inline constexpr StoreDescription kStore = {
    StoreKind::kMms,
    "mms",
    "MMS store",
    u"\\DiskOnChip\\User\\MESSAGING\\MMS",
    u"\\SD Card\\User\\MESSAGING\\MMS",
    u".mms",
    u"*.mms",
    u"MmsIni",
    u"\\DiskOnChip\\User\\MESSAGING\\MMS\\MMSDB.ini",
    u"MUTEX_MMS_NEXTOID",
    u"MUTEX_MMS_READWRITETILE",
    u"MUTEX_MMS_ACCESSINI",
    false,
    nullptr,
    MMS_MAX_FOLDER_MESSAGES,
    2,  // flag 4 is not looked at
    0,
    kFolders,
    std::size(kFolders),
    OrderOf(kShown),
    OrderOf(kSearched),
    OrderOf(kRefreshed),
};

}  // namespace mms
}  // namespace msgstore

#endif  // MSGSTORE_MMS_MMS_DESCRIPTION_H_

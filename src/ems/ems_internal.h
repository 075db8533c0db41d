// What the EMS modules share inside the library.
#ifndef MSGSTORE_EMS_EMS_INTERNAL_H_
#define MSGSTORE_EMS_EMS_INTERNAL_H_

#include "common/id_counter.h"
#include "common/index_file.h"
#include "common/store_ops.h"
#include "msgstore/ems.h"

namespace msgstore {
namespace ems {

// Named mutexes of the EMS store.
constexpr const WCHAR* kFileMutex = u"MUTEX_READWRITETILE";
constexpr const WCHAR* kIndexMutex = u"MUTEX_ACCESSINI";
// The EMS store yields the processor around both mutexes.
constexpr IndexLock kIndexLock = {kIndexMutex, true};

constexpr const WCHAR* kPhoneRoot = u"\\DiskOnChip\\User\\MESSAGING\\EMS";
constexpr const WCHAR* kCardRoot = u"\\SD Card\\User\\MESSAGING\\EMS";
constexpr const WCHAR* kCounterFile = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\EmsDB.ini";
// The counter is advanced under a mutex of its own, never while another
// mutex is held.
constexpr const WCHAR* kCounterMutex = u"MUTEX_NEXTOID";
constexpr IdCounter kCounter = {kCounterFile, kCounterMutex};
// The handset's SMS counters that a change reads and then sets (the SIM
// counts, the card INBOX's first set-up) are changed under this mutex.
constexpr const WCHAR* kCountersMutex = u"MUTEX_SMSCOUNTERS";
constexpr const WCHAR* kIndexName = u"EmsIni";
constexpr const WCHAR* kMessagePattern = u"*.sms";

// Folders 7, 12 and 13: the phone's copies of SIM messages.
inline bool IsSimFolder(DWORD folder) {
  return folder == EMS_FOLDER_SIM_INBOX || folder == EMS_FOLDER_SIM_SENT ||
         folder == EMS_FOLDER_SIM_UNSENT;
}

// The folder whose index lists a message of folder: SIM copies are indexed
// with their ordinary counterpart (7 -> 1, 12 -> 3, 13 -> 4).
DWORD IndexFolderOf(DWORD folder);

// The phone index path "%s\EmsIni" of folder's own directory (no mapping);
// false when folder has no phone directory.
bool IndexPath(DWORD folder, WCHAR* path);

// The index file that holds messages of folder; false for NONE and for
// folders without a phone directory.
bool IndexFileOf(DWORD folder, WCHAR* path);

// The next message identifier from "EmsDB.ini".
DWORD GetNextEmsOid();

// The EMS operations that the shared write and rebuild steps call.
constexpr StoreOps kStoreOps = {EMSMsgStore_GetFilePath,
                                EMSMsgStore_GetMessageList,
                                EMSMsgStore_QuickReadFromFile,
                                IndexFileOf,
                                kIndexLock,
                                GetNextEmsOid};

}  // namespace ems
}  // namespace msgstore

#endif  // MSGSTORE_EMS_EMS_INTERNAL_H_

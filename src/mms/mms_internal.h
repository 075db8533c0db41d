// What the MMS modules share inside the library.
#ifndef MSGSTORE_MMS_MMS_INTERNAL_H_
#define MSGSTORE_MMS_MMS_INTERNAL_H_

#include "common/folder_tree.h"
#include "common/id_counter.h"
#include "common/index_file.h"
#include "common/store_ops.h"
#include "msgstore/mms.h"

namespace msgstore {
namespace mms {

// Named mutexes of the MMS store; it takes them without yielding.
constexpr const WCHAR* kFileMutex = u"MUTEX_MMS_READWRITETILE";
constexpr const WCHAR* kIndexMutex = u"MUTEX_MMS_ACCESSINI";
constexpr IndexLock kIndexLock = {kIndexMutex, false};

constexpr const WCHAR* kPhoneRoot = u"\\DiskOnChip\\User\\MESSAGING\\MMS";
constexpr const WCHAR* kCardRoot = u"\\SD Card\\User\\MESSAGING\\MMS";
constexpr const WCHAR* kCounterFile = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\MMSDB.ini";
// The counter is advanced under a mutex of its own, never while another
// mutex is held.
constexpr IdCounter kCounter = {kCounterFile, u"MUTEX_MMS_NEXTOID"};
constexpr const WCHAR* kIndexName = u"MmsIni";
constexpr const WCHAR* kMessagePattern = u"*.mms";

// The MMS folder tree.
const FolderTree& Tree();

// The phone index path "%s\MmsIni" of folder; false when folder has no
// phone folder path.
bool IndexPath(DWORD folder, WCHAR* path);

// The index file of folder; false for folders that keep none.
bool IndexFileOf(DWORD folder, WCHAR* path);

// The next message identifier from "MMSDB.ini".
DWORD GetNextMmsOid();

// The MMS operations that the shared write and rebuild steps call.
constexpr StoreOps kStoreOps = {MMSMsgStore_GetFilePath,
                                MMSMsgStore_GetMessageList,
                                MMSMsgStore_QuickReadFromFile,
                                IndexFileOf,
                                kIndexLock,
                                GetNextMmsOid};

// Both records of a message, released on the way out.
using Message = MessagePair<tagMMSMSGPROPS, MMSMsgStore_FreeMsgProps>;

}  // namespace mms
}  // namespace msgstore

#endif  // MSGSTORE_MMS_MMS_INTERNAL_H_

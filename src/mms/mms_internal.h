// What the MMS modules share inside the library.
#ifndef MSGSTORE_MMS_MMS_INTERNAL_H_
#define MSGSTORE_MMS_MMS_INTERNAL_H_

#include "common/id_counter.h"
#include "common/index_file.h"
#include "common/store_ops.h"
#include "mms/mms_description.h"
#include "msgstore/mms.h"

namespace msgstore {
namespace mms {

// The MMS store takes its mutexes without yielding.
constexpr IndexLock kIndexLock = {kStore.indexMutex, kStore.yields};
// The counter is advanced under a mutex of its own, never while another
// mutex is held.
constexpr IdCounter kCounter = {kStore.counterFile, kStore.counterMutex};

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

// What the EMS modules share inside the library.
#ifndef MSGSTORE_EMS_EMS_INTERNAL_H_
#define MSGSTORE_EMS_EMS_INTERNAL_H_

#include "common/id_counter.h"
#include "common/index_file.h"
#include "common/store_ops.h"
#include "ems/ems_description.h"
#include "msgstore/ems.h"

namespace msgstore {
namespace ems {

// The EMS store yields the processor around its file and index mutexes.
constexpr IndexLock kIndexLock = {kStore.indexMutex, kStore.yields};
// The counter is advanced under a mutex of its own, never while another
// mutex is held.
constexpr IdCounter kCounter = {kStore.counterFile, kStore.counterMutex};

// Folders 7, 12 and 13: the phone's copies of SIM messages.
inline bool IsSimFolder(DWORD folder) {
  const FolderDescription* f = kStore.Folder(folder);
  return f != nullptr && f->sim;
}

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

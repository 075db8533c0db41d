// The per-folder index file shared by the three stores: a flat array of
// 16-byte records (folder, message identifier, index time), newest first.
// Each store supplies the index path and its mutex name.
#ifndef MSGSTORE_COMMON_INDEX_FILE_H_
#define MSGSTORE_COMMON_INDEX_FILE_H_

#include <vector>

#include "msgstore/types.h"

namespace msgstore {

struct IndexRecord {
  DWORD folder;
  DWORD oid;
  FILETIME time;
};
constexpr size_t kIndexRecordSize = 16;

struct IndexLock {
  const WCHAR* mutexName;
  bool yield;  // Sleep(0) around the mutex, as the EMS store does
};

// Reads every whole record. False when the file is missing, empty or
// unreadable. Takes no lock.
bool ReadIndex(const WCHAR* indexPath, std::vector<IndexRecord>* records);

// Replaces the file with records in one MsgFile_Write call. Takes no lock.
// False when the new file could not be put in place (the old one stays).
bool WriteIndex(const WCHAR* indexPath, const std::vector<IndexRecord>& records);

// How many index changes (IndexInsert, IndexRemove) this thread has seen
// fail to reach their file. The stores' index operations return nothing, so
// a caller that must know whether one of them took compares the count before
// and after.
unsigned long IndexWriteFailures();

// Inserts record before the first record that is not later than it (so a tie
// puts the new record first), or appends it. A missing file is created with
// the one record; an existing file that is empty or unreadable is left as it
// is and the record dropped. False when the file could not be written.
bool IndexInsert(const WCHAR* indexPath, const IndexLock& lock, const IndexRecord& record);

// Removes the first record with both oid and folder; removing the only
// record deletes the file. Nothing changes when there is no match. False
// when the file could not be written or deleted.
bool IndexRemove(const WCHAR* indexPath, const IndexLock& lock, DWORD oid, DWORD folder);

// Quick list: when the index was read, empties list and appends an entry per
// record (bMemoryCard 0, byFolder the low 8 bits of the folder field) and
// returns the list's size; otherwise returns 0 and leaves list untouched.
DWORD IndexQuickList(const WCHAR* indexPath, const IndexLock& lock,
                     CArray<tagOidArray, tagOidArray>& list);

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_INDEX_FILE_H_

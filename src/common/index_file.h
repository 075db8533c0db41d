// The per-folder index file shared by the three stores: a flat array of
// 16-byte records (folder, message identifier, index time), newest first.
// Each store supplies the index path and its mutex name.
#ifndef MSGSTORE_COMMON_INDEX_FILE_H_
#define MSGSTORE_COMMON_INDEX_FILE_H_

#include <functional>
#include <string>
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

// How many reads of an index (of any of the functions below) this thread has
// seen fail on a file that is there: the folder's count and list are then
// not known, which a caller must not take for an empty folder.
unsigned long IndexReadFailures();

// Inserts record before the first record that is not later than it (so a tie
// puts the new record first), or appends it. A missing file is created with
// the one record; an existing file that is empty, or a directory, is left as
// it is and the record dropped. False when the file could not be read or
// written.
bool IndexInsert(const WCHAR* indexPath, const IndexLock& lock, const IndexRecord& record);

// Removes the first record with both oid and folder; removing the only
// record deletes the file. Nothing changes when there is no match. Then,
// still under the lock, runs step (when given): when it fails, the file is
// put back as it was. False when the file could not be read or written, or
// step failed.
bool IndexRemove(const WCHAR* indexPath, const IndexLock& lock, DWORD oid, DWORD folder,
                 const std::function<bool()>& step = nullptr);

// Under the lock, calls pick with the records and removes those it returns
// (positions, each at most once) in one write of the file; removing every
// record deletes the file. Nothing changes when pick returns none or there
// is no file of records. False when the file could not be read or written.
bool IndexRemoveSome(
    const WCHAR* indexPath, const IndexLock& lock,
    const std::function<std::vector<size_t>(const std::vector<IndexRecord>&)>& pick);

// Replaces the file with records under the lock; no records delete it.
// False when that could not be done (the old file stays).
bool IndexSet(const WCHAR* indexPath, const IndexLock& lock,
              const std::vector<IndexRecord>& records);

// Puts record into records at the place IndexInsert gives it.
void PlaceRecord(std::vector<IndexRecord>& records, const IndexRecord& record);

// Removes the first record with record's oid and folder and inserts record
// (as IndexInsert places it) in one write of the file, so that the old
// record stays when the write fails. False when the file could not be read
// or written.
bool IndexReplace(const WCHAR* indexPath, const IndexLock& lock, const IndexRecord& record);

// While one lives, IndexReplace of this thread notes its record here instead
// of rewriting the index; Flush then makes the noted replacements, each index
// read and written once under its lock, with the records placed as the
// replacements one after the other would have placed them. For writers of
// many messages (a restore), which write the message files first and the
// index of their folder once after them, so that an index never lists a
// message before its file stands written. What is not flushed is dropped.
class DeferredIndexes {
 public:
  DeferredIndexes();
  ~DeferredIndexes();
  DeferredIndexes(const DeferredIndexes&) = delete;
  DeferredIndexes& operator=(const DeferredIndexes&) = delete;

  // False when an index could not be read or written; the indexes flushed
  // before it stay written, the rest stay noted.
  bool Flush(std::u16string* failed = nullptr);

  // IndexReplace's part: true when the record was noted.
  static bool Note(const WCHAR* indexPath, const IndexLock& lock, const IndexRecord& record);

 private:
  struct Pending {
    std::u16string path;
    IndexLock lock;
    std::vector<IndexRecord> records;
  };
  std::vector<Pending> pending_;
  DeferredIndexes* outer_;
};

// Quick list: when the index was read, empties list and appends an entry per
// record (bMemoryCard 0, byFolder the low 8 bits of the folder field) and
// returns the list's size; otherwise returns 0 and leaves list untouched.
DWORD IndexQuickList(const WCHAR* indexPath, const IndexLock& lock,
                     CArray<tagOidArray, tagOidArray>& list);

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_INDEX_FILE_H_

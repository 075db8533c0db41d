// Steps that every store's write path takes alike.
#include "common/store_ops.h"

#include "common/dir_scan.h"
#include "common/index_file.h"
#include "common/scoped.h"
#include "msgstore/platform.h"

namespace msgstore {

namespace {
thread_local WriteNote writeNote;
}  // namespace

WriteNote& ThisThreadWriteNote() { return writeNote; }

void ClearWriteNote() { writeNote = WriteNote(); }

namespace {

bool NoteWritten(bool card, const tagMSGPROPS& props) {
  writeNote.written = true;
  writeNote.writtenCard = card;
  writeNote.writtenFolder = props.dwFolder;
  writeNote.writtenOid = props.dwOid;
  return true;
}

}  // namespace

void NoteEviction(bool card, DWORD folder, DWORD oid, DWORD account) {
  writeNote.evicted = true;
  writeNote.evictedCard = card;
  writeNote.evictedFolder = folder;
  writeNote.evictedOid = oid;
  writeNote.evictedAccount = account;
}

DWORD OldestByScan(const StoreOps& ops, bool card, DWORD folder, DWORD* count, bool idFromFile) {
  CMsgList list;
  const DWORD listed = ops.getMessageList(card, folder, list);
  if (count != nullptr) *count = listed;
  DWORD oldest = 0;
  FILETIME oldestTime = {0, 0};
  bool found = false;
  for (long i = 0; i < list.GetSize(); ++i) {
    ScopedMsgProps record;
    if (!ops.quickRead(card, folder, list[i].dwOid, record.get())) continue;
    if (!found || CompareFileTime(&oldestTime, &record->ftIndexTime) > 0) {
      found = true;
      oldest = idFromFile ? record->dwOid : list[i].dwOid;
      oldestTime = record->ftIndexTime;
    }
  }
  return oldest;
}

DWORD OldestOfIndexList(const CMsgList& list, DWORD* count) {
  const long size = list.GetSize();
  if (count != nullptr) *count = static_cast<DWORD>(size);
  return size > 0 ? list[size - 1].dwOid : 0;
}

bool Evict(const StoreOps& ops, bool card, DWORD folder, DWORD oid) {
  WCHAR path[MAX_PATH] = {};
  const bool named = ops.getFilePath(card, oid, folder, path) != 0;
  const bool deleted = named && DeleteFileW(path);
  // Only a file this step deleted was evicted by it.
  if (deleted) NoteEviction(card, folder, oid, 0);
  const bool gone = !named || deleted || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES;
  if (!card) ops.deleteFromIndex(oid, folder);
  if (!gone) writeNote.evictionFailed = true;
  return gone;
}

bool ChooseName(DWORD (*nextId)(), const PathOf& pathOf, bool card, tagMSGPROPS* props,
                DWORD existing, WCHAR* path) {
  for (;;) {
    const DWORD oid = existing != 0 ? existing : nextId();
    props->dwOid = oid;
    if (oid == 0) return false;  // the counter could not be advanced
    if (!pathOf(oid, path)) return false;
    if (existing != 0 || !card || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return true;
  }
}

bool ChooseName(const StoreOps& ops, bool card, tagMSGPROPS* props, DWORD existing, WCHAR* path) {
  const DWORD folder = props->dwFolder;
  return ChooseName(
      ops.nextId,
      [&](DWORD oid, WCHAR* out) { return ops.getFilePath(card, oid, folder, out) != 0; }, card,
      props, existing, path);
}

bool IndexWritten(const StoreOps& ops, bool card, DWORD existing, DWORD indexKey,
                  const tagMSGPROPS& props, const WCHAR* path) {
  if (card) return NoteWritten(card, props);
  const unsigned long failures = IndexWriteFailures();
  if (existing != 0) ops.deleteFromIndex(existing, indexKey);
  // A rewrite whose old record stays is still listed by it, only not at the
  // place its new time gives it; a second record would list it twice.
  if (IndexWriteFailures() != failures) return false;
  ops.addToIndex(props.dwOid, indexKey, props.ftIndexTime);
  if (IndexWriteFailures() == failures) return NoteWritten(card, props);
  // A new message that no index lists would stay out of the folder's count
  // and list: it is taken back and the write fails as a whole. A rewrite's
  // file already holds the new content, which is kept.
  if (existing == 0 && path != nullptr) DeleteFileW(path);
  return false;
}

void RestoreSourceRecord(const StoreOps& ops, bool card, const WCHAR* path, DWORD oid,
                         DWORD indexKey, FILETIME time) {
  if (!card && path != nullptr && path[0] != 0 &&
      GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
    ops.addToIndex(oid, indexKey, time);
}

Removal RemoveMessage(const StoreOps& ops, bool card, DWORD folder, DWORD oid) {
  WCHAR path[MAX_PATH] = {};
  if (!ops.getFilePath(card, oid, folder, path)) return Removal::kNoPath;
  return RemoveMessageFile(ops, card, path, oid, folder);
}

Removal RemoveMessageFile(const StoreOps& ops, bool card, const WCHAR* path, DWORD oid,
                          DWORD indexKey) {
  if (DeleteFileW(path)) {
    // The message is gone; a record that could not be removed names a
    // missing file, which the next quick read of it drops.
    if (!card) ops.deleteFromIndex(oid, indexKey);
    return Removal::kDeleted;
  }
  // A phone file that is already gone only leaves its index record to clear.
  if (card || GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return Removal::kFailed;
  const unsigned long failures = IndexWriteFailures();
  ops.deleteFromIndex(oid, indexKey);
  return IndexWriteFailures() == failures ? Removal::kWasGone : Removal::kFailed;
}

bool EmptyDir(const std::u16string& dir, const std::u16string& pattern, bool inbox,
              LPARAM storeMark) {
  const bool emptied = DeleteMatching(dir, pattern);
  if (!inbox) return emptied;
  HWND shell = GetPlatform().FindWindowW(kShellWindow, nullptr);
  if (shell != nullptr) GetPlatform().PostMessageW(shell, kInboxEmptiedNotice, 0, storeMark);
  return emptied;
}

bool IndexListed(const StoreOps& ops, const CMsgList& list, DWORD folder,
                 const std::function<void()>& onRead) {
  const unsigned long failures = IndexWriteFailures();
  for (long i = 0; i < list.GetSize(); ++i) {
    ScopedMsgProps record;
    ops.quickRead(false, folder, list[i].dwOid, record.get());
    ops.addToIndex(list[i].dwOid, folder, record->ftIndexTime);
    if (record->bRead != 0 && onRead) onRead();
  }
  return IndexWriteFailures() == failures;
}

bool RebuildMissingIndexes(const StoreOps& ops, const FolderOrder& folders,
                           bool (*indexPath)(DWORD folder, WCHAR* path)) {
  bool all = true;
  for (DWORD folder : folders) {
    WCHAR index[MAX_PATH] = {};
    if (!indexPath(folder, index) || GetFileAttributesW(index) != INVALID_FILE_ATTRIBUTES)
      continue;  // an existing index is trusted as it is
    const unsigned long unread = ListingFailures();
    CMsgList list;
    ops.getMessageList(false, folder, list);
    all = IndexListed(ops, list, folder, nullptr) && ListingFailures() == unread && all;
  }
  return all;
}

}  // namespace msgstore

// Steps that every store's write path takes alike.
#include "common/store_ops.h"

#include "common/dir_scan.h"
#include "common/index_file.h"
#include "common/scoped.h"
#include "msgstore/platform.h"
#include "platform/path_state.h"

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

bool ChooseName(DWORD (*nextId)(), const PathOf& pathOf, bool card, tagMSGPROPS* props,
                DWORD existing, WCHAR* path) {
  for (;;) {
    const DWORD oid = existing != 0 ? existing : nextId();
    props->dwOid = oid;
    if (oid == 0) return false;  // the counter could not be advanced
    if (!pathOf(oid, path)) return false;
    if (existing != 0 || !card) return true;
    // A taken name draws the next identifier; one that cannot be looked at
    // ends the write.
    const platform::PathState state = platform::StateOf(path);
    if (state == platform::PathState::kMissing) return true;
    if (state == platform::PathState::kUnknown) return false;
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
  WCHAR index[MAX_PATH] = {};
  if (card || !ops.indexFile(indexKey, index)) return NoteWritten(card, props);
  const IndexRecord record = {indexKey, props.dwOid, props.ftIndexTime};
  if (existing != 0) {
    IndexReplace(index, ops.indexLock, record);  // the rewrite stands either way
    return NoteWritten(card, props);
  }
  if (IndexInsert(index, ops.indexLock, record)) return NoteWritten(card, props);
  // A new message that no index lists would stay out of the folder's count
  // and list: it is taken back and the write fails as a whole.
  if (path != nullptr) DeleteFileW(path);
  return false;
}

Removal RemoveMessage(const StoreOps& ops, bool card, DWORD folder, DWORD oid) {
  WCHAR path[MAX_PATH] = {};
  if (!ops.getFilePath(card, oid, folder, path)) return Removal::kNoPath;
  return RemoveMessageFile(ops, card, path, oid, folder);
}

Removal RemoveMessageFile(const StoreOps& ops, bool card, const WCHAR* path, DWORD oid,
                          DWORD indexKey) {
  bool deleted = false;
  // A phone file that is already gone only leaves its index record to clear.
  auto removeFile = [&] {
    deleted = DeleteFileW(path) != 0;
    return deleted || (!card && platform::IsMissing(path));
  };
  WCHAR index[MAX_PATH] = {};
  const bool gone = !card && ops.indexFile(indexKey, index)
                        ? IndexRemove(index, ops.indexLock, oid, indexKey, removeFile)
                        : removeFile();
  return deleted ? Removal::kDeleted : gone ? Removal::kWasGone : Removal::kFailed;
}

bool EvictFile(const StoreOps& ops, bool card, const WCHAR* path, DWORD oid, DWORD indexKey,
               DWORD folder, DWORD account) {
  const Removal removal = RemoveMessageFile(ops, card, path, oid, indexKey);
  // Only a file this step deleted was evicted by it.
  if (removal == Removal::kDeleted) NoteEviction(card, folder, oid, account);
  // A card file already gone counts as evicted too.
  const bool gone = removal != Removal::kFailed || (card && platform::IsMissing(path));
  if (!gone) writeNote.evictionFailed = true;
  return gone;
}

bool Evict(const StoreOps& ops, bool card, DWORD folder, DWORD oid) {
  WCHAR path[MAX_PATH] = {};
  return !ops.getFilePath(card, oid, folder, path) ||
         EvictFile(ops, card, path, oid, folder, folder, 0);
}

bool EmptyDir(const std::u16string& dir, const std::u16string& pattern, bool inbox,
              LPARAM storeMark) {
  const bool emptied = DeleteMatching(dir, pattern);
  if (!inbox) return emptied;
  HWND shell = GetPlatform().FindWindowW(kShellWindow, nullptr);
  if (shell != nullptr) GetPlatform().PostMessageW(shell, kInboxEmptiedNotice, 0, storeMark);
  return emptied;
}

bool RebuildIndex(const StoreOps& ops, const std::vector<DWORD>& folders,
                  const std::function<void(DWORD count)>& onListed,
                  const std::function<void()>& onRead) {
  WCHAR index[MAX_PATH] = {};
  if (folders.size() == 0 || !ops.indexFile(*folders.begin(), index)) return true;
  const ReadWatch watch;
  std::vector<IndexRecord> records;
  for (DWORD folder : folders) {
    CMsgList list;
    const DWORD count = ops.getMessageList(false, folder, list);
    if (onListed) onListed(count);
    for (long i = 0; i < list.GetSize(); ++i) {
      ScopedMsgProps record;
      ops.quickRead(false, folder, list[i].dwOid, record.get());
      PlaceRecord(records, {folder, list[i].dwOid, record->ftIndexTime});
      if (record->bRead != 0 && onRead) onRead();
    }
  }
  return !watch.Missed() && IndexSet(index, ops.indexLock, records);
}

bool RebuildMissingIndexes(const StoreOps& ops, const FolderOrder& folders,
                           bool (*indexPath)(DWORD folder, WCHAR* path)) {
  bool all = true;
  for (DWORD folder : folders) {
    WCHAR index[MAX_PATH] = {};
    if (!indexPath(folder, index)) continue;
    // An existing index is trusted as it is.
    const platform::PathState state = platform::StateOf(index);
    if (state == platform::PathState::kMissing)
      all = RebuildIndex(ops, {folder}) && all;
    else
      all = state != platform::PathState::kUnknown && all;
  }
  return all;
}

}  // namespace msgstore

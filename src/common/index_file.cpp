// The per-folder index file: 16-byte records (folder, identifier, index
// time), newest first, rewritten whole on every change.
#include "common/index_file.h"

#include <algorithm>
#include <memory>

#include "common/field_codec.h"
#include "common/msg_file.h"
#include "common/named_lock.h"
#include "common/replace_file.h"
#include "common/scoped.h"
#include "common/whole_file.h"
#include "msgstore/platform.h"
#include "platform/path_state.h"

namespace msgstore {
namespace {

void EncodeRecord(uint8_t* p, const IndexRecord& r) {
  EncodeU32(p, r.folder);
  EncodeU32(p + 4, r.oid);
  EncodeU32(p + 8, r.time.dwLowDateTime);
  EncodeU32(p + 12, r.time.dwHighDateTime);
}

IndexRecord DecodeRecord(const uint8_t* p) {
  IndexRecord r;
  r.folder = DecodeU32(p);
  r.oid = DecodeU32(p + 4);
  r.time.dwLowDateTime = DecodeU32(p + 8);
  r.time.dwHighDateTime = DecodeU32(p + 12);
  return r;
}

}  // namespace

namespace {

thread_local unsigned long unreadIndexes = 0;

// What reading an index found.
enum class Loaded {
  kRecords,  // the records that the file holds
  kMissing,  // no file
  kNone,     // an empty file, or a directory: left as it is
  kFailed,   // a file that could not be read
};

Loaded LoadRecords(const WCHAR* indexPath, std::vector<IndexRecord>* records) {
  std::vector<uint8_t> image;
  const ReadResult result = ReadWholeFile(indexPath, 0, &image);
  if (result == ReadResult::kTooSmall) return Loaded::kNone;
  if (result == ReadResult::kOpenFailed) {
    const platform::PathState state = platform::StateOf(indexPath);
    if (state == platform::PathState::kMissing) return Loaded::kMissing;
    if (state == platform::PathState::kDirectory) return Loaded::kNone;
  }
  if (result != ReadResult::kOk) {
    ++unreadIndexes;
    return Loaded::kFailed;
  }
  // Bytes after the last whole record are ignored.
  size_t n = image.size() / kIndexRecordSize;
  records->clear();
  records->reserve(n);
  for (size_t i = 0; i < n; ++i) records->push_back(DecodeRecord(&image[i * kIndexRecordSize]));
  return Loaded::kRecords;
}

std::vector<IndexRecord>::iterator Find(std::vector<IndexRecord>& records, DWORD oid,
                                        DWORD folder) {
  return std::find_if(records.begin(), records.end(),
                      [&](const IndexRecord& r) { return r.oid == oid && r.folder == folder; });
}

// An index never stays behind empty.
bool Store(const WCHAR* indexPath, const std::vector<IndexRecord>& records) {
  return records.empty() ? DeleteFileW(indexPath) != 0 : WriteIndex(indexPath, records);
}

}  // namespace

void PlaceRecord(std::vector<IndexRecord>& records, const IndexRecord& record) {
  // The new record goes before the first one that is not later than it, so
  // among equal times the newest addition stands first.
  auto at = records.begin();
  while (at != records.end() && CompareFileTime(&at->time, &record.time) > 0) ++at;
  records.insert(at, record);
}

bool ReadIndex(const WCHAR* indexPath, std::vector<IndexRecord>* records) {
  return LoadRecords(indexPath, records) == Loaded::kRecords;
}

unsigned long IndexReadFailures() { return unreadIndexes; }

bool WriteIndex(const WCHAR* indexPath, const std::vector<IndexRecord>& records) {
  ReplacingStream stream(indexPath);
  if (!stream) return false;
  if (!records.empty()) {
    std::vector<uint8_t> image(records.size() * kIndexRecordSize);
    for (size_t i = 0; i < records.size(); ++i)
      EncodeRecord(&image[i * kIndexRecordSize], records[i]);
    MsgFile_Write(image.data(), static_cast<DWORD>(kIndexRecordSize),
                  static_cast<DWORD>(records.size()), stream.get());
  }
  return stream.Commit();
}

bool IndexInsert(const WCHAR* indexPath, const IndexLock& lock, const IndexRecord& record) {
  NamedLock held(lock.mutexName, lock.yield);
  std::vector<IndexRecord> records;
  switch (LoadRecords(indexPath, &records)) {
    case Loaded::kNone:
      return true;
    case Loaded::kFailed:
      return false;
    case Loaded::kMissing:
    case Loaded::kRecords:
      break;
  }
  PlaceRecord(records, record);
  return WriteIndex(indexPath, records);
}

bool IndexRemove(const WCHAR* indexPath, const IndexLock& lock, DWORD oid, DWORD folder,
                 const std::function<bool()>& step) {
  NamedLock held(lock.mutexName, lock.yield);
  std::vector<IndexRecord> records;
  const Loaded loaded = LoadRecords(indexPath, &records);
  if (loaded == Loaded::kFailed) return false;
  const auto at = Find(records, oid, folder);
  if (loaded != Loaded::kRecords || at == records.end()) return !step || step();
  const std::vector<IndexRecord> old = records;
  records.erase(at);
  if (!Store(indexPath, records)) return false;
  if (!step || step()) return true;
  WriteIndex(indexPath, old);
  return false;
}

bool IndexRemoveSome(
    const WCHAR* indexPath, const IndexLock& lock,
    const std::function<std::vector<size_t>(const std::vector<IndexRecord>&)>& pick) {
  NamedLock held(lock.mutexName, lock.yield);
  std::vector<IndexRecord> records;
  const Loaded loaded = LoadRecords(indexPath, &records);
  if (loaded == Loaded::kFailed) return false;
  if (loaded != Loaded::kRecords) return true;
  std::vector<bool> gone(records.size(), false);
  size_t removed = 0;
  for (size_t i : pick(records))
    if (i < records.size() && !gone[i]) gone[i] = true, ++removed;
  if (removed == 0) return true;
  std::vector<IndexRecord> kept;
  kept.reserve(records.size() - removed);
  for (size_t i = 0; i < records.size(); ++i)
    if (!gone[i]) kept.push_back(records[i]);
  return Store(indexPath, kept);
}

bool IndexSet(const WCHAR* indexPath, const IndexLock& lock,
              const std::vector<IndexRecord>& records) {
  NamedLock held(lock.mutexName, lock.yield);
  if (!records.empty()) return WriteIndex(indexPath, records);
  return DeleteFileW(indexPath) || platform::IsMissing(indexPath);
}

namespace {

thread_local DeferredIndexes* deferred = nullptr;

// The replacements of records, one after the other, in one write of the file.
bool ReplaceRecords(const WCHAR* indexPath, const IndexLock& lock,
                    const std::vector<IndexRecord>& replacements) {
  NamedLock held(lock.mutexName, lock.yield);
  std::vector<IndexRecord> records;
  switch (LoadRecords(indexPath, &records)) {
    case Loaded::kNone:
      return true;
    case Loaded::kFailed:
      return false;
    case Loaded::kMissing:
    case Loaded::kRecords:
      break;
  }
  for (const IndexRecord& record : replacements) {
    const auto at = Find(records, record.oid, record.folder);
    if (at != records.end()) records.erase(at);
    PlaceRecord(records, record);
  }
  return WriteIndex(indexPath, records);
}

}  // namespace

DeferredIndexes::DeferredIndexes() : outer_(deferred) { deferred = this; }

DeferredIndexes::~DeferredIndexes() { deferred = outer_; }

bool DeferredIndexes::Note(const WCHAR* indexPath, const IndexLock& lock,
                           const IndexRecord& record) {
  if (deferred == nullptr) return false;
  std::vector<Pending>& pending = deferred->pending_;
  auto it = std::find_if(pending.begin(), pending.end(),
                         [&](const Pending& p) { return p.path == indexPath; });
  if (it == pending.end()) it = pending.insert(pending.end(), {indexPath, lock, {}});
  it->records.push_back(record);
  return true;
}

bool DeferredIndexes::Flush(std::u16string* failed) {
  while (!pending_.empty()) {
    const Pending& p = pending_.front();
    if (!ReplaceRecords(p.path.c_str(), p.lock, p.records)) {
      if (failed != nullptr) *failed = p.path;
      return false;
    }
    pending_.erase(pending_.begin());
  }
  return true;
}

bool IndexReplace(const WCHAR* indexPath, const IndexLock& lock, const IndexRecord& record) {
  if (DeferredIndexes::Note(indexPath, lock, record)) return true;
  return ReplaceRecords(indexPath, lock, {record});
}

DWORD IndexQuickList(const WCHAR* indexPath, const IndexLock& lock,
                     CArray<tagOidArray, tagOidArray>& list) {
  NamedLock held(lock.mutexName, lock.yield);
  std::vector<IndexRecord> records;
  if (!ReadIndex(indexPath, &records)) return 0;
  list.RemoveAll();
  for (const IndexRecord& r : records) {
    tagOidArray entry{};
    entry.bMemoryCard = 0;
    entry.byFolder = static_cast<BYTE>(r.folder & 0xFF);
    entry.dwOid = r.oid;
    list.Add(entry);
  }
  return static_cast<DWORD>(list.GetSize());
}

}  // namespace msgstore

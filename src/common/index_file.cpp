// The per-folder index file: 16-byte records (folder, identifier, index
// time), newest first, rewritten whole on every change.
#include "common/index_file.h"

#include <memory>

#include "common/field_codec.h"
#include "common/msg_file.h"
#include "common/named_lock.h"
#include "common/replace_file.h"
#include "common/scoped.h"
#include "common/whole_file.h"
#include "msgstore/platform.h"

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

ReadResult ReadRecords(const WCHAR* indexPath, std::vector<IndexRecord>* records) {
  std::vector<uint8_t> image;
  const ReadResult result = ReadWholeFile(indexPath, 0, &image);
  if (result != ReadResult::kOk) return result;
  // Bytes after the last whole record are ignored.
  size_t n = image.size() / kIndexRecordSize;
  records->clear();
  records->reserve(n);
  for (size_t i = 0; i < n; ++i) records->push_back(DecodeRecord(&image[i * kIndexRecordSize]));
  return ReadResult::kOk;
}

}  // namespace

bool ReadIndex(const WCHAR* indexPath, std::vector<IndexRecord>* records) {
  return ReadRecords(indexPath, records) == ReadResult::kOk;
}

namespace {

thread_local unsigned long failedIndexWrites = 0;

// Counts a change that did not reach its file.
bool Counted(bool written) {
  if (!written) ++failedIndexWrites;
  return written;
}

}  // namespace

unsigned long IndexWriteFailures() { return failedIndexWrites; }

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
  std::vector<IndexRecord> old;
  const ReadResult read = ReadRecords(indexPath, &old);
  // A folder without an index gets one; an index that is there but empty or
  // unreadable is left alone.
  if (read == ReadResult::kOpenFailed && GetFileAttributesW(indexPath) == INVALID_FILE_ATTRIBUTES)
    return Counted(WriteIndex(indexPath, {record}));
  if (read != ReadResult::kOk) return true;
  std::vector<IndexRecord> updated;
  updated.reserve(old.size() + 1);
  bool placed = false;
  for (const IndexRecord& r : old) {
    // The new record goes before the first one that is not later than it, so
    // among equal times the newest addition stands first.
    if (!placed && CompareFileTime(&r.time, &record.time) <= 0) {
      updated.push_back(record);
      placed = true;
    }
    updated.push_back(r);
  }
  if (!placed) updated.push_back(record);
  return Counted(WriteIndex(indexPath, updated));
}

bool IndexRemove(const WCHAR* indexPath, const IndexLock& lock, DWORD oid, DWORD folder) {
  NamedLock held(lock.mutexName, lock.yield);
  std::vector<IndexRecord> records;
  if (!ReadIndex(indexPath, &records)) return true;
  if (records.size() == 1) {
    // An index never stays behind empty.
    if (records[0].oid == oid && records[0].folder == folder)
      return Counted(DeleteFileW(indexPath) != 0);
    return true;
  }
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].oid == oid && records[i].folder == folder) {
      records.erase(records.begin() + static_cast<std::ptrdiff_t>(i));
      return Counted(WriteIndex(indexPath, records));
    }
  }
  return true;
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

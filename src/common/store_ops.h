// The steps of the write path, the quick read's bookkeeping and the index
// rebuild that every store takes alike, over a table of the store's own
// operations.
#ifndef MSGSTORE_COMMON_STORE_OPS_H_
#define MSGSTORE_COMMON_STORE_OPS_H_

#include <functional>
#include <string>

#include "msgstore/stores.h"
#include "msgstore/types.h"

namespace msgstore {

struct StoreOps {
  int (*getFilePath)(bool card, DWORD oid, DWORD folder, WCHAR* path);
  DWORD (*getMessageList)(bool card, DWORD folder, CMsgList& list);
  int (*quickRead)(bool card, DWORD folder, DWORD oid, tagMSGPROPS* props);
  void (*addToIndex)(DWORD oid, DWORD folder, FILETIME time);
  void (*deleteFromIndex)(DWORD oid, DWORD folder);
  DWORD (*nextId)();
};

// What the write path of this thread did last, for callers that report it:
// each step notes its part where it happens (the eviction as it deletes the
// file, the message once it stands written and indexed), so that another
// process writing at the same time cannot blur what this one did. Cleared
// by the caller before a write; a write makes at most one eviction.
struct WriteNote {
  enum Refusal { kNone, kFolderFull, kNoSpace, kBothFull };
  bool written = false;  // a message stands written: writtenCard, writtenFolder, writtenOid
  bool writtenCard = false;
  DWORD writtenFolder = 0;
  DWORD writtenOid = 0;
  bool evicted = false;  // a message file was deleted to make room
  bool evictedCard = false;
  DWORD evictedFolder = 0;
  DWORD evictedOid = 0;
  DWORD evictedAccount = 0;     // the account an INBOX file was named by
  bool evictionFailed = false;  // the oldest message would not go: the write was given up
  Refusal refusal = kNone;
  Refusal switchedFor = kNone;  // why the message went to the other storage
};
WriteNote& ThisThreadWriteNote();
void ClearWriteNote();
void NoteEviction(bool card, DWORD folder, DWORD oid, DWORD account);

// The oldest message of a folder found without its index: the folder is
// listed and each message quick-read; the earliest ftIndexTime wins, the
// first listed among equals. Unreadable messages are skipped. *count gets
// the number of files. The identifier is the listed one, or with idFromFile
// the one the file holds. 0 when no message could be read.
DWORD OldestByScan(const StoreOps& ops, bool card, DWORD folder, DWORD* count, bool idFromFile);

// The oldest of an index list (newest first): its last entry, 0 when empty.
DWORD OldestOfIndexList(const CMsgList& list, DWORD* count);

// Deletes the file of oid; in phone memory its index record goes too. False
// when the file is still there (a record left naming a file that has gone
// is dropped by the next quick read of it).
bool Evict(const StoreOps& ops, bool card, DWORD folder, DWORD oid);

// Picks the identifier (existing, or drawn from the counter) into dwOid and
// builds the file path with pathOf (false when the folder is refused). A new
// message on the card draws identifiers until its name is free. False when
// no path can be built or the counter cannot be advanced.
using PathOf = std::function<bool(DWORD oid, WCHAR* path)>;
bool ChooseName(DWORD (*nextId)(), const PathOf& pathOf, bool card, tagMSGPROPS* props,
                DWORD existing, WCHAR* path);
// The same with the store's file path of the message's own folder.
bool ChooseName(const StoreOps& ops, bool card, tagMSGPROPS* props, DWORD existing, WCHAR* path);

// After a write in phone memory: a rewrite's old record goes, the message's
// record is added under indexKey at the place its time gives it. The card
// has no index. False when the index could not be brought in step. A new
// message's file (path, when given) is then taken back, so that success
// means file and record are both there and a failed write leaves nothing;
// its identifier is not handed out again. A rewrite's file already holds the
// new content and is kept, nothing being lost: listed by its old record when
// that could not be removed, or by no record until the store's refresh
// indexes its folder again.
bool IndexWritten(const StoreOps& ops, bool card, DWORD existing, DWORD indexKey,
                  const tagMSGPROPS& props, const WCHAR* path = nullptr);

// After a move whose source file would not go: a phone source that is still
// there at path gets back the index record (oid, indexKey, time) that the
// move took from it.
void RestoreSourceRecord(const StoreOps& ops, bool card, const WCHAR* path, DWORD oid,
                         DWORD indexKey, FILETIME time);

// Quick-reads each listed phone message of folder and adds it to its index
// (time 0 when it cannot be read); onRead is called for each message whose
// bRead is set.
// Deletes a message's file. In phone memory its index record goes too, also
// when the file had already gone.
enum class Removal {
  kNoPath,   // the storage refuses the folder
  kFailed,   // the file is still there
  kDeleted,  // the file was deleted
  kWasGone,  // in phone memory: there was no file to delete
};
Removal RemoveMessage(const StoreOps& ops, bool card, DWORD folder, DWORD oid);
// The same for a message file already named, whose index record is
// (oid, indexKey).
Removal RemoveMessageFile(const StoreOps& ops, bool card, const WCHAR* path, DWORD oid,
                          DWORD indexKey);

// Deletes every file matching pattern in dir, going on past failures; the
// index stays behind. False when a file could not be deleted or the folder
// could not be read. An emptied INBOX is told to the phone shell: 0xC44 with
// wParam 0 and lParam storeMark, posted to the window of class "WCE_APSHELL"
// when there is one.
bool EmptyDir(const std::u16string& dir, const std::u16string& pattern, bool inbox,
              LPARAM storeMark);
constexpr const WCHAR* kShellWindow = u"WCE_APSHELL";
constexpr UINT kInboxEmptiedNotice = 0xC44;
constexpr LPARAM kEmsNoticeMark = 0;  // the storeMark of each store that sends the notice
constexpr LPARAM kMmsNoticeMark = 1;

// False when a record could not be written.
bool IndexListed(const StoreOps& ops, const CMsgList& list, DWORD folder,
                 const std::function<void()>& onRead);

// The refresh of the stores that trust an existing index: for each folder
// whose phone index file (indexPath) is missing, lists the phone folder and
// indexes every message it holds (IndexListed). False when an index could
// not be written.
bool RebuildMissingIndexes(const StoreOps& ops, const FolderOrder& folders,
                           bool (*indexPath)(DWORD folder, WCHAR* path));

// A message read for a change or a count: the shared record and the store's
// own, both released with the store's FreeMsgProps on the way out.
template <class Store, void (*Free)(tagMSGPROPS*, Store*)>
class MessagePair {
 public:
  MessagePair() : msg_{}, store_{} {}
  ~MessagePair() { Free(&msg_, &store_); }
  MessagePair(const MessagePair&) = delete;
  MessagePair& operator=(const MessagePair&) = delete;

  tagMSGPROPS* msg() { return &msg_; }
  Store* store() { return &store_; }
  tagMSGPROPS* operator->() { return &msg_; }

 private:
  tagMSGPROPS msg_;
  Store store_;
};

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_STORE_OPS_H_

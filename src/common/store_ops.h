// The steps of the write path, the quick read's bookkeeping and the index
// rebuild that every store takes alike, over a table of the store's own
// operations.
#ifndef MSGSTORE_COMMON_STORE_OPS_H_
#define MSGSTORE_COMMON_STORE_OPS_H_

#include <functional>
#include <string>
#include <vector>

#include "common/dir_scan.h"
#include "common/index_file.h"
#include "msgstore/stores.h"
#include "msgstore/types.h"

namespace msgstore {

struct StoreOps {
  int (*getFilePath)(bool card, DWORD oid, DWORD folder, WCHAR* path);
  DWORD (*getMessageList)(bool card, DWORD folder, CMsgList& list);
  int (*quickRead)(bool card, DWORD folder, DWORD oid, tagMSGPROPS* props);
  // The phone index file that lists the messages of key (a folder, or an
  // account for the e-mail INBOX); false when key keeps no index.
  bool (*indexFile)(DWORD key, WCHAR* path);
  IndexLock indexLock;
  DWORD (*nextId)();
};

// Tells whether an index or a folder that is there could not be read since
// it was made: a folder count taken meanwhile is then not known, and a limit
// that stands on it must not take the folder for one with room.
class ReadWatch {
 public:
  ReadWatch() : at_(Now()) {}
  bool Missed() const { return Now() != at_; }

 private:
  static unsigned long Now() { return IndexReadFailures() + ListingFailures(); }
  unsigned long at_;
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

// Picks the identifier (existing, or drawn from the counter) into dwOid and
// builds the file path with pathOf (false when the folder is refused). A new
// message on the card draws identifiers until its name is free. False when
// no path can be built, the counter cannot be advanced or a name cannot be
// told free.
using PathOf = std::function<bool(DWORD oid, WCHAR* path)>;
bool ChooseName(DWORD (*nextId)(), const PathOf& pathOf, bool card, tagMSGPROPS* props,
                DWORD existing, WCHAR* path);
// The same with the store's file path of the message's own folder.
bool ChooseName(const StoreOps& ops, bool card, tagMSGPROPS* props, DWORD existing, WCHAR* path);

// After a write in phone memory: the message's record goes into the index of
// indexKey at the place its time gives it; a rewrite's old record is
// replaced in the same write of the index. The card has no index. A new
// message whose record could not be written is taken back (its file at
// path, when given) and false returned, so that success means file and
// record are both there and a failed write leaves nothing; its identifier
// is not handed out again. A rewrite's file already holds the new content,
// which stands: when the index cannot be written its old record still lists
// the message (at the place of the message's old time).
bool IndexWritten(const StoreOps& ops, bool card, DWORD existing, DWORD indexKey,
                  const tagMSGPROPS& props, const WCHAR* path = nullptr);

// Deletes a message's file. In phone memory its index record goes first,
// also when the file had already gone, and comes back when the file stays,
// so that the index lists the message while it is there.
enum class Removal {
  kNoPath,   // the storage refuses the folder
  kFailed,   // the file is still there (or its record could not be removed)
  kDeleted,  // the file was deleted
  kWasGone,  // in phone memory: there was no file to delete
};
Removal RemoveMessage(const StoreOps& ops, bool card, DWORD folder, DWORD oid);
// The same for a message file already named, whose index record is
// (oid, indexKey).
Removal RemoveMessageFile(const StoreOps& ops, bool card, const WCHAR* path, DWORD oid,
                          DWORD indexKey);

// Evicts the oldest message of a full folder (RemoveMessageFile); a file
// already gone counts as evicted. False when its file stays (the folder has
// no room then).
bool EvictFile(const StoreOps& ops, bool card, const WCHAR* path, DWORD oid, DWORD indexKey,
               DWORD folder, DWORD account);
// The same by folder and identifier; a folder that has no file path evicts
// nothing and has room.
bool Evict(const StoreOps& ops, bool card, DWORD folder, DWORD oid);

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

// Makes the phone index of folders (a folder and those indexed with it)
// again from their files, in one write of the index: each message listed is
// quick-read (time 0 when it cannot be read) and placed as adding it would
// place it. onListed (when given) gets each folder's number of files before
// its messages are read; onRead is called for each message whose bRead is
// set. False, with the index as it was, when a folder could not be listed
// whole or the index not written.
bool RebuildIndex(const StoreOps& ops, const std::vector<DWORD>& folders,
                  const std::function<void(DWORD count)>& onListed = nullptr,
                  const std::function<void()>& onRead = nullptr);

// The refresh of the stores that trust an existing index: each folder whose
// phone index file (indexPath) is missing gets it made (RebuildIndex).
// False when an index could not be made or not be looked at.
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

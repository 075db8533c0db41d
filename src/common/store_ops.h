// The steps of the write path, the quick read's bookkeeping and the index
// rebuild that every store takes alike, over a table of the store's own
// operations.
#ifndef MSGSTORE_COMMON_STORE_OPS_H_
#define MSGSTORE_COMMON_STORE_OPS_H_

#include <functional>
#include <string>

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

// The oldest message of a folder found without its index: the folder is
// listed and each message quick-read; the earliest ftIndexTime wins, the
// first listed among equals. Unreadable messages are skipped. *count gets
// the number of files. The identifier is the listed one, or with idFromFile
// the one the file holds. 0 when no message could be read.
DWORD OldestByScan(const StoreOps& ops, bool card, DWORD folder, DWORD* count, bool idFromFile);

// The oldest of an index list (newest first): its last entry, 0 when empty.
DWORD OldestOfIndexList(const CMsgList& list, DWORD* count);

// Deletes the file of oid (failures ignored); in phone memory its index
// record goes too.
void Evict(const StoreOps& ops, bool card, DWORD folder, DWORD oid);

// Picks the identifier (existing, or drawn from the counter) into dwOid and
// builds the file path. A new message on the card draws identifiers until
// its name is free. False when no path can be built.
bool ChooseName(const StoreOps& ops, bool card, tagMSGPROPS* props, DWORD existing, WCHAR* path);

// After a write in phone memory: a rewrite's old record goes, the message's
// record is added at the place its time gives it. The card has no index.
void IndexWritten(const StoreOps& ops, bool card, DWORD existing, const tagMSGPROPS& props);

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

// Deletes every file matching pattern in dir, failures ignored; the index
// stays behind. An emptied INBOX is told to the phone shell: 0xC44 with
// wParam 0 and lParam storeMark, posted to the window of class
// "WCE_APSHELL" when there is one.
void EmptyDir(const std::u16string& dir, const std::u16string& pattern, bool inbox,
              LPARAM storeMark);

void IndexListed(const StoreOps& ops, const CMsgList& list, DWORD folder,
                 const std::function<void()>& onRead);

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_STORE_OPS_H_

// What the device API's maintenance reads of a store below its operations:
// the message files of a folder by name, the account files and counter.
#ifndef MSGSTORE_API_FOLDER_FILES_H_
#define MSGSTORE_API_FOLDER_FILES_H_

#include <string>
#include <vector>

#include "msgstore/device.h"
#include "msgstore/stores.h"

namespace msgstore {
namespace api {

// A result of type R that failed with status, refusal and error.
template <class R>
R Fail(Status status, Refusal refusal, const std::string& error) {
  R r;
  r.status = status;
  r.refusal = refusal;
  r.error = error;
  return r;
}

const char* StorageName(bool card);  // "phone memory", "memory card"
bool CardIn();                       // the memory card is inserted
// "inbox", or the number of a folder the store does not have.
std::string FolderName(const StoreDescription& s, DWORD folder);
// "phone inbox", "card spam"
std::string Where(const StoreDescription& s, bool card, DWORD folder);
// "message 5 in phone inbox"
std::string What(const StoreDescription& s, const Location& at);
bool OnStorage(const FolderDescription& f, bool card);
bool IsDirectory(const std::u16string& path);
// The directory of the folder's message files; empty when the storage has
// none. A folder reached by file path only has the directory of its files.
std::u16string FolderDir(const StoreDescription& s, bool card, DWORD folder);
// Whether the store names a file for messages of the folder: not the
// e-mail store's none folder, whose messages are read by their place.
bool NamesFiles(const StoreDescription& s, bool card, DWORD folder, DWORD account);
// The identifier a name gives ("5", "-5" for 4294967291) as the store writes
// it; 0 for any other name.
DWORD IdOfName(const std::u16string& stem);

// A message file of a folder directory ("5.sms", "805306371_5.email").
struct FolderEntry {
  std::string name;
  DWORD attributes;
  DWORD size;
  DWORD id;       // 0 when the name is not one the store gives a message
  DWORD account;  // in a per-account folder, the account the name gives
};
// The folder's message files, ascending by identifier, then name.
std::vector<FolderEntry> FolderEntries(const StoreDescription& s, bool card, DWORD folder);

// The phone index file of a folder that has one of its own (of that
// account's in a per-account folder), as a device path.
std::u16string IndexPath(const StoreDescription& s, DWORD folder, DWORD account);

// The accounts that name message files of the per-account folder (phone and,
// when inserted, card) or its index files, ascending.
std::vector<DWORD> AccountsOnDevice(const StoreDescription& s, DWORD folder);

// Makes the store's tree on that storage, as its CreateDir operation does.
void MakeTree(StoreKind store, bool card);

// Whether the message's file can be opened for reading.
bool Openable(const StoreDescription& s, const Location& at);
// Whether the message's file is there (a file, not a directory), by one look.
bool IsFile(const StoreDescription& s, const Location& at);

// The counter file's value; false when it is missing or not 4 bytes.
bool ReadCounterFile(const StoreDescription& s, DWORD* value);
// Sets the store's identifier counter to at least value, under its mutex.
bool RaiseCounter(const StoreDescription& s, DWORD value);
// The last component of a device path: "EmsDB.ini".
std::string FileName(const WCHAR* path);

// The bytes the account store saves for these accounts: a count, then per
// record four numbers and the text with its terminator.
DWORD DatabaseBytes(const std::vector<Account>& accounts);
// "the account database is damaged (46 bytes, of which the account store
// reads 44)", the file's name (and a space) after "database" when given.
std::string DamagedDatabase(const std::string& name, DWORD bytes, const std::vector<Account>& read);
// The registry counter of account identifiers; 0 when it is not set.
DWORD AccountCounter();
// Sets it to at least value, under the account store's mutex for it.
bool RaiseAccountCounter(DWORD value);
// The registry name of the incoming-server account id: name, or the
// default one when empty; kInvalid when the store cannot keep it.
Result IncomingServerName(DWORD id, std::string* name);
// Names account id the incoming-server account under that registry name,
// whether or not the account database holds it.
Result WriteIncomingServer(DWORD id, const std::string& name);

}  // namespace api
}  // namespace msgstore

#endif  // MSGSTORE_API_FOLDER_FILES_H_

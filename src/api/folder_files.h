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

// The directory that holds the folder's message files on that storage, a
// device path; "" when the storage has none for it.
std::u16string FolderDir(const StoreDescription& s, bool card, DWORD folder);

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

// The accounts that name message files of the per-account folder (phone and,
// when inserted, card) or its index files, ascending.
std::vector<DWORD> AccountsOnDevice(const StoreDescription& s, DWORD folder);

// Makes the store's tree on that storage, as its CreateDir operation does.
void MakeTree(StoreKind store, bool card);
// Whether the store names a file for a message of the folder (and so can
// write one there).
bool NamesFiles(const StoreDescription& s, DWORD folder);

// Whether the message's file can be opened for reading.
bool Openable(const StoreDescription& s, const Location& at);

// The counter file's value; false when it is missing or not 4 bytes.
bool ReadCounterFile(const StoreDescription& s, DWORD* value);
// Sets the store's identifier counter to at least value, under its mutex.
bool RaiseCounter(const StoreDescription& s, DWORD value);
// The last component of a device path: "EmsDB.ini".
std::string FileName(const WCHAR* path);

// The bytes the account store saves for these accounts.
DWORD DatabaseBytes(const std::vector<Account>& accounts);
// The registry counter of account identifiers; 0 when it is not set.
DWORD AccountCounter();
// Sets it to at least value, under the account store's mutex for it.
bool RaiseAccountCounter(DWORD value);

}  // namespace api
}  // namespace msgstore

#endif  // MSGSTORE_API_FOLDER_FILES_H_

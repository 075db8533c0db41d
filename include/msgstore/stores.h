// What each store is: its folders and where they live, which index file
// lists them, its identifier counter, its mutexes and its limits. One
// constant description per store, and one of the account store; the stores'
// own modules, the tool, the tests, the fuzz harnesses and the benchmarks
// read these instead of keeping lists of their own.
#ifndef MSGSTORE_STORES_H_
#define MSGSTORE_STORES_H_

#include <cstddef>
#include <string>
#include <vector>

#include "msgstore/types.h"

namespace msgstore {

enum class StoreKind { kSms, kMms, kEmail };

// What the memory-card selector makes of a folder.
enum class OnCard {
  kOwn,        // a directory of its own on the card
  kNone,       // phone memory only: both paths refused on the card
  kPhoneFile,  // file paths name the phone file; the folder path is refused
  kPhone,      // the phone directory, for both paths
};

struct FolderDescription {
  DWORD number;        // EMS_FOLDER_INBOX, ...
  const char* name;    // "inbox", "sim-inbox": how the tool and the API name it
  const WCHAR* dir;    // u"INBOX": its directory under the store's roots
  OnCard card;         // what the card selector makes of it
  bool hasFolderPath;  // false: its messages are reached by file path only
  // The folder whose phone index file lists its messages (its own number, or
  // the folder it is indexed with); 0: none.
  DWORD indexFolder;
  bool rebuiltAlways;  // the store's refresh rewrites its index even when present
  bool sim;            // the phone's copies of SIM messages
  bool limited;        // holds at most the store's folderLimit per storage
  // When it counts as full, a STORAGE_AUTO write may use the other storage
  // (a folder that is not limited may count as full on the card's selector).
  bool switches;
  // Files "<account>_<id>", every account's side by side; the index of each
  // account is "<account>_<index name>" in the phone directory.
  bool perAccount;

  bool onCard() const { return card == OnCard::kOwn; }  // a directory on the card
  bool indexed() const { return indexFolder != 0; }
};

// Folder numbers in an order of the store's.
struct FolderOrder {
  const DWORD* numbers;
  size_t count;
  const DWORD* begin() const { return numbers; }
  const DWORD* end() const { return numbers + count; }
};
template <size_t N>
constexpr FolderOrder OrderOf(const DWORD (&numbers)[N]) {
  return {numbers, N};
}

struct StoreDescription {
  StoreKind kind;
  const char* name;                  // "sms": the word of the tool's commands
  const char* title;                 // "SMS/EMS store"
  const WCHAR* phoneRoot;            // u"\\DiskOnChip\\User\\MESSAGING\\EMS"
  const WCHAR* cardRoot;             // u"\\SD Card\\User\\MESSAGING\\EMS"
  const WCHAR* extension;            // u".sms"
  const WCHAR* messagePattern;       // u"*.sms": the message files of a directory
  const WCHAR* indexName;            // u"EmsIni"
  const WCHAR* counterFile;          // device path of the identifier counter
  const WCHAR* counterMutex;         // taken around the counter alone
  const WCHAR* fileMutex;            // taken around message files
  const WCHAR* indexMutex;           // taken around index files
  bool yields;                       // Sleep(0) around the file and index mutexes
  const WCHAR* countersMutex;        // taken around the handset's message counters; null: none
  DWORD folderLimit;                 // messages a limited folder holds per storage
  int cardUnusable;                  // card state bits that keep messages off the card
  DWORD firstAccountFolder;          // folder values from here on name an account; 0: none
  const FolderDescription* folders;  // in the order in which the tree is made
  size_t folderCount;
  FolderOrder shown;     // every folder, in the order the tool shows them
  FolderOrder searched;  // where a message is looked for by identifier, in order
  // The folders whose phone index files the store's refresh builds, in order.
  FolderOrder refreshed;

  const FolderDescription* begin() const { return folders; }
  const FolderDescription* end() const { return folders + folderCount; }
  // The folder of that number, or null.
  MSGSTORE_API const FolderDescription* Folder(DWORD number) const;
  // The folder of that name ("inbox", "sim-inbox"; case and '_' for '-' do
  // not matter), or null.
  MSGSTORE_API const FolderDescription* FolderNamed(const std::string& name) const;
  // Whether a folder of the store keeps messages per account.
  MSGSTORE_API bool HasAccounts() const;
  // The folder that keeps messages per account, or null.
  MSGSTORE_API const FolderDescription* AccountFolder() const;
  // The identifier counter's file name, without its directory: "EmsDB.ini".
  MSGSTORE_API std::string CounterFileName() const;
  // The folders with a phone index file of their own (an account's aside)
  // whose index the store's refresh rewrites even when present (always), or
  // else builds only where missing; by name, in the order of the folders.
  MSGSTORE_API std::vector<std::string> IndexesRefreshed(bool always) const;
};

// The account store of the e-mail store.
struct AccountStoreDescription {
  const WCHAR* database;       // device path of the account database
  const WCHAR* registryKey;    // key (under HKEY_LOCAL_MACHINE) of the account counter,
                               // and parent of each account's key
  const WCHAR* counterValue;   // its value name
  const WCHAR* counterMutex;   // held while the counter is advanced
  const WCHAR* idValue;        // value of an account's key: its identifier
  const WCHAR* incomingKey;    // key naming the incoming-server account
  const WCHAR* incomingValue;  // its value name
  DWORD firstId;               // the first identifier the counter hands out
  size_t textUnits;            // code units of an account's text that are kept
  DWORD nameBytes;             // bytes of the incoming-server account's name that are read
};

MSGSTORE_API const StoreDescription& SmsStore();
MSGSTORE_API const StoreDescription& MmsStore();
MSGSTORE_API const StoreDescription& EmailStore();
MSGSTORE_API const AccountStoreDescription& AccountStore();
// Every store, in the order sms, mms, e-mail.
MSGSTORE_API const std::vector<const StoreDescription*>& Stores();
MSGSTORE_API const StoreDescription& Describe(StoreKind kind);
// A store by name ("sms", "mms", "email"), or null.
MSGSTORE_API const StoreDescription* StoreNamed(const std::string& name);
// The card state bits that keep one store's messages or another's off the
// card: every store's cardUnusable together.
MSGSTORE_API int CardUnusable();

}  // namespace msgstore

#endif  // MSGSTORE_STORES_H_

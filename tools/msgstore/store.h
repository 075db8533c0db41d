// The stores as the tool sees them: the library's description of each store
// (its folders, indexes, counter and limits) with the store's operations, and
// what every command needs of a store through it: folder names, storages,
// finding a message, and a message record that releases itself.
#ifndef MSGSTORE_TOOL_STORE_H_
#define MSGSTORE_TOOL_STORE_H_

#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "msgstore/msgstore.h"
#include "msgstore/stores.h"

namespace tool {

// A platform handle, closed by Close when it goes.
template <BOOL (*Close)(HANDLE)>
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (valid()) Close(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// Global options of every command.
struct Context {
  std::string root;
  bool card = false;
  bool json = false;
};

// The device root: --root, else MSGSTORE_ROOT, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/msgstore/device. Made when missing and
// handed to the library before anything else.
void OpenDevice(Context* ctx);

class Message;
struct Store;

struct Location {
  bool card;
  DWORD folder;
  DWORD oid;
  DWORD account = 0;  // in a per-account folder: the account its file is named by
};

using msgstore::FolderDescription;

// A phone index file and the folders whose messages it lists. An account's
// index lists that account's messages of a per-account folder, in the file
// "<account>_<index file>".
struct Index {
  DWORD folder;
  std::vector<DWORD> members;
  bool rebuiltAlways;  // the store's refresh rewrites it even when it exists
  DWORD account = 0;
};

// A field of the record a store keeps beside tagMSGPROPS: shown by show,
// ls --json and export, set by an option of add.
struct ExtraField {
  enum Kind { kWord, kDword, kInt, kText };  // kInt: signed 32 bits
  const char* key;    // JSON key "mms_wvalue1"; label "mms wvalue1"; option --mms-wvalue1
  const char* field;  // its name in the store's record, for help: "wMmsValue1"
  Kind kind;
  size_t offset;               // in the store's record
  const char* help = nullptr;  // what the option means, when the field's name does not say
};

// What a write's storage value 2 tells.
enum class Refusal { kFullInbox, kNoSpace };

// The rows and JSON members that a store adds to the folder counts of
// "msgstore count"; computed before the folders are counted.
struct CountSummary {
  std::vector<std::vector<std::string>> rows;  // FOLDER, PHONE, CARD, TOTAL
  nlohmann::ordered_json json = nlohmann::ordered_json::object();
  std::string note;
};

// What a write's or move's storage value kRefusedFull tells: the folder is
// full and the store may not choose the other storage, or (with --auto) is
// full on both storages.
constexpr int kRefusedFull = 3;

// The store's operations, with one signature for every store. Storage values
// are the tool's: in, STORAGE_AUTO or the storage asked for; out, 0 or 1 when
// the store chose the storage, 2 when it refused the message (see Refusal),
// kRefusedFull when it refused it for a full folder.
struct StoreOps {
  void (*free)(Message* m);
  int (*createDir)(bool card);
  int (*folderPath)(bool card, DWORD folder, WCHAR* path);
  int (*filePath)(const Location& at, WCHAR* path);
  // The whole message, or its record without the body.
  bool (*read)(const Location& at, bool withBody, Message* out);
  // A new message into m's folder; its identifier, 0 when not written.
  DWORD (*write)(bool card, Message* m, int* storage);
  // The identifier of the folder's oldest message; *count gets how many.
  DWORD (*oldest)(bool card, DWORD folder, DWORD* count);
  // *newOid gets the copy's identifier once it is written, also when the old
  // file then stays; true when the move is complete.
  bool (*move)(const Location& at, DWORD to, int* storage, DWORD* newOid);
  bool (*setRead)(const Location& at, bool read);
  bool (*setStatus)(const Location& at, WORD status);
  bool (*setReadReport)(const Location& at, int status);  // null: the store keeps none
  bool (*remove)(const Location& at);
  bool (*empty)(bool card, DWORD folder);
  bool (*emptyAccount)(bool card, DWORD folder, DWORD account);  // null without accounts
  DWORD (*count)(bool card, DWORD folder);
  void (*list)(bool card, DWORD folder, CMsgList& out);
  void (*indexList)(DWORD folder, CMsgList& out);
  void (*refresh)();
};

struct Store {
  Store(const msgstore::StoreDescription& description, Refusal refusal,
        std::vector<ExtraField> extras, StoreOps ops,
        CountSummary (*countSummary)(const Store& s, bool cardTree));

  const msgstore::StoreDescription& d;  // d.name: the word of the commands
  Refusal refusal;
  std::vector<Index> indexes;  // of the folders, from the description
  std::vector<ExtraField> extras;
  StoreOps ops;
  CountSummary (*countSummary)(const Store& s, bool cardTree);

  // What count, check, refresh and export take without a store: the first.
  bool IsDefault() const;
  // The folders in the order the tool shows them; the inbox first.
  std::vector<const FolderDescription*> Folders() const;
  DWORD Inbox() const { return *d.shown.begin(); }
  // Null for an identifier that names no folder.
  const FolderDescription* Folder(DWORD folder) const { return d.Folder(folder); }
  // Whether a full folder lets --auto use the other storage.
  bool Switches(DWORD folder) const;
  // Where a message is looked for by identifier: where the store looks, and
  // in phone memory then the folders reached by file name only.
  std::vector<DWORD> Searched(bool card) const;
  // The identifier counter's file name, "EmsDB.ini".
  std::string CounterFile() const;
  // "inbox", or the number for an identifier that names no folder.
  std::string FolderName(DWORD folder) const;
  // "inbox, draft, ..., none"
  std::string FolderNames() const;
  // A folder by name ("inbox", "sim-inbox"; case and '_' for '-' do not
  // matter) or number; Failure for anything else.
  DWORD ParseFolder(const std::string& text) const;
  std::string Where(bool card, DWORD folder) const;  // "phone inbox", "card spam"
  // "msgstore check --fix", with the store's name unless it is the default.
  std::string CommandLine(const std::string& command, const std::string& rest = "") const;
  // The index that lists the folder's messages, or null.
  const Index* IndexOf(DWORD folder) const;
  // Whether a folder's messages are named by account.
  bool ByAccount(DWORD folder) const {
    const FolderDescription* f = Folder(folder);
    return f != nullptr && f->perAccount;
  }
  // Whether the store names its files but cannot list, count or empty it.
  bool PathsOnly(DWORD folder) const {
    const FolderDescription* f = Folder(folder);
    return f != nullptr && !f->hasFolderPath;
  }
  bool HasAccounts() const { return d.HasAccounts(); }
};

// Whether the index has a file: not the files of a per-account folder that
// name no account.
inline bool HasIndexFile(const Store& s, const Index& index) {
  return index.account != 0 || !s.ByAccount(index.folder);
}

// Every index of the store: its folders' and, for a store with accounts, the
// accounts' indexes on the device.
std::vector<Index> Indexes(const Store& s);

// Account identifiers start here; below, the stores with accounts read the
// number as a folder.
DWORD FirstAccountId();

// Every store, in the order of the commands' help.
const std::vector<const Store*>& Stores();
const Store& Sms();
const Store& Mms();
const Store& Email();
// A store by name; the default store for ""; UsageError for anything else.
const Store& ParseStore(const std::string& name);

// A message record of a store, released by the store when it goes.
class Message {
 public:
  explicit Message(const Store& store);
  ~Message() { store_.ops.free(this); }
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;
  tagMSGPROPS* get() { return &props_; }
  const tagMSGPROPS& operator*() const { return props_; }
  const tagMSGPROPS* operator->() const { return &props_; }
  // The record the store keeps beside tagMSGPROPS.
  tagMMSMSGPROPS* mms() { return &part_.mms; }
  tagEMAILMSGPROPS* email() { return &part_.email; }
  const BYTE* part() const { return reinterpret_cast<const BYTE*>(&part_); }
  BYTE* part() { return reinterpret_cast<BYTE*>(&part_); }

 private:
  const Store& store_;
  tagMSGPROPS props_;
  union Part {
    tagMMSMSGPROPS mms;
    tagEMAILMSGPROPS email;
  } part_;
};

// Copies that a message record owns and its store releases with the record;
// null for an empty text and for no bytes, as the store reads them back.
WCHAR* OwnedText(const std::u16string& text);
BYTE* OwnedBytes(const std::vector<BYTE>& bytes);

// A message identifier, 1 to 4294967295; UsageError otherwise.
DWORD ParseMessageId(const std::string& text);

const char* StorageKey(bool card);   // "phone", "card"
const char* StorageName(bool card);  // "phone memory", "memory card"

bool CardInserted();
// Failure "no memory card is inserted" when it is not.
void RequireCard();
// Failure when the folder does not exist on that storage.
void RequireFolder(const Store& s, bool card, DWORD folder);
bool FolderOnStorage(const Store& s, bool card, DWORD folder);
// The folder's directory, a device path ("\DiskOnChip\User\..."); for a
// folder of file paths only, the directory of its files.
std::u16string FolderPath(const Store& s, bool card, DWORD folder);
// Failure when the folder's path exists but is not a directory.
void RequireIntactFolder(const Store& s, bool card, DWORD folder);
// Failure when the storage's message tree has not been made ("msgstore init")
// or the folder is not a directory.
void RequireTree(const Store& s, bool card, DWORD folder);
bool TreeMade(const Store& s, bool card);
// Failure when the store cannot list the folder (what for: "listed").
void RequireListable(const Store& s, DWORD folder, const std::string& what);

// What the platform finds at a device path; false when nothing is there.
bool FindPath(const std::u16string& path, WIN32_FIND_DATAW* data);

// A message file entry ("*.sms") of a folder directory.
struct FolderEntry {
  std::string name;  // "5.sms"
  DWORD attributes;
  DWORD size;
  DWORD oid;      // 0 when the name is not the one the store gives a message
  DWORD account;  // in a per-account folder, the account of "<account>_<id>"
};
std::vector<FolderEntry> FolderEntries(const Store& s, bool card, DWORD folder);
// "file abc.sms (not named by a message identifier)"
std::string OddName(const std::string& name);

// The identifier counter: the last identifier the store handed out.
struct IdCounter {
  bool present;
  bool sound;  // a file of exactly 4 bytes
  DWORD value;
  DWORD highest;  // the highest identifier in use on both storages
  bool Ok() const { return highest == 0 || (sound && value >= highest); }
  std::string State() const;
};
IdCounter ReadIdCounter(const Store& s);
// The counter's value alone; 0 when it is missing or damaged.
DWORD CounterValue(const Store& s);
// Sets the counter to the highest identifier in use; false when it cannot.
bool RepairIdCounter(const Store& s, const IdCounter& counter);
// Temporary files anywhere under the device root whose writer died before
// it put them in place, as device paths.
std::vector<std::u16string> StaleTempFiles();
// Failure when a new identifier would replace a stored message.
void RequireIdCounter(const Store& s);
// Failure when the card state keeps the store's messages off the card.
void RequireCardTakes(const Store& s, bool card);

// The identifiers of a folder's message files, ascending.
std::vector<DWORD> ListFolder(const Store& s, bool card, DWORD folder);
// The folder's messages, ascending by identifier, each with its account.
std::vector<Location> FolderMessages(const Store& s, bool card, DWORD folder);

// Every message of phone memory and, when inserted, of the memory card.
std::vector<Location> AllMessages(const Store& s);
// The folder that holds message oid on that storage; Failure when there is
// none.
Location Locate(const Store& s, bool card, DWORD oid);
// Reads the whole message; Failure when its file cannot be read.
void ReadWhole(const Store& s, const Location& at, bool withContent, Message* out);
// Reads the record without content and without touching any index.
bool ReadRecord(const Store& s, const Location& at, Message* out);
// Whether the message's file can be opened for reading.
bool Openable(const Store& s, const Location& at);
// Why a message cannot be read: "cannot be read (damaged file)" or "cannot
// be opened".
std::string ReadProblem(const Store& s, const Location& at);

// Subject, else the start of the text content.
std::string Summary(const tagMSGPROPS& props);
// Every field of the record and of the store's own record; content as
// base64 (and as text when it is UTF-16 text) when withContent.
nlohmann::ordered_json MessageJson(const Store& s, const Location& at, const Message& m,
                                   bool withContent);
// The store's own fields: "mms text" and the value as shown.
std::vector<std::pair<std::string, std::string>> ExtraRows(const Store& s, const Message& m);

}  // namespace tool

#endif  // MSGSTORE_TOOL_STORE_H_

// The message store as C++ values: a device root, its three stores and the
// account store, each operation returning what it did. It stands on the same
// internals as the handset's operations, which keep their own names and
// behaviour; nothing here needs tagMSGPROPS or calloc'ed strings.
//
//   std::unique_ptr<msgstore::Device> dev = msgstore::Device::Open("/path/to/root");
//   msgstore::Record r;
//   r.folder = EMS_FOLDER_INBOX, r.subject = u"hello";
//   msgstore::WriteResult w = dev->sms().Add(r, msgstore::Storage::kAuto);
//   if (!w) std::cerr << w.error << "\n";
//   else if (w.evicted) std::cout << "evicted " << w.evicted->id << "\n";
//   for (const msgstore::Location& at : dev->sms().List().messages) ...
//
// The device root is the process's (SetDeviceRoot): one Device at a time.
// Operations are safe against other threads and processes using the same
// root, as the handset's operations are, and what a result reports is what
// this call did, also while another process writes to the same folder.
#ifndef MSGSTORE_DEVICE_H_
#define MSGSTORE_DEVICE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "msgstore/email.h"  // the folder numbers of each store
#include "msgstore/ems.h"
#include "msgstore/mms.h"
#include "msgstore/stores.h"
#include "msgstore/types.h"

namespace msgstore {

// Where a message is.
struct Location {
  bool card = false;
  DWORD folder = 0;
  DWORD id = 0;
  DWORD account = 0;  // in a per-account folder, the account the file is named by
  bool operator==(const Location& o) const {
    return card == o.card && folder == o.folder && id == o.id && account == o.account;
  }
  bool operator!=(const Location& o) const { return !(*this == o); }
};

// A message: every field of the shared record and of the store's own record,
// owning its memory. Empty strings stand for the texts a store keeps none of
// (a message file keeps no difference between the two); a text holds no NUL.
struct Record {
  BOOL read = 0;  // 0 unread; any other value is read, and kept as the file holds it
  DWORD user1 = 0;
  std::u16string text1, text2;
  std::vector<uint8_t> content;
  FILETIME indexTime = {0, 0};  // orders the folder's index: the newest first
  FILETIME time = {0, 0};
  std::u16string to, text3, text4, subject;
  DWORD folder = 0;  // the folder the record names (a write stores it in this folder)
  WORD status = 0;
  DWORD id = 0;  // the identifier the record holds (a write sets it)
  DWORD user2 = 0;
  std::u16string msgId;
  WORD wordUser1 = 0, wordUser2 = 0;
  DWORD user3 = 0;
  struct Mms {  // tagMMSMSGPROPS
    WORD value1 = 0;
    std::u16string text;
    DWORD dwordValue1 = 0;
    WORD value2 = 0, quick1 = 0;
    DWORD dwordValue2 = 0;
    WORD value3 = 0, quick2 = 0;
    MSGSTORE_API bool operator==(const Mms& o) const;
  } mms;
  struct Email {  // tagEMAILMSGPROPS
    WORD quickValue = 0;
    DWORD data1 = 0;
    std::u16string text1, text2;
    int32_t readReportStatus = 0;
    DWORD accountId = 0;  // an inbox message's account; in spam, the inbox it goes back to
    DWORD data2 = 0;
    MSGSTORE_API bool operator==(const Email& o) const;
  } email;
  MSGSTORE_API bool operator==(const Record& o) const;
  bool operator!=(const Record& o) const { return !(*this == o); }
};

// The fields of Record, described once: the tool's export and import, the
// Python binding and the tests walk this table rather than list the fields.
struct RecordField {
  // What `at` points to: kBool a BOOL, kWord a WORD, kDword a DWORD, kInt32
  // an int32_t, kText a std::u16string, kBytes a std::vector<uint8_t>, kTime
  // a FILETIME.
  enum Type { kBool, kWord, kDword, kInt32, kText, kBytes, kTime };
  const char* key;  // "subject", "mms_text": the name the tool and the binding use
  Type type;
  // Which stores keep it: a bit per StoreKind (1 << int(kind)).
  unsigned stores;
  // Access to the field of a record.
  void* (*at)(Record& r);
  const void* (*atConst)(const Record& r);
  bool KeptBy(StoreKind kind) const { return (stores & (1u << static_cast<int>(kind))) != 0; }
  // The field of a record as the type `at` points to.
  template <class T>
  T& Value(Record& r) const {
    return *static_cast<T*>(at(r));
  }
  template <class T>
  const T& Value(const Record& r) const {
    return *static_cast<const T*>(atConst(r));
  }
  // A field of kBool, kWord, kDword or kInt32 as one number: its value,
  // setting it, and the least and the greatest value its type holds.
  MSGSTORE_API int64_t Number(const Record& r) const;
  MSGSTORE_API void SetNumber(Record& r, int64_t n) const;
  MSGSTORE_API int64_t Least() const;
  MSGSTORE_API int64_t Greatest() const;
};
// In the order the tool shows them: the record's identifier and folder, the
// shared fields, the store's own, the content.
MSGSTORE_API const std::vector<RecordField>& RecordFields();
// The field of that key, or null.
MSGSTORE_API const RecordField* RecordFieldNamed(const std::string& key);
// The fields the store keeps, in the order of RecordFields().
MSGSTORE_API const std::vector<const RecordField*>& RecordFieldsOf(StoreKind kind);

// Where a write may put the message.
enum class Storage {
  kPhone,         // phone memory
  kCard,          // the memory card
  kAuto,          // phone memory, or the card when the store finds the phone folder full
  kAutoFromCard,  // the card, or phone memory when the store finds the card folder full
};

enum class Status {
  kOk,
  kNotFound,  // no such message, folder, account or device tree
  kRefused,   // the store declined it: see Refusal
  kFailed,    // the file system failed: see error
};

enum class Refusal {
  kNone,
  kFolderFull,   // the folder is full and the store may not use the other storage
  kNoSpace,      // the volume has no room for the content
  kBothFull,     // full on both storages
  kNoCard,       // the memory card is not inserted or cannot take messages now
  kNotInFolder,  // the folder does not exist on that storage
  kInvalid,      // the store does not take this (folder, field, identifier, name)
};

struct Result {
  Status status = Status::kOk;
  Refusal refusal = Refusal::kNone;
  std::string error;  // one line, in the words the tool prints; empty on success
  explicit operator bool() const { return status == Status::kOk; }
};

// What a write, rewrite or move did. On failure, stored names a message that
// the call left written all the same (a move whose old file would not go),
// and evicted an eviction it made before it failed.
struct WriteResult : Result {
  std::optional<Location> stored;   // where the message now is, its identifier
  bool otherStorage = false;        // the store used the other storage than asked
  std::optional<Location> evicted;  // the message the store deleted to make room
  // Why the store used the other storage: kFolderFull or kNoSpace.
  Refusal switchedFor = Refusal::kNone;
};

struct ReadResult : Result {
  Record record;
  bool damaged = false;  // the file opens but holds no whole message
};

// A file of a folder that the store's file pattern matches but whose name
// gives no message identifier ("abc.sms", "007.sms").
struct StrayFile {
  Location at;  // its storage, folder and account; id 0
  std::string name;
};

struct ListResult : Result {
  std::vector<Location> messages;  // ascending by storage (phone first), folder, identifier
  std::vector<StrayFile> strays;   // by storage, folder and name
};

// The records of a phone index file, in its order (the newest first).
struct IndexResult : Result {
  std::vector<Location> records;  // each record's folder and identifier, and the index's account
};

struct EmptyResult : Result {
  size_t deleted = 0;  // message files deleted
};

struct CountResult : Result {
  size_t messages = 0;    // message files
  size_t unread = 0;      // of those that could be read, the unread
  size_t unreadable = 0;  // that could not be read
};

struct Account {
  DWORD id = 0;
  DWORD folder = 0;
  DWORD data = 0;
  WORD data1 = 0, data2 = 0;
  std::u16string text;  // at most 255 code units
  bool operator==(const Account& o) const {
    return id == o.id && folder == o.folder && data == o.data && data1 == o.data1 &&
           data2 == o.data2 && text == o.text;
  }
  bool operator!=(const Account& o) const { return !(*this == o); }
};

struct AccountResult : Result {
  Account account;
};

struct AccountListResult : Result {
  std::vector<Account> accounts;
};

// The account database as its file holds it, and the registry counter of
// account identifiers: what a backup of the account store keeps.
struct AccountDatabase : Result {
  bool present = false;           // the database file exists
  DWORD bytes = 0;                // its size
  std::optional<DWORD> counter;   // the last account identifier handed out; none when unset
  std::vector<Account> accounts;  // in the order the file keeps them
  // Whether the store reads every byte of the file (false: accounts it cannot
  // reach; a file it cannot read as one of no accounts), and if not, why.
  bool whole = true;
  std::string problem;
};

// A phone message's place in the phone index that lists it, 0 first.
struct IndexPlace {
  Location at;
  size_t position = 0;
};

class Device;

// One store of a device.
class MSGSTORE_API Store {
 public:
  const StoreDescription& description() const { return *description_; }

  // Messages of one storage (or phone memory and, when inserted, the card)
  // and one folder (or every folder on it), read from the folders' files
  // without changing anything.
  ListResult List(std::optional<bool> card = std::nullopt,
                  std::optional<DWORD> folder = std::nullopt) const;
  // The message of that identifier, looked for where the store keeps it:
  // phone memory before the card.
  std::optional<Location> Find(DWORD id, std::optional<bool> card = std::nullopt) const;
  ReadResult Read(const Location& at, bool withContent = true) const;
  // The messages of a folder on one storage (of one account in a per-account
  // folder, 0: all) and how many are unread. Reads only: the MMS download
  // folder is not settled.
  CountResult Count(bool card, DWORD folder, DWORD account = 0) const;
  // Whether the storage's message tree has been made (Device::Init).
  bool TreeMade(bool card) const;
  // The identifier counter as its file holds it: the last identifier handed
  // out; none when the file is missing or damaged (not 4 bytes).
  std::optional<DWORD> Counter() const;
  // The records of every phone index file as they stand (no rebuild), each
  // as the message it names and its place: per index, the first record of a
  // message; records of messages that are not there are given all the same.
  std::vector<IndexPlace> IndexPlaces() const;

  // A new message into record.folder (and, in a per-account folder, the
  // inbox of record.email.accountId), with record's times as they are.
  WriteResult Add(const Record& record, Storage storage = Storage::kPhone);
  // The message at `at` replaced by record under the same identifier; the
  // folder, identifier and account are at's.
  WriteResult Rewrite(const Location& at, const Record& record);
  // The message written at `at` under at's identifier, whether or not one
  // is there (what a restore does); the store keeps its own rules (a full
  // folder evicts).
  WriteResult Put(const Location& at, const Record& record);
  // Moves the message to another folder, under a new identifier: to the same
  // storage (phone memory for the SIM folders), or the other one when the
  // store finds the folder full there.
  WriteResult Move(const Location& at, DWORD folder);
  Result Delete(const Location& at);
  Result SetRead(const Location& at, bool read);
  Result SetStatus(const Location& at, WORD status);
  Result SetReadReport(const Location& at, int32_t status);  // e-mail only
  // Deletes every message of the folder (of one account in a per-account
  // folder, 0: all); its index keeps its records until the store's refresh
  // or a lookup drops them. A folder that holds a directory under a message
  // file's name is refused, nothing deleted.
  Result Empty(bool card, DWORD folder, DWORD account = 0);
  // The same, saying how many message files this call deleted.
  EmptyResult EmptyFolder(bool card, DWORD folder, DWORD account = 0);
  // The records of the folder's own phone index file, as the file holds
  // them (records whose messages are gone stay until a refresh); in a
  // per-account folder the account's index, or with account 0 every
  // account's on the device, ascending by account.
  IndexResult IndexRecords(DWORD folder, DWORD account = 0) const;
  // The store's own index refresh.
  Result Refresh();

 private:
  friend class Device;
  explicit Store(const StoreDescription* d) : description_(d) {}
  const StoreDescription* description_;
};

// The e-mail account store. Each change loads the account database, makes
// the change and saves the database whole; two processes changing accounts
// at the same time can lose one change, as with the handset's operations.
class MSGSTORE_API Accounts {
 public:
  // Every account of the account database, in the order the store keeps
  // them in memory (each folder's accounts in the reverse of the file's).
  AccountListResult List() const;
  // The database file, its accounts in the file's order (each folder's
  // turned round from List's): the positions Restorer::AddAccount takes;
  // and the counter.
  AccountDatabase Database() const;
  AccountResult Get(DWORD id) const;
  // A new account under the account counter's next identifier, returned in
  // the result's account.
  AccountResult Add(const Account& account);
  Result Remove(DWORD id);
  // The account the stores' plain inbox operations mean; 0 when none.
  DWORD IncomingServer() const;
  // The registry name of the incoming-server account; empty when none is named.
  std::string IncomingServerName() const;
  // Names the account the incoming-server account as the e-mail application
  // does: registry name (1 to 15 letters, digits, '_' or '-'; default
  // "Account" and the identifier in 8 hex digits) and identifier.
  Result SetIncomingServer(DWORD id, const std::string& name = "");

 private:
  friend class Device;
  Accounts() = default;
};

// The language resource module the library loads at start-up for a system
// language: "apResENG0123.dll" for "ENG".
MSGSTORE_API std::string LanguageModuleName(const std::u16string& language);

class MSGSTORE_API Device {
 public:
  // The default root: MSGSTORE_ROOT, else
  // ${XDG_DATA_HOME:-$HOME/.local/share}/msgstore/device; empty when neither
  // that nor HOME is set.
  static std::string DefaultRoot();
  // Opens a device root (the default one when root is empty), making the
  // directory with create. Without create a missing root is kNotFound and
  // nothing is made. Null with the reason in *result when it cannot be opened.
  static std::unique_ptr<Device> Open(const std::string& root, bool create, Result* result);
  // Opens it or throws std::runtime_error with the result's error.
  static std::unique_ptr<Device> Open(const std::string& root = "", bool create = false);
  // Opens a device that has been made, for uses that must leave a wrong
  // root as it is: a missing root, or one whose phone memory holds no
  // store's message tree, is kNotFound, and nothing is made under it.
  static std::unique_ptr<Device> OpenExisting(const std::string& root, Result* result);

  const std::string& root() const { return root_; }
  Store& sms() { return sms_; }
  Store& mms() { return mms_; }
  Store& email() { return email_; }
  Store& store(StoreKind kind);
  Accounts& accounts() { return accounts_; }

  // Makes the message trees of phone memory and, when inserted, the card.
  Result Init();
  // Makes the message trees of one storage.
  Result MakeTree(bool card);
  bool CardInserted() const;
  Result InsertCard();  // the card removed last, or an empty one
  Result RemoveCard();  // kept aside until it is inserted again

 private:
  explicit Device(std::string root);
  std::string root_;
  Store sms_, mms_, email_;
  Accounts accounts_;
};

}  // namespace msgstore

#endif  // MSGSTORE_DEVICE_H_

// The message store as C++ values: a device root, its three stores and the
// account store, each operation returning what it did. It stands on the same
// internals as the handset's operations, which keep their own names and
// behaviour; nothing here needs tagMSGPROPS or calloc'ed strings.
//
//   msgstore::Device dev = msgstore::Device::Open("/path/to/root");
//   msgstore::Record r;
//   r.folder = EMS_FOLDER_INBOX, r.subject = u"hello";
//   msgstore::WriteResult w = dev.sms().Add(r, msgstore::Storage::kAuto);
//   if (!w) std::cerr << w.error << "\n";
//   for (const msgstore::Location& at : dev.sms().List()) ...
//
// The device root is the process's (SetDeviceRoot): one Device at a time.
// Operations are safe against other threads and processes using the same
// root, as the handset's operations are.
#ifndef MSGSTORE_DEVICE_H_
#define MSGSTORE_DEVICE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
// owning its memory. Empty strings stand for the texts a store keeps none of.
struct Record {
  bool read = false;
  DWORD user1 = 0;
  std::u16string text1, text2;
  std::vector<uint8_t> content;
  FILETIME indexTime = {0, 0};
  FILETIME time = {0, 0};
  std::u16string to, text3, text4, subject;
  DWORD folder = 0;
  WORD status = 0;
  DWORD id = 0;
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
    bool operator==(const Mms& o) const;
  } mms;
  struct Email {  // tagEMAILMSGPROPS
    WORD quickValue = 0;
    DWORD data1 = 0;
    std::u16string text1, text2;
    int32_t readReportStatus = 0;
    DWORD accountId = 0;
    DWORD data2 = 0;
    bool operator==(const Email& o) const;
  } email;
  MSGSTORE_API bool operator==(const Record& o) const;
  bool operator!=(const Record& o) const { return !(*this == o); }
};

// The fields of Record, described once: the tool's export and import, the
// Python binding and the tests walk this table rather than list the fields.
struct RecordField {
  enum Type { kBool, kWord, kDword, kInt32, kText, kBytes, kTime };
  const char* key;  // "subject", "mms_text": the name the tool and the binding use
  Type type;
  // Which stores keep it: a bit per StoreKind (1 << int(kind)).
  unsigned stores;
  // Access to the field of a record.
  void* (*at)(Record& r);
  const void* (*atConst)(const Record& r);
};
MSGSTORE_API const std::vector<RecordField>& RecordFields();

// Where a write may put the message.
enum class Storage { kPhone, kCard, kAuto };

enum class Status {
  kOk,
  kNotFound,  // no such message, folder, account or device tree
  kRefused,   // the store declined it: see Refusal
  kFailed,    // the file system failed: see error
};

enum class Refusal {
  kNone,
  kFolderFull,    // the folder is full and the store may not use the other storage
  kNoSpace,       // the volume has no room for the content
  kBothFull,      // full on both storages
  kNoCard,        // the memory card is not inserted or not usable
  kNotInFolder,   // the folder does not exist on that storage
  kInvalid,       // the store does not take this (folder, field, identifier)
};

struct Result {
  Status status = Status::kOk;
  Refusal refusal = Refusal::kNone;
  std::string error;  // one line, in the words the tool prints; empty on success
  explicit operator bool() const { return status == Status::kOk; }
};

// What a write, rewrite or move did.
struct WriteResult : Result {
  Location stored;                  // where the message now is, its identifier
  bool otherStorage = false;        // the store used the other storage than asked
  std::optional<Location> evicted;  // the message deleted to make room
};

struct ReadResult : Result {
  Record record;
};

struct Account {
  DWORD id = 0;
  DWORD folder = 0;
  DWORD data = 0;
  WORD data1 = 0, data2 = 0;
  std::u16string text;
  bool operator==(const Account& o) const {
    return id == o.id && folder == o.folder && data == o.data && data1 == o.data1 &&
           data2 == o.data2 && text == o.text;
  }
};

struct AccountResult : Result {
  Account account;
};

class Device;

// One store of a device.
class MSGSTORE_API Store {
 public:
  const StoreDescription& description() const { return *description_; }

  // Messages ascending by identifier: of one storage (or phone memory and,
  // when inserted, the card) and one folder (or every listable folder).
  std::vector<Location> List(std::optional<bool> card = std::nullopt,
                             std::optional<DWORD> folder = std::nullopt) const;
  // The message of that identifier, looked for where the store keeps it.
  std::optional<Location> Find(DWORD id, std::optional<bool> card = std::nullopt) const;
  ReadResult Read(const Location& at, bool withContent = true) const;
  // How many messages the folder holds on that storage, and how many unread.
  // Reads only: the MMS download folder is not settled.
  size_t Count(bool card, DWORD folder) const;
  size_t CountUnread(bool card, DWORD folder) const;

  // A new message into record.folder (and record.email.accountId).
  WriteResult Add(const Record& record, Storage storage = Storage::kPhone);
  // The message at `at` replaced by record, under the same identifier.
  WriteResult Rewrite(const Location& at, const Record& record);
  WriteResult Move(const Location& at, DWORD folder, Storage storage = Storage::kPhone);
  Result Delete(const Location& at);
  Result SetRead(const Location& at, bool read);
  Result SetStatus(const Location& at, WORD status);
  Result SetReadReport(const Location& at, int32_t status);  // e-mail only
  // Every message of the folder (of one account in a per-account folder).
  Result Empty(bool card, DWORD folder, DWORD account = 0);
  // The store's own index refresh.
  Result Refresh();

 private:
  friend class Device;
  explicit Store(const StoreDescription* d) : description_(d) {}
  const StoreDescription* description_;
};

class MSGSTORE_API Accounts {
 public:
  // Every account of the account database, in its order.
  std::vector<Account> List() const;
  std::optional<Account> Get(DWORD id) const;
  // A new account; its identifier in the result's account.
  AccountResult Add(const Account& account);
  Result Remove(DWORD id);
  // The account the stores' plain inbox operations mean; 0 when none.
  DWORD IncomingServer() const;
  Result SetIncomingServer(DWORD id);

 private:
  friend class Device;
  Accounts() = default;
};

class MSGSTORE_API Device {
 public:
  // The default root: MSGSTORE_ROOT, else
  // ${XDG_DATA_HOME:-$HOME/.local/share}/msgstore/device.
  static std::string DefaultRoot();
  // Opens a device root (making it and its trees with create); kNotFound in
  // the result when it is missing and create is false.
  static std::unique_ptr<Device> Open(const std::string& root, bool create, Result* result);
  // Opens it or throws std::runtime_error with the result's error.
  static std::unique_ptr<Device> Open(const std::string& root, bool create = false);

  const std::string& root() const { return root_; }
  Store& sms() { return sms_; }
  Store& mms() { return mms_; }
  Store& email() { return email_; }
  Store& store(StoreKind kind);
  Accounts& accounts() { return accounts_; }

  // Makes the message trees of phone memory and, when inserted, the card.
  Result Init();
  bool CardInserted() const;
  Result InsertCard();
  Result RemoveCard();

 private:
  explicit Device(std::string root);
  std::string root_;
  Store sms_, mms_, email_;
  Accounts accounts_;
};

}  // namespace msgstore

#endif  // MSGSTORE_DEVICE_H_

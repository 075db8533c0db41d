// Keeping a device sound: checking every store (each phone index against the
// folders it lists, the identifier counter against the files), the account
// database and leftover temporary files; repairing what can be repaired; and
// restoring messages and accounts under their own identifiers, which is what
// an import of a backup needs.
#ifndef MSGSTORE_MAINTENANCE_H_
#define MSGSTORE_MAINTENANCE_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "msgstore/device.h"

namespace msgstore {

// What is wrong with one index, in the words a user reads.
struct IndexProblem {
  std::string kind;  // "record_without_file", "file_without_record", "out_of_order",
                     // "duplicate_record", "foreign_record", "damaged_file",
                     // "odd_file_name", "damaged_index", "index_not_a_file"
  DWORD folder;
  DWORD id;                           // 0 when the problem names no message
  std::string text;                   // "message 5 (inbox) has a record but no file"
  MSGSTORE_API bool lasting() const;  // a rebuild of the index does not settle it
};

// One phone index against the messages of the folders it lists.
struct IndexReport {
  DWORD folder;                // the folder of the index file
  DWORD account = 0;           // an account's index of a per-account folder
  std::vector<DWORD> members;  // the folders whose messages it lists
  bool hasFile = true;         // false: files of a per-account folder that name no account
  bool rebuiltAlways = false;  // the store's refresh rewrites it even when present
  std::string name;            // "sent", "inbox 805306371", "inbox (no account)"
  size_t files = 0, records = 0;
  std::vector<IndexProblem> problems;
};

// The identifier counter: the last identifier the store handed out.
struct CounterReport {
  bool present = false;
  bool sound = false;  // a file of exactly 4 bytes
  DWORD value = 0;
  DWORD highest = 0;  // the highest identifier in use on both storages
  bool ok() const { return highest == 0 || (sound && value >= highest); }
  // "ok: last identifier 7, highest identifier in use 7", "behind: ...", "missing, ..."
  MSGSTORE_API std::string State() const;
};

struct StoreReport {
  const StoreDescription* store;
  std::vector<IndexReport> indexes;
  CounterReport counter;
  MSGSTORE_API size_t differing() const;  // indexes with problems
  bool ok() const { return differing() == 0 && counter.ok(); }
};

// The account database and the registry counter of account identifiers.
struct AccountReport {
  bool present = false;  // the database file exists
  bool readable = true;  // it holds whole records
  size_t accounts = 0;
  DWORD counter = 0;    // the last account identifier handed out
  DWORD highest = 0;    // the highest identifier of an account
  std::string problem;  // one line when something is wrong; empty when sound
  bool ok() const { return problem.empty(); }
};

struct CheckOptions {
  std::vector<StoreKind> stores = {StoreKind::kSms, StoreKind::kMms, StoreKind::kEmail};
  bool accounts = true;  // the account database and its counter
  bool temps = true;     // leftover temporary files anywhere under the root
  // Called as message files are read: how many so far, of how many.
  std::function<void(size_t done, size_t total)> progress;
};

struct DeviceReport {
  std::vector<StoreReport> stores;
  AccountReport accounts;
  std::vector<std::u16string> temps;  // device paths, sorted
  MSGSTORE_API bool ok() const;
};

MSGSTORE_API DeviceReport Check(Device& device, const CheckOptions& options = {});
// One store's identifier counter against the identifiers in use, alone.
MSGSTORE_API CounterReport CheckCounter(Device& device, StoreKind store);
// The account database and its counter, alone.
MSGSTORE_API AccountReport CheckAccounts(Device& device);

struct RepairReport {
  // Per store checked: the names of the indexes rebuilt, whether the counter
  // was set (and to what).
  struct Store {
    const StoreDescription* store;
    std::vector<std::string> rebuilt;
    bool counterSet = false;
    DWORD counterValue = 0;
  };
  std::vector<Store> stores;
  bool accountCounterSet = false;
  std::vector<std::u16string> tempsRemoved;
  DeviceReport after;  // the device checked again
};
// Rebuilds the indexes that differ from their folders, raises counters to the
// highest identifier in use, removes temporary files, and checks again. Never
// leaves more problems than it found.
MSGSTORE_API RepairReport Repair(Device& device, const CheckOptions& options = {});

// The store's refresh of its index files; with all, also the indexes it
// keeps when they exist (they are deleted first and built anew).
MSGSTORE_API Result RefreshIndexes(Device& device, StoreKind store, bool all);

// Drops from the phone indexes the records of a folder (of one account in a
// per-account folder, 0: every account) whose message files are gone, as
// the store's lookups do: what an emptied folder's index needs to agree
// with it again.
MSGSTORE_API Result DropRecordsWithoutFiles(Device& device, StoreKind store, DWORD folder,
                                            DWORD account = 0);

// What settling the MMS automatic download folder did: the store's unread
// count of the inboxes settles it first, moving the downloaded messages that
// have a text1 to the inbox with a settled status and deleting the others,
// and settling inbox messages left in the download status the same way.
struct SettleReport : Result {
  std::vector<Location> movedFrom, movedTo;  // where the moved messages were, where they are
  std::vector<Location> deleted;             // where the deleted ones were
  std::vector<Location> statusSet;           // inbox messages given the settled status
  size_t unread = 0;                         // the unread count that did it
};
MSGSTORE_API SettleReport SettleDownloads(Device& device);

// Puts messages and accounts back as they were, each under its own
// identifier, storage and folder: what an import of a backup does. Messages
// and accounts are gathered first; Commit checks that everything can be
// written before it writes anything, writes the messages of each index from
// its last place to its first (so that the index lists them in the order
// given), and raises the counters to the highest identifier restored. Each
// index is read and written once, under its mutex, after the last file of
// the messages it lists (rather than once per message); a restore that fails
// part-way still writes the records of the files it wrote. A restore cut
// short leaves a device that Repair mends and a second restore (replacing)
// completes.
class MSGSTORE_API Restorer {
 public:
  explicit Restorer(Device& device);
  ~Restorer();
  Restorer(const Restorer&) = delete;
  Restorer& operator=(const Restorer&) = delete;

  // indexPosition: the message's place in its phone index (0 first), when it
  // had one. source names where the message comes from ("line 12") in
  // errors and in the report.
  void Add(StoreKind store, const Location& at, const Record& record,
           std::optional<size_t> indexPosition = std::nullopt, const std::string& source = "");
  // position: the account's place in the account database.
  void AddAccount(const Account& account, size_t position);
  // The account database as it was: whether it existed and how many bytes it
  // held (an empty database and a saved one of no records differ), and the
  // account counter. Accounts are restored only once this is given.
  void SetAccountDatabase(bool existed, DWORD bytes, DWORD counter);
  // The lowest value each store's counter is raised to.
  void SetCounter(StoreKind store, DWORD value);
  // Makes the store's tree of that storage even when no message goes there.
  void MakeTree(StoreKind store, bool card);
  // Names the incoming-server account as it was (name: its registry name,
  // empty for the default), after the accounts are restored; the account
  // need not be among them.
  void SetIncomingServer(DWORD id, const std::string& name);
  // Sets one of the handset's SMS counters (DefaultPlatform::Counters())
  // once every message is written, since writing a message moves them.
  void SetHandsetCounter(const std::string& name, DWORD value);

  struct Report {
    size_t written[3] = {0, 0, 0};  // by StoreKind
    size_t accounts = 0;
    size_t replacedMessages = 0, replacedAccounts = 0;
    size_t handsetCounters = 0;  // the handset's counters set
    DWORD incomingServer = 0;    // the incoming-server account named, 0 for none
    // Messages the stores write nowhere (the e-mail store's none folder).
    struct Skipped {
      StoreKind store;
      Location at;
      std::string source;
    };
    std::vector<Skipped> skipped;
  };
  // Writes everything. With replace false, a stored message of an
  // identifier added (in its store, on either storage) or a stored account
  // of an identifier added refuses the whole restore, before anything is
  // written. progress is called after each message.
  Result Commit(bool replace, Report* report,
                const std::function<void(size_t done, size_t total)>& progress = {});
  // What Commit would do, writing nothing: the same refusals, and the
  // messages it would write, replace and skip and the accounts it would
  // restore and replace in the report.
  Result Preview(bool replace, Report* report);

 private:
  Result Run(bool replace, bool write, Report* report,
             const std::function<void(size_t done, size_t total)>& progress);
  struct State;
  Device& device_;
  std::unique_ptr<State> state_;
};

// The folders a storage lists by their directories (a folder reached by
// file path only has none; on the card, those with a directory of their
// own), in the store's shown order.
MSGSTORE_API std::vector<DWORD> ListedFolders(const StoreDescription& store, bool card);

// A count on phone memory and on the memory card; none on the card when
// not counted there.
struct Tally {
  size_t phone = 0;
  std::optional<size_t> card;
  size_t total() const { return phone + card.value_or(0); }
};

// A store's messages as the handset counts them, reading only (the MMS
// download folder is not settled). The card is counted once its message
// tree is made; a folder there only when it has a directory of its own.
struct StoreCounts : Result {
  struct Folder {
    const FolderDescription* folder;
    Tally messages;
  };
  std::vector<Folder> folders;      // the listed folders of phone memory
  std::optional<size_t> simCopies;  // the phone's SIM folders together; none: no SIM folder
  // Every account that the per-account folder's files or the account
  // database name, ascending, with its messages in that folder.
  struct Account {
    DWORD id;
    std::optional<std::u16string> text;  // none: not in the account database
    Tally messages, unread;
  };
  std::vector<Account> accounts;
  DWORD incomingServer = 0;  // a store with a per-account folder's; 0: none named
  // The inbox's unread messages as the handset counts them: in a per-account
  // inbox, the incoming-server account's; when none is named, no message
  // (noInboxAccount), and the store never finds that inbox full either.
  Tally inboxUnread;
  bool noInboxAccount = false;
};
MSGSTORE_API StoreCounts CountStore(Device& device, StoreKind store);

// Empties a folder as Store::EmptyFolder does, then drops the records its
// phone index keeps of the messages deleted (DropRecordsWithoutFiles), so
// that the index agrees with the folder as a check sees it.
MSGSTORE_API EmptyResult EmptyFolderAndIndex(Device& device, StoreKind store, bool card,
                                             DWORD folder, DWORD account = 0);

}  // namespace msgstore

#endif  // MSGSTORE_MAINTENANCE_H_

// Keeping a device sound: checking every store, index, counter, the account
// database and leftover temporary files into a list of problems, repairing
// what can be repaired, and restoring messages and accounts under their own
// identifiers (what an import of a backup needs).
#ifndef MSGSTORE_MAINTENANCE_H_
#define MSGSTORE_MAINTENANCE_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "msgstore/device.h"

namespace msgstore {

struct Problem {
  enum Kind {
    kIndexMissing,      // a folder's index file is missing
    kIndexDiffers,      // an index lists other messages than its folder holds, or in other order
    kIndexDamaged,      // an index file that cannot be read
    kCounterBehind,     // the identifier counter is below an identifier in use
    kCounterDamaged,    // the counter file is missing or not 4 bytes while messages exist
    kUnreadableMessage, // a message file that cannot be opened or read
    kOddFile,           // a file of a folder not named as the store names messages
    kTempFile,          // a temporary file left by a writer that died
    kAccountDatabase,   // the account database cannot be read, or its counter is behind
  };
  Kind kind;
  std::optional<StoreKind> store;  // none for the account database and temporary files
  std::optional<Location> at;      // the folder (and message) it concerns, when one
  std::string path;                // the device path it concerns
  std::string what;                // one line: what is wrong
  bool repairable;                 // Repair mends it
};

struct CheckOptions {
  std::vector<StoreKind> stores = {StoreKind::kSms, StoreKind::kMms, StoreKind::kEmail};
  bool accounts = true;  // the account database and its counter
  bool temps = true;     // leftover temporary files anywhere under the root
};

// Every problem of the device, in the order: stores (each folder's index,
// then the counter), the account database, temporary files.
MSGSTORE_API std::vector<Problem> Check(Device& device, const CheckOptions& options = {});

struct RepairReport {
  std::vector<Problem> repaired;
  std::vector<Problem> left;  // what could not be mended, with why in what
};
// Mends the problems that can be: rebuilds indexes from their folders,
// raises counters to the highest identifier in use, removes temporary files.
// Never leaves more problems than it found.
MSGSTORE_API RepairReport Repair(Device& device, const CheckOptions& options = {});

// Puts messages and accounts back as they were: each message under its own
// identifier, storage and folder, each account under its own identifier.
// Index files are written once per folder and counters raised once, in
// Finish; a restore cut short leaves a device that Repair mends.
class MSGSTORE_API Restorer {
 public:
  explicit Restorer(Device& device);
  ~Restorer();
  Restorer(const Restorer&) = delete;
  Restorer& operator=(const Restorer&) = delete;

  // Whether a message of that identifier is stored (anywhere in the store) or
  // an account of that identifier exists: what would be replaced.
  bool Occupied(StoreKind store, DWORD id) const;
  bool AccountExists(DWORD id) const;

  // Writes the message at `at` (record.id and folder are taken from it),
  // replacing what is there.
  Result Put(StoreKind store, const Location& at, const Record& record);
  Result PutAccount(const Account& account);
  Result SetIncomingServer(DWORD id);
  // Rebuilds the indexes of every folder a message was put in, in index
  // order, and raises each counter (and the account counter) to the highest
  // identifier restored.
  Result Finish();

 private:
  struct State;
  Device& device_;
  std::unique_ptr<State> state_;
};

}  // namespace msgstore

#endif  // MSGSTORE_MAINTENANCE_H_

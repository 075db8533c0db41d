// The export format: a device's stores as one JSON object a line. The first
// line names the format, its version, the stores and whether the accounts
// are there, and the message trees each storage had; then for each store its
// identifier counter and every message of both storages (every field of its
// record, the content in base64, and its place in its phone index); then the
// account database (whether it existed, its size, the registry counter) and
// every account in the order the database keeps them, with the incoming-
// server account; the handset's SMS counters beside the store that keeps
// them; last a closing line that counts the lines before it, the messages of
// each store and the accounts, so that an export cut short is told apart.
#ifndef MSGSTORE_TOOL_BACKUP_H_
#define MSGSTORE_TOOL_BACKUP_H_

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "commands.h"

namespace tool {

constexpr const char* kFormat = "msgstore-export";
constexpr int kVersion = 2;
constexpr const char* kAccountsPart = "accounts";  // the word of export and the header
constexpr const char* kClosingType = "end";        // the "type" of the closing line
constexpr const char* kHandsetCountersType = "handset_counters";
// The key of a text's UTF-16LE bytes in base64, beside the text when UTF-8
// cannot carry it: "subject_utf16_base64".
inline std::string Utf16Key(const std::string& key) { return key + "_utf16_base64"; }

// Whether the store keeps the handset's SMS counters in step, so that an
// export of it carries them.
inline bool KeepsHandsetCounters(const StoreDescription& s) { return s.countersMutex != nullptr; }

// An export as read from its file, every line checked.
struct Backup {
  std::vector<const StoreDescription*> stores;               // those the first line lists
  bool holdsAccounts = false;                                // its "accounts"
  std::set<std::pair<const StoreDescription*, bool>> trees;  // (store, card) made
  struct Counter {
    size_t line;
    std::optional<DWORD> value;
  };
  std::map<const StoreDescription*, Counter> counters;
  struct Message {
    size_t line;
    const StoreDescription* store;
    Location at;
    Record record;
    std::optional<size_t> indexPosition;
  };
  std::vector<Message> messages;
  struct Database {
    size_t line;
    bool existed;
    std::optional<DWORD> size, counter, incomingServer;
    std::string incomingServerName;
  };
  std::optional<Database> database;
  std::vector<std::pair<size_t, msgstore::Account>> accounts;  // (position, account)
  std::map<std::string, DWORD> handsetCounters;                // by name
  std::optional<size_t> closing;                               // the line of the closing line
  nlohmann::json closingLine;
};

// Reads an export ("-": standard input) and checks each line and the lines
// together; Failure naming every damaged line (the first ones on standard
// error, the last in the failure).
Backup ReadBackup(const std::string& path);

}  // namespace tool

#endif  // MSGSTORE_TOOL_BACKUP_H_

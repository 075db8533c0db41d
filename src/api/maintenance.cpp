// Checking and repairing a device: each phone index against the message
// files of the folders it lists, each identifier counter against the
// identifiers in use, the account database against what the account store
// reads of it, and temporary files left by writers that died.
#include "msgstore/maintenance.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "api/folder_files.h"
#include "common/id_counter.h"
#include "common/index_file.h"
#include "common/msg_str.h"
#include "msgstore/platform.h"
#include "msgstore/text.h"

namespace msgstore {
namespace {

using api::FolderEntry;

using api::FolderName;

std::string Msg(const StoreDescription& s, DWORD folder, DWORD id) {
  return "message " + std::to_string(id) + " (" + FolderName(s, folder) + ")";
}

// The index file in phone memory, as a device path.
std::u16string IndexPath(const StoreDescription& s, const IndexReport& index) {
  return api::IndexPath(s, index.folder, index.account);
}

bool FindPath(const std::u16string& path, WIN32_FIND_DATAW* data) {
  HANDLE find = FindFirstFileW(path.c_str(), data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

// The indexes of a store: each indexed folder's own, and for a per-account
// folder one per account on the device, beside the files that name none.
std::vector<IndexReport> Indexes(const StoreDescription& s) {
  std::vector<IndexReport> indexes;
  for (const FolderDescription& f : s) {
    if (f.indexFolder != f.number) continue;
    IndexReport index;
    index.folder = f.number;
    for (const FolderDescription& m : s)
      if (m.indexFolder == f.number) index.members.push_back(m.number);
    index.rebuiltAlways = f.rebuiltAlways;
    if (!f.perAccount) {
      index.name = f.name;
      indexes.push_back(index);
      continue;
    }
    for (const FolderEntry& e : api::FolderEntries(s, false, f.number))
      if (e.account == 0) {
        IndexReport none = index;
        none.hasFile = false;
        none.name = std::string(f.name) + " (no account)";
        indexes.push_back(none);
        break;
      }
    for (DWORD account : api::AccountsOnDevice(s, f.number)) {
      IndexReport one = index;
      one.account = account;
      one.name = std::string(f.name) + " " + std::to_string(account);
      indexes.push_back(one);
    }
  }
  return indexes;
}

// Compares one index with the files of its folders. Messages are read
// without the stores' quick read, so the check itself never mends an index.
void CheckIndex(Device& device, const StoreDescription& s, IndexReport* report,
                const std::function<void()>& step) {
  const std::string file = (report->account != 0 ? std::to_string(report->account) + "_" : "") +
                           Utf16ToUtf8(s.indexName);
  std::vector<IndexRecord> records;
  if (report->hasFile) {
    WIN32_FIND_DATAW data = {};
    const std::u16string path = IndexPath(s, *report);
    if (FindPath(path, &data)) {
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        report->problems.push_back(
            {"index_not_a_file", report->folder, 0, "the index file " + file + " is a directory"});
      else if (data.nFileSizeLow % kIndexRecordSize != 0)
        report->problems.push_back({"damaged_index", report->folder, 0,
                                    "the index file " + file + " is damaged (" +
                                        std::to_string(data.nFileSizeLow) +
                                        " bytes, not a multiple of 16)"});
      ReadIndex(path.c_str(), &records);
    }
  }
  // Files named by another account belong to that account's index; a file
  // named by no account, to the folder's own.
  std::set<std::pair<DWORD, DWORD>> files;
  for (DWORD folder : report->members)
    for (const FolderEntry& e : api::FolderEntries(s, false, folder)) {
      if (e.account != report->account) continue;
      if (e.id != 0)
        files.insert({folder, e.id});
      else
        report->problems.push_back({"odd_file_name", folder, 0,
                                    "file " + e.name + " (not named by a message identifier) in " +
                                        FolderName(s, folder)});
    }
  report->files = files.size();
  report->records = records.size();

  Store& store = device.store(s.kind);
  std::map<std::pair<DWORD, DWORD>, uint64_t> times;
  for (const auto& f : files) {
    const Location at{false, f.first, f.second, report->account};
    const ReadResult read = store.Read(at, false);
    if (read)
      times[f] = Ticks(read.record.indexTime);
    else
      report->problems.push_back(
          {"damaged_file", f.first, f.second,
           Msg(s, f.first, f.second) + " " +
               (api::Openable(s, at) ? "cannot be read (damaged file)" : "cannot be opened")});
    step();
  }

  std::set<std::pair<DWORD, DWORD>> seen;
  bool havePrevious = false;
  uint64_t previousTime = 0;
  std::pair<DWORD, DWORD> previous;
  for (const IndexRecord& r : records) {
    // An account's records carry only part of the account where the folder
    // goes; elsewhere the folder is the record's low byte, as the stores list it.
    const std::pair<DWORD, DWORD> key{report->account != 0 ? report->folder : r.folder & 0xFF,
                                      r.oid};
    const auto& m = report->members;
    if (std::find(m.begin(), m.end(), key.first) == m.end()) {
      report->problems.push_back({"foreign_record", key.first, key.second,
                                  "record of message " + std::to_string(key.second) +
                                      " names folder " + std::to_string(key.first) +
                                      ", which this index does not list"});
      continue;
    }
    if (!seen.insert(key).second) {
      report->problems.push_back({"duplicate_record", key.first, key.second,
                                  Msg(s, key.first, key.second) + " is listed twice"});
      continue;
    }
    if (files.count(key) == 0) {
      report->problems.push_back({"record_without_file", key.first, key.second,
                                  Msg(s, key.first, key.second) + " has a record but no file"});
      continue;
    }
    const auto time = times.find(key);
    if (time == times.end()) continue;
    if (havePrevious && time->second > previousTime)
      report->problems.push_back(
          {"out_of_order", key.first, key.second,
           Msg(s, key.first, key.second) + " (" + FormatTime(FromTicks(time->second)) +
               ") is listed after the older " + Msg(s, previous.first, previous.second) + " (" +
               FormatTime(FromTicks(previousTime)) + ")"});
    havePrevious = true;
    previousTime = time->second;
    previous = key;
  }
  for (const auto& f : files)
    if (seen.count(f) == 0)
      report->problems.push_back({"file_without_record", f.first, f.second,
                                  Msg(s, f.first, f.second) + " has a file but no record"});
}

CounterReport CounterOf(Device& device, const StoreDescription& s) {
  CounterReport counter;
  counter.present = GetFileAttributesW(s.counterFile) != INVALID_FILE_ATTRIBUTES;
  for (const Location& at : device.store(s.kind).List().messages)
    counter.highest = std::max(counter.highest, at.id);
  counter.sound = api::ReadCounterFile(s, &counter.value);
  return counter;
}

// The store's refresh, with the indexes in clear deleted first so that it
// builds them anew. The stores' refresh leaves the accounts' indexes of a
// per-account folder alone: a missing one is built here as the store builds
// the others, from the account's files in phone memory, each record at the
// place its index time gives it.
Result Refresh(Device& device, const StoreDescription& s, const std::vector<IndexReport>& clear) {
  for (const IndexReport& index : clear)
    if (index.hasFile) DeleteFileW(IndexPath(s, index).c_str());
  const Result refreshed = device.store(s.kind).Refresh();
  Store& store = device.store(s.kind);
  const IndexLock lock = {s.indexMutex, s.yields};
  for (const IndexReport& index : Indexes(s)) {
    const std::u16string path = IndexPath(s, index);
    if (index.account == 0 || GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    for (const Location& at : store.List(false, index.folder).messages) {
      if (at.account != index.account) continue;
      const ReadResult read = store.Read(at, false);
      IndexInsert(path.c_str(), lock,
                  {index.account, at.id, read ? read.record.indexTime : FILETIME{0, 0}});
    }
  }
  return refreshed;
}

// Removes from an index the records a fresh check of it calls one of kinds
// (only those of folder, when one is given): false when the index could not
// be rewritten.
bool RemoveFlaggedRecords(Device& device, const StoreDescription& s, IndexReport index,
                          std::initializer_list<const char*> kinds,
                          std::optional<DWORD> folder = std::nullopt) {
  index.problems.clear();
  CheckIndex(device, s, &index, [] {});
  std::vector<const IndexProblem*> flagged;
  for (const IndexProblem& p : index.problems)
    if (std::any_of(kinds.begin(), kinds.end(), [&p](const char* k) { return p.kind == k; }) &&
        (!folder || p.folder == *folder))
      flagged.push_back(&p);
  if (flagged.empty()) return true;
  const std::u16string path = IndexPath(s, index);
  // One record per problem: the first that names its message.
  auto pick = [&](const std::vector<IndexRecord>& records) {
    std::vector<size_t> picked;
    std::vector<bool> taken(records.size(), false);
    for (const IndexProblem* p : flagged)
      for (size_t i = 0; i < records.size(); ++i)
        if (!taken[i] && records[i].oid == p->id &&
            (index.account != 0 || (records[i].folder & 0xFF) == p->folder)) {
          taken[i] = true;
          picked.push_back(i);
          break;
        }
    return picked;
  };
  return IndexRemoveSome(path.c_str(), {s.indexMutex, s.yields}, pick);
}

// The store's refresh lists every file its pattern matches, also those whose
// names give no identifier of their own ("abc.sms" is read as message 0,
// "007.sms" beside "7.sms" as a second 7). Their records name no message:
// they are dropped, so that a repair leaves no more problems than it found.
void DropStrayRecords(Device& device, const StoreDescription& s, const IndexReport& index) {
  RemoveFlaggedRecords(device, s, index, {"record_without_file", "duplicate_record"});
}

}  // namespace

CounterReport CheckCounter(Device& device, StoreKind store) {
  return CounterOf(device, Describe(store));
}

AccountReport CheckAccounts(Device& device) {
  AccountReport report;
  const AccountStoreDescription& a = AccountStore();
  WIN32_FIND_DATAW data = {};
  report.present = FindPath(a.database, &data);
  const std::vector<Account> accounts = device.accounts().List().accounts;
  report.accounts = accounts.size();
  report.readable = !report.present || data.nFileSizeLow == 0 ||
                    data.nFileSizeLow == api::DatabaseBytes(accounts);
  for (const Account& account : accounts) report.highest = std::max(report.highest, account.id);
  report.counter = api::AccountCounter();
  if (report.present && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    report.problem = "the account database is a directory";
  else if (!report.readable)
    report.problem = api::DamagedDatabase("", data.nFileSizeLow, accounts);
  else if (report.highest > report.counter && report.highest >= a.firstId)
    report.problem = "the account identifier counter (" + std::to_string(report.counter) +
                     ") is behind the highest account identifier " + std::to_string(report.highest);
  return report;
}

bool IndexProblem::lasting() const {
  return kind == "damaged_file" || kind == "index_not_a_file" || kind == "odd_file_name";
}

std::string CounterReport::State() const {
  std::string state = !present ? "missing"
                      : !sound ? "damaged (not 4 bytes)"
                               : "last identifier " + std::to_string(value);
  state +=
      highest == 0 ? ", no messages" : ", highest identifier in use " + std::to_string(highest);
  return ok() ? "ok: " + state : sound ? "behind: " + state : state;
}

size_t StoreReport::differing() const {
  return static_cast<size_t>(std::count_if(
      indexes.begin(), indexes.end(), [](const IndexReport& r) { return !r.problems.empty(); }));
}

bool DeviceReport::ok() const {
  for (const StoreReport& s : stores)
    if (!s.ok()) return false;
  return accounts.ok() && temps.empty();
}

DeviceReport Check(Device& device, const CheckOptions& options) {
  DeviceReport report;
  std::vector<std::vector<IndexReport>> indexes;
  size_t total = 0, done = 0;
  for (StoreKind kind : options.stores) {
    const StoreDescription& s = Describe(kind);
    indexes.push_back(Indexes(s));
    for (const IndexReport& index : indexes.back())
      for (DWORD folder : index.members)
        for (const FolderEntry& e : api::FolderEntries(s, false, folder))
          total += e.id != 0 && e.account == index.account ? 1 : 0;
  }
  auto step = [&] {
    if (options.progress) options.progress(++done, total);
  };
  for (size_t i = 0; i < options.stores.size(); ++i) {
    const StoreDescription& s = Describe(options.stores[i]);
    StoreReport store{&s, std::move(indexes[i]), {}};
    for (IndexReport& index : store.indexes) CheckIndex(device, s, &index, step);
    store.counter = CounterOf(device, s);
    report.stores.push_back(std::move(store));
  }
  if (options.accounts) report.accounts = CheckAccounts(device);
  if (options.temps) {
    report.temps = FindStaleTempFiles(u"\\");
    std::sort(report.temps.begin(), report.temps.end());
  }
  return report;
}

RepairReport Repair(Device& device, const CheckOptions& options) {
  RepairReport repair;
  CheckOptions quiet = options;
  const DeviceReport before = Check(device, quiet);
  for (const StoreReport& store : before.stores) {
    const StoreDescription& s = *store.store;
    RepairReport::Store done{&s, {}, false, 0};
    std::vector<IndexReport> clear;
    for (const IndexReport& index : store.indexes)
      if (!index.problems.empty()) {
        clear.push_back(index);
        if (index.hasFile) done.rebuilt.push_back(index.name);
      }
    if (!clear.empty()) {
      Refresh(device, s, clear);
      for (const IndexReport& index : clear)
        if (index.hasFile) DropStrayRecords(device, s, index);
    }
    if (!store.counter.ok() && api::RaiseCounter(s, store.counter.highest)) {
      done.counterSet = true;
      api::ReadCounterFile(s, &done.counterValue);
    }
    repair.stores.push_back(done);
  }
  if (options.accounts && !before.accounts.ok() && before.accounts.readable &&
      before.accounts.highest > before.accounts.counter)
    repair.accountCounterSet = api::RaiseAccountCounter(before.accounts.highest);
  for (const std::u16string& t : before.temps) DeleteFileW(t.c_str());
  repair.after = Check(device, quiet);
  // The stores' refresh removes leftovers of their own too.
  for (const std::u16string& t : before.temps)
    if (std::find(repair.after.temps.begin(), repair.after.temps.end(), t) ==
        repair.after.temps.end())
      repair.tempsRemoved.push_back(t);
  return repair;
}

Result RefreshIndexes(Device& device, StoreKind kind, bool all) {
  const StoreDescription& s = Describe(kind);
  std::vector<IndexReport> clear;
  if (all)
    for (const IndexReport& index : Indexes(s))
      if (!index.rebuiltAlways) clear.push_back(index);
  return Refresh(device, s, clear);
}

Result DropRecordsWithoutFiles(Device& device, StoreKind kind, DWORD folder, DWORD account) {
  const StoreDescription& s = Describe(kind);
  for (const IndexReport& index : Indexes(s)) {
    if (!index.hasFile || (account != 0 && index.account != account) ||
        std::find(index.members.begin(), index.members.end(), folder) == index.members.end())
      continue;
    if (!RemoveFlaggedRecords(device, s, index, {"record_without_file"}, folder))
      return api::Fail<Result>(Status::kFailed, Refusal::kNone,
                               "could not rewrite the index " + index.name);
  }
  return {};
}

}  // namespace msgstore

// refresh and check: the phone index files against the folders they list.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "output.h"
#include "text.h"

namespace tool {
namespace {

struct Problem {
  std::string kind;  // record_without_file, file_without_record, ...
  DWORD folder;
  DWORD oid;
  std::string text;
};

struct IndexReport {
  Index index;
  size_t files = 0;
  size_t records = 0;
  std::vector<Problem> problems;
};

std::string Msg(const Store& s, DWORD folder, DWORD oid) {
  return "message " + std::to_string(oid) + " (" + s.FolderName(folder) + ")";
}

// The index file in phone memory.
std::u16string IndexPath(const Store& s, const Index& index) {
  return FolderPath(s, false, index.folder) + u"\\" +
         Utf8ToUtf16(index.account != 0 ? std::to_string(index.account) + "_" : "") + s.d.indexName;
}

// "sent", "inbox 805306371"
std::string IndexName(const Store& s, const Index& index) {
  return s.FolderName(index.folder) + (index.account != 0 ? " " + std::to_string(index.account)
                                       : !HasIndexFile(s, index) ? " (no account)"
                                                                 : "");
}

// Compares one index with the files of its folders. Messages are read without
// the quick read, so the check itself never repairs the index.
IndexReport CheckIndex(const Store& s, const Index& index, Progress* progress, size_t* done) {
  IndexReport report;
  report.index = index;
  const std::string name = WideToUtf8(s.d.indexName);
  const std::string file = index.account != 0 ? std::to_string(index.account) + "_" + name : name;
  WIN32_FIND_DATAW data = {};
  if (HasIndexFile(s, index) && FindPath(IndexPath(s, index), &data)) {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      report.problems.push_back(
          {"index_not_a_file", index.folder, 0, "the index file " + file + " is a directory"});
    else if (data.nFileSizeLow % 16 != 0)
      report.problems.push_back({"damaged_index", index.folder, 0,
                                 "the index file " + file + " is damaged (" +
                                     std::to_string(data.nFileSizeLow) +
                                     " bytes, not a multiple of 16)"});
  }
  CMsgList list;
  if (HasIndexFile(s, index))
    s.ops.indexList(index.account != 0 ? index.account : index.folder, list);
  // Files named by another account belong to that account's index; a file
  // named by no account, to the folder's own.
  std::set<std::pair<DWORD, DWORD>> files;
  for (DWORD folder : index.members)
    for (const FolderEntry& entry : FolderEntries(s, false, folder)) {
      if (entry.account != index.account) continue;
      if (entry.oid != 0)
        files.insert({folder, entry.oid});
      else
        report.problems.push_back(
            {"odd_file_name", folder, 0, OddName(entry.name) + " in " + s.FolderName(folder)});
    }
  report.files = files.size();
  report.records = static_cast<size_t>(list.GetSize());

  std::set<std::pair<DWORD, DWORD>> seen;
  std::map<std::pair<DWORD, DWORD>, uint64_t> times;
  for (const auto& file : files) {
    Message record(s);
    Location at{false, file.first, file.second, index.account};
    if (!ReadRecord(s, at, &record))
      report.problems.push_back({"damaged_file", file.first, file.second,
                                 Msg(s, file.first, file.second) + " " + ReadProblem(s, at)});
    else
      times[file] = Ticks(record->ftIndexTime);
    if (progress != nullptr) progress->Step(++*done);
  }

  bool havePrevious = false;
  uint64_t previousTime = 0;
  std::pair<DWORD, DWORD> previous;
  for (long i = 0; i < list.GetSize(); ++i) {
    // An account's records carry only part of the account where the folder goes.
    std::pair<DWORD, DWORD> key{index.account != 0 ? index.folder : list[i].byFolder,
                                list[i].dwOid};
    const std::vector<DWORD>& m = index.members;
    if (std::find(m.begin(), m.end(), key.first) == m.end()) {
      report.problems.push_back({"foreign_record", key.first, key.second,
                                 "record of message " + std::to_string(key.second) +
                                     " names folder " + std::to_string(key.first) +
                                     ", which this index does not list"});
      continue;
    }
    if (!seen.insert(key).second) {
      report.problems.push_back({"duplicate_record", key.first, key.second,
                                 Msg(s, key.first, key.second) + " is listed twice"});
      continue;
    }
    if (files.count(key) == 0) {
      report.problems.push_back({"record_without_file", key.first, key.second,
                                 Msg(s, key.first, key.second) + " has a record but no file"});
      continue;
    }
    auto time = times.find(key);
    if (time == times.end()) continue;
    if (havePrevious && time->second > previousTime)
      report.problems.push_back(
          {"out_of_order", key.first, key.second,
           Msg(s, key.first, key.second) + " (" + FormatTime(FromTicks(time->second)) +
               ") is listed after the older " + Msg(s, previous.first, previous.second) + " (" +
               FormatTime(FromTicks(previousTime)) + ")"});
    havePrevious = true;
    previousTime = time->second;
    previous = key;
  }
  for (const auto& file : files)
    if (seen.count(file) == 0)
      report.problems.push_back({"file_without_record", file.first, file.second,
                                 Msg(s, file.first, file.second) + " has a file but no record"});
  return report;
}

std::vector<IndexReport> CheckAll(const Store& s) {
  const std::vector<Index> indexes = Indexes(s);
  size_t total = 0;
  for (const auto& index : indexes)
    for (DWORD folder : index.members)
      for (const Location& at : FolderMessages(s, false, folder))
        total += at.account == index.account ? 1 : 0;
  Progress progress("check", total);
  size_t done = 0;
  std::vector<IndexReport> reports;
  for (const auto& index : indexes) reports.push_back(CheckIndex(s, index, &progress, &done));
  return reports;
}

size_t Differing(const std::vector<IndexReport>& reports) {
  size_t n = 0;
  for (const auto& r : reports) n += r.problems.empty() ? 0 : 1;
  return n;
}

// The store's refresh rebuilds some indexes always and the others only when
// they are missing; an index file deleted first, damaged or not, is written
// anew.
void Refresh(const Store& s, const std::vector<Index>& clear) {
  bool tty = isatty(STDERR_FILENO) == 1;
  if (tty) std::fputs("refreshing the index files...", stderr);
  for (const Index& index : clear)
    if (HasIndexFile(s, index)) DeleteFileW(IndexPath(s, index).c_str());
  s.ops.refresh();
  if (tty) std::fputs("\r\033[K", stderr);
}

// "inbox, sent and unsent"
std::string JoinAnd(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i)
    out += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  return out;
}

int RefreshCommand(const Context& ctx, const Store& s, bool all) {
  std::vector<Index> clear;
  std::vector<std::string> always, kept;
  for (const Index& index : s.indexes)
    (index.rebuiltAlways ? always : kept).push_back(s.FolderName(index.folder));
  for (const Index& index : Indexes(s))
    if (all && !index.rebuiltAlways) clear.push_back(index);
  Refresh(s, clear);
  if (ctx.json)
    PrintJson({{"refreshed", true}, {"all", all}});
  else if (all)
    std::cout << "rebuilt every phone index file\n";
  else if (!always.empty())
    std::cout << "rebuilt the phone index files of " << JoinAnd(always) << " (" << JoinAnd(kept)
              << " only where missing; --all rebuilds them too)\n";
  else
    std::cout << "rebuilt the phone index files that were missing (--all rebuilds the others "
                 "too)\n";
  return 0;
}

// Temporary files of writers that died: "ok", or how many there are.
std::string TempState(const std::vector<std::u16string>& temps) {
  return temps.empty() ? "ok"
                       : std::to_string(temps.size()) + (temps.size() == 1 ? " file" : " files") +
                             " left by writers that died";
}

void PrintReports(const Store& s, const std::vector<IndexReport>& reports, const IdCounter& counter,
                  const std::vector<std::u16string>& temps) {
  Table table({"INDEX", "FILES", "RECORDS", "STATE"}, {false, true, true, false});
  for (const auto& r : reports)
    table.AddRow({IndexName(s, r.index), std::to_string(r.files), std::to_string(r.records),
                  r.problems.empty() ? "ok"
                                     : std::to_string(r.problems.size()) +
                                           (r.problems.size() == 1 ? " problem" : " problems")});
  table.AddRow({"counter", "", "", counter.State()});
  if (!temps.empty()) table.AddRow({"temp", "", "", TempState(temps)});
  table.Print(std::cout);
  for (const auto& r : reports)
    for (const auto& p : r.problems) std::cout << IndexName(s, r.index) << ": " << p.text << '\n';
  for (const auto& t : temps) std::cout << "temp: " << WideToUtf8(t.c_str()) << '\n';
}

nlohmann::ordered_json ReportsJson(const Store& s, const std::vector<IndexReport>& reports) {
  nlohmann::ordered_json out = nlohmann::ordered_json::array();
  for (const auto& r : reports) {
    nlohmann::ordered_json problems = nlohmann::ordered_json::array();
    for (const auto& p : r.problems)
      problems.push_back({{"problem", p.kind},
                          {"folder", s.FolderName(p.folder)},
                          {"id", p.oid},
                          {"text", p.text}});
    nlohmann::ordered_json j = {{"index", s.FolderName(r.index.folder)}};
    if (r.index.account != 0) j["account"] = r.index.account;
    j.update({{"files", r.files}, {"records", r.records}, {"problems", problems}});
    out.push_back(j);
  }
  return out;
}

// Why a problem outlives a rebuild of its index; "" when the rebuild settles it.
std::string Lasting(const Store& s, const std::string& kind) {
  if (kind == "damaged_file")
    return "message files that cannot be read stay until removed ('msgstore rm " +
           std::string(s.d.name) + " ID')";
  if (kind == "index_not_a_file")
    return "an index file " + WideToUtf8(s.d.indexName) +
           " that is a directory cannot be rewritten (remove it by hand)";
  if (kind == "odd_file_name")
    return "files not named by a message identifier stay until renamed or removed";
  return "";
}

template <class Strings>
std::string Join(const Strings& parts, const std::string& separator) {
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : separator) + p;
  return out;
}

int CheckCommand(const Context& ctx, const Store& s, bool fix) {
  std::vector<IndexReport> reports = CheckAll(s);
  IdCounter counter = ReadIdCounter(s);
  const std::string counterFile = s.CounterFile();
  std::vector<std::string> rebuilt;
  if (fix && Differing(reports) != 0) {
    std::vector<Index> clear;
    for (const auto& r : reports)
      if (!r.problems.empty()) {
        clear.push_back(r.index);
        if (HasIndexFile(s, r.index)) rebuilt.push_back(IndexName(s, r.index));
      }
    Refresh(s, clear);
    reports = CheckAll(s);
  }
  bool counterSet = fix && !counter.Ok() && RepairIdCounter(s, counter);
  if (counterSet) counter = ReadIdCounter(s);
  std::vector<std::u16string> temps = StaleTempFiles();
  std::vector<std::string> removed;
  if (fix) {
    for (const auto& t : temps)
      if (DeleteFileW(t.c_str())) removed.push_back(WideToUtf8(t.c_str()));
    temps = StaleTempFiles();
  }
  size_t differing = Differing(reports);
  if (ctx.json) {
    nlohmann::ordered_json tempList = nlohmann::ordered_json::array();
    for (const auto& t : temps) tempList.push_back(WideToUtf8(t.c_str()));
    nlohmann::ordered_json j = {{"ok", differing == 0 && counter.Ok() && temps.empty()},
                                {"indexes", ReportsJson(s, reports)},
                                {"counter", {{"ok", counter.Ok()}, {"state", counter.State()}}},
                                {"temporary_files", tempList}};
    if (fix) j["rebuilt"] = rebuilt;
    if (fix) j["counter_set"] = counterSet;
    if (fix) j["temporary_files_removed"] = removed;
    PrintJson(j);
  } else {
    if (!rebuilt.empty()) std::cout << "rebuilt the index files of " << Join(rebuilt, ", ") << "\n";
    if (counterSet)
      std::cout << "set the identifier counter " << counterFile << " to " << counter.value << "\n";
    if (!removed.empty())
      std::cout << "removed " << removed.size()
                << (removed.size() == 1 ? " temporary file" : " temporary files")
                << " left by writers that died\n";
    PrintReports(s, reports, counter, temps);
  }
  if (differing == 0 && counter.Ok() && temps.empty()) return 0;
  std::string line;
  if (differing != 0)
    line = std::to_string(differing) + (differing == 1 ? " index differs" : " indexes differ") +
           " from the folders";
  if (!temps.empty()) line += (line.empty() ? "" : " and ") + TempState(temps);
  if (!counter.Ok())
    line += std::string(line.empty() ? "" : " and ") + "the identifier counter " + counterFile +
            " is damaged or behind the stored messages";
  if (fix) {
    std::set<std::string> why;
    for (const auto& r : reports)
      for (const auto& p : r.problems)
        if (!Lasting(s, p.kind).empty()) why.insert(Lasting(s, p.kind));
    if (!counter.Ok()) why.insert("the counter file " + counterFile + " cannot be written");
    if (!temps.empty()) why.insert("temporary files that cannot be removed stay");
    line += " after the repair" + (why.empty() ? "" : ": " + Join(why, "; "));
  } else {
    const int kinds = (differing != 0) + !counter.Ok() + !temps.empty();
    line += " (" + s.CommandLine("check", "--fix") +
            (kinds > 1        ? " repairs them)"
             : differing != 0 ? " rebuilds them)"
             : !counter.Ok()  ? " repairs it)"
                              : " removes them)");
  }
  std::cout.flush();
  std::cerr << "msgstore: " << line << '\n';
  return 1;
}

}  // namespace

void AddIndexCommands(CLI::App& app, Context& ctx, Commands& commands) {
  auto store = std::make_shared<std::string>();
  auto all = std::make_shared<bool>(false);
  CLI::App* cmd = app.add_subcommand("refresh", "Rebuild the phone index files");
  AddStoreArgument(cmd, store.get());
  cmd->add_flag("--all", *all,
                "Rebuild every index, also those the store keeps when they exist (sms: draft, "
                "report and spam)");
  commands.On(cmd, [&ctx, store, all] { return RefreshCommand(ctx, ParseStore(*store), *all); });

  store = std::make_shared<std::string>();
  auto fix = std::make_shared<bool>(false);
  cmd = app.add_subcommand("check",
                           "Compare each phone index with its folders; exit 1 when they differ");
  AddStoreArgument(cmd, store.get());
  cmd->add_flag("--fix", *fix, "Rebuild the indexes that differ and check again");
  commands.On(cmd, [&ctx, store, fix] { return CheckCommand(ctx, ParseStore(*store), *fix); });
}

}  // namespace tool

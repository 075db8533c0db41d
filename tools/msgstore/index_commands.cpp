// refresh and check: the phone index files against the folders they list,
// the identifier counter and temporary files, as the library's check and
// repair report them.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "commands.h"
#include "msgstore/maintenance.h"
#include "output.h"
#include "text.h"

namespace tool {
namespace {

// "inbox, sent and unsent"
std::string JoinAnd(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i)
    out += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  return out;
}

template <class Strings>
std::string Join(const Strings& parts, const std::string& separator) {
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : separator) + p;
  return out;
}

int RefreshCommand(Context& ctx, const StoreDescription& s, bool all) {
  std::vector<std::string> always, kept;
  for (const FolderDescription& f : s)
    if (f.indexFolder == f.number && !f.perAccount)
      (f.rebuiltAlways ? always : kept).push_back(f.name);
  const bool tty = isatty(STDERR_FILENO) == 1;
  if (tty) std::fputs("refreshing the index files...", stderr);
  const msgstore::Result refreshed = msgstore::RefreshIndexes(*ctx.device, s.kind, all);
  if (tty) std::fputs("\r\033[K", stderr);
  Require(refreshed);
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

void PrintReport(const msgstore::StoreReport& store, const std::vector<std::u16string>& temps) {
  Table table({"INDEX", "FILES", "RECORDS", "STATE"}, {false, true, true, false});
  for (const msgstore::IndexReport& r : store.indexes)
    table.AddRow({r.name, std::to_string(r.files), std::to_string(r.records),
                  r.problems.empty() ? "ok"
                                     : std::to_string(r.problems.size()) +
                                           (r.problems.size() == 1 ? " problem" : " problems")});
  table.AddRow({"counter", "", "", store.counter.State()});
  if (!temps.empty()) table.AddRow({"temp", "", "", TempState(temps)});
  table.Print(std::cout);
  for (const msgstore::IndexReport& r : store.indexes)
    for (const msgstore::IndexProblem& p : r.problems)
      std::cout << r.name << ": " << p.text << '\n';
  for (const std::u16string& t : temps) std::cout << "temp: " << Utf16ToUtf8(t) << '\n';
}

nlohmann::ordered_json ReportJson(const msgstore::StoreReport& store) {
  const StoreDescription& s = *store.store;
  nlohmann::ordered_json out = nlohmann::ordered_json::array();
  for (const msgstore::IndexReport& r : store.indexes) {
    nlohmann::ordered_json problems = nlohmann::ordered_json::array();
    for (const msgstore::IndexProblem& p : r.problems)
      problems.push_back({{"problem", p.kind},
                          {"folder", FolderName(s, p.folder)},
                          {"id", p.id},
                          {"text", p.text}});
    nlohmann::ordered_json j = {{"index", FolderName(s, r.folder)}};
    j["account"] = r.account != 0 ? nlohmann::ordered_json(r.account) : nlohmann::ordered_json();
    j.update({{"files", r.files}, {"records", r.records}, {"problems", problems}});
    out.push_back(j);
  }
  return out;
}

// Why a problem outlives a rebuild of its index.
std::string Lasting(const StoreDescription& s, const std::string& kind) {
  if (kind == "damaged_file")
    return "message files that cannot be read stay until removed ('msgstore rm " +
           std::string(s.name) + " ID')";
  if (kind == "index_not_a_file")
    return "an index file " + WideToUtf8(s.indexName) +
           " that is a directory cannot be rewritten (remove it by hand)";
  return "files not named by a message identifier stay until renamed or removed";
}

int CheckCommand(Context& ctx, const StoreDescription& s, bool fix) {
  msgstore::CheckOptions options;
  options.stores = {s.kind};
  options.accounts = false;
  Progress progress("check", 0);
  options.progress = [&](size_t done, size_t total) { progress.Step(done, total); };
  msgstore::DeviceReport report;
  msgstore::RepairReport repair;
  if (fix) {
    repair = msgstore::Repair(*ctx.device, options);
    report = repair.after;
  } else {
    report = msgstore::Check(*ctx.device, options);
  }
  progress.Done();
  const msgstore::StoreReport& store = report.stores.front();
  const msgstore::CounterReport& counter = store.counter;
  const std::vector<std::u16string>& temps = report.temps;
  std::vector<std::string> removed;
  for (const std::u16string& t : repair.tempsRemoved) removed.push_back(Utf16ToUtf8(t));
  std::vector<std::string> rebuilt;
  if (fix) rebuilt = repair.stores.front().rebuilt;
  const bool counterSet = fix && repair.stores.front().counterSet;
  const size_t differing = store.differing();
  const std::string counterFile = CounterFile(s);
  if (ctx.json) {
    nlohmann::ordered_json tempList = nlohmann::ordered_json::array();
    for (const std::u16string& t : temps) tempList.push_back(Utf16ToUtf8(t));
    nlohmann::ordered_json j = {{"ok", report.ok()},
                                {"indexes", ReportJson(store)},
                                {"counter", {{"ok", counter.ok()}, {"state", counter.State()}}},
                                {"temporary_files", tempList}};
    j["fixed"] = fix;
    j["rebuilt"] = rebuilt;
    j["counter_set"] = counterSet;
    j["temporary_files_removed"] = removed;
    PrintJson(j);
  } else {
    if (!rebuilt.empty()) std::cout << "rebuilt the index files of " << Join(rebuilt, ", ") << "\n";
    if (counterSet)
      std::cout << "set the identifier counter " << counterFile << " to "
                << repair.stores.front().counterValue << "\n";
    if (!removed.empty())
      std::cout << "removed " << removed.size()
                << (removed.size() == 1 ? " temporary file" : " temporary files")
                << " left by writers that died\n";
    PrintReport(store, temps);
  }
  if (report.ok()) return 0;
  std::string line;
  if (differing != 0)
    line = std::to_string(differing) + (differing == 1 ? " index differs" : " indexes differ") +
           " from the folders";
  if (!temps.empty()) line += (line.empty() ? "" : " and ") + TempState(temps);
  if (!counter.ok())
    line += std::string(line.empty() ? "" : " and ") + "the identifier counter " + counterFile +
            " is damaged or behind the stored messages";
  if (fix) {
    std::set<std::string> why;
    for (const msgstore::IndexReport& r : store.indexes)
      for (const msgstore::IndexProblem& p : r.problems)
        if (p.lasting()) why.insert(Lasting(s, p.kind));
    if (!counter.ok()) why.insert("the counter file " + counterFile + " cannot be written");
    if (!temps.empty()) why.insert("temporary files that cannot be removed stay");
    line += " after the repair" + (why.empty() ? "" : ": " + Join(why, "; "));
  } else {
    const int kinds = (differing != 0) + !counter.ok() + !temps.empty();
    line += " (" + CommandLine(s, "check", "--fix") +
            (kinds > 1        ? " repairs them)"
             : differing != 0 ? " rebuilds them)"
             : !counter.ok()  ? " repairs it)"
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
  cmd->add_flag("--all", *all, "Rebuild every index, also those the store keeps when they exist");
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

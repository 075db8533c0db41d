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

#include "backup.h"
#include "commands.h"
#include "msgstore/maintenance.h"
#include "output.h"

namespace tool {
namespace {

// The store named, or with no name every store.
std::vector<const StoreDescription*> Chosen(const std::string& storeName) {
  if (storeName.empty()) return Stores();
  return {&ParseStore(storeName)};
}

int Refresh(Context& ctx, const std::string& storeName, bool all) {
  nlohmann::ordered_json refreshed = nlohmann::ordered_json::array();
  for (const StoreDescription* s : Chosen(storeName)) {
    const std::vector<std::string> always = s->IndexesRefreshed(true);
    const bool tty = isatty(STDERR_FILENO) == 1;
    if (tty) std::fputs("refreshing the index files...", stderr);
    const msgstore::Result done = msgstore::RefreshIndexes(*ctx.device, s->kind, all);
    if (tty) std::fputs("\r\033[K", stderr);
    Require(done);
    refreshed.push_back(s->name);
    if (ctx.json) continue;
    if (storeName.empty()) std::cout << s->name << ": ";
    if (all)
      std::cout << "rebuilt every phone index file\n";
    else if (!always.empty())
      std::cout << "rebuilt the phone index files of " << JoinList(always, ", ", " and ") << " ("
                << JoinList(s->IndexesRefreshed(false), ", ", " and ")
                << " only where missing; --all rebuilds them too)\n";
    else
      std::cout << "rebuilt the phone index files that were missing (--all rebuilds the others "
                   "too)\n";
  }
  if (ctx.json) PrintJson({{"refreshed", refreshed}, {"all", all}});
  return 0;
}

// "ok: 2 accounts, counter 805306372", or the problem.
std::string AccountState(const msgstore::AccountReport& a) {
  if (!a.ok()) return a.problem;
  if (!a.present) return "ok: no account database";
  return "ok: " + Counted(a.accounts, "account") + ", counter " + std::to_string(a.counter);
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

// One store, or with no name every store, the account database and the
// temporary files of the whole device.
int CheckCommand(Context& ctx, const std::string& storeName, bool fix) {
  const bool whole = storeName.empty();
  msgstore::CheckOptions options;
  options.stores.clear();
  for (const StoreDescription* s : Chosen(storeName)) options.stores.push_back(s->kind);
  options.accounts = whole;
  Progress progress("check", 0);
  options.progress = [&](size_t done, size_t total) { progress.Step(done, total); };
  msgstore::RepairReport repair;
  if (fix)
    repair = msgstore::Repair(*ctx.device, options);
  else
    repair.after = msgstore::Check(*ctx.device, options);
  progress.Done();
  const msgstore::DeviceReport& report = repair.after;
  const msgstore::AccountReport& accounts = report.accounts;
  std::vector<std::string> temps, removed;
  for (const std::u16string& t : report.temps) temps.push_back(Utf16ToUtf8(t));
  for (const std::u16string& t : repair.tempsRemoved) removed.push_back(Utf16ToUtf8(t));
  const std::string tempState = Counted(temps.size(), "file") + " left by writers that died";

  // Each store's part of the JSON and of the table (with the store's name in
  // a first column when the whole device is checked), its problems, and what
  // is wrong with it after all and why.
  nlohmann::ordered_json json = {{"ok", report.ok()}, {"fixed", fix}};
  std::vector<std::string> headers = {"INDEX", "FILES", "RECORDS", "STATE"};
  std::vector<bool> numeric = {false, true, true, false};
  if (whole) headers.insert(headers.begin(), "STORE"), numeric.insert(numeric.begin(), false);
  Table table(headers, numeric);
  auto row = [&](const std::string& store, std::vector<std::string> cells) {
    if (whole) cells.insert(cells.begin(), store);
    table.AddRow(std::move(cells));
  };
  std::string problems;
  size_t differing = 0;
  std::vector<std::string> badCounters;
  std::set<std::string> why;
  for (size_t i = 0; i < report.stores.size(); ++i) {
    const msgstore::StoreReport& store = report.stores[i];
    const StoreDescription& s = *store.store;
    nlohmann::ordered_json indexes = nlohmann::ordered_json::array();
    for (const msgstore::IndexReport& r : store.indexes) {
      nlohmann::ordered_json list = nlohmann::ordered_json::array();
      for (const msgstore::IndexProblem& p : r.problems) {
        list.push_back({{"problem", p.kind},
                        {"folder", FolderName(s, p.folder)},
                        {"id", p.id},
                        {"text", p.text}});
        problems += (whole ? std::string(s.name) + " " : "") + r.name + ": " + p.text + '\n';
        if (p.lasting()) why.insert(Lasting(s, p.kind));
      }
      indexes.push_back({{"index", FolderName(s, r.folder)},
                         {"account", r.account != 0 ? nlohmann::ordered_json(r.account)
                                                    : nlohmann::ordered_json()},
                         {"files", r.files},
                         {"records", r.records},
                         {"problems", list}});
      row(s.name, {r.name, std::to_string(r.files), std::to_string(r.records),
                   r.problems.empty() ? "ok" : Counted(r.problems.size(), "problem")});
    }
    row(s.name, {"counter", "", "", store.counter.State()});
    differing += store.differing();
    if (!store.counter.ok()) {
      badCounters.push_back("the identifier counter " + s.CounterFileName() +
                            " is damaged or behind the stored messages");
      why.insert("the counter file " + s.CounterFileName() + " cannot be written");
    }
    // Every key is there also without --fix: what it did is then nothing.
    nlohmann::ordered_json j = {
        {"indexes", indexes},
        {"counter", {{"ok", store.counter.ok()}, {"state", store.counter.State()}}},
        {"rebuilt", fix ? repair.stores[i].rebuilt : std::vector<std::string>()},
        {"counter_set", fix && repair.stores[i].counterSet}};
    if (whole)
      json["stores"][s.name] = j;
    else
      json.update(j);
  }
  if (whole) row(kAccountsPart, {"database", "", "", AccountState(accounts)});
  if (!temps.empty()) row("", {"temp", "", "", tempState});

  if (ctx.json) {
    if (whole)
      json["accounts"] = {{"ok", accounts.ok()},
                          {"state", AccountState(accounts)},
                          {"counter_set", fix && repair.accountCounterSet}};
    json["temporary_files"] = temps;
    json["temporary_files_removed"] = removed;
    PrintJson(json);
  } else {
    for (const msgstore::RepairReport::Store& done : repair.stores) {
      const std::string of = whole ? std::string(" of ") + done.store->name : "";
      if (!done.rebuilt.empty())
        std::cout << "rebuilt the index files" << of << " of " << JoinList(done.rebuilt) << "\n";
      if (done.counterSet)
        std::cout << "set the identifier counter " << done.store->CounterFileName() << " to "
                  << done.counterValue << "\n";
    }
    if (repair.accountCounterSet)
      std::cout << "set the account identifier counter to " << accounts.counter << "\n";
    if (!removed.empty())
      std::cout << "removed " << Counted(removed.size(), "temporary file")
                << " left by writers that died\n";
    table.Print(std::cout);
    std::cout << problems;
    for (const std::string& t : temps) std::cout << "temp: " << t << '\n';
  }
  if (report.ok()) return 0;
  std::vector<std::string> parts;
  if (differing != 0)
    parts.push_back(Counted(differing, "index differs", "indexes differ") + " from the folders");
  if (!temps.empty()) parts.push_back(tempState);
  parts.insert(parts.end(), badCounters.begin(), badCounters.end());
  if (!accounts.ok()) parts.push_back(accounts.problem);
  std::string line = JoinList(parts, " and ");
  if (fix) {
    if (!temps.empty()) why.insert("temporary files that cannot be removed stay");
    if (!accounts.ok())
      why.insert(accounts.readable ? "the registry's account counter cannot be written"
                                   : "the account store cannot read the rest of its database, "
                                     "which stays as it is");
    line += " after the repair" + (why.empty() ? "" : ": " + JoinList(why, "; "));
  } else {
    const std::string command =
        whole ? "msgstore check --fix" : CommandLine(*report.stores[0].store, "check", "--fix");
    line += " (" + command +
            (parts.size() > 1       ? " repairs them)"
             : differing != 0       ? " rebuilds them)"
             : !badCounters.empty() ? " repairs it)"
             : !accounts.ok()       ? " repairs what it can)"
                                    : " removes them)");
  }
  std::cout.flush();
  std::cerr << "msgstore: " << line << '\n';
  return 1;
}

}  // namespace

void AddIndexCommands(CLI::App& app, Context& ctx, Commands& commands) {
  struct Args {
    std::string store;
    bool all = false, fix = false;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd =
      app.add_subcommand("refresh", "Rebuild the phone index files (of every store without one)");
  AddStoreArgument(cmd, &args->store);
  cmd->add_flag("--all", args->all,
                "Rebuild every index, also those the store keeps when they exist");
  commands.On(cmd, [&ctx, args] { return Refresh(ctx, args->store, args->all); });

  cmd = app.add_subcommand("check",
                           "Compare each phone index with its folders, each identifier counter "
                           "with the identifiers in use and, without a store, the account "
                           "database with its counter; exit 1 when they differ");
  AddStoreArgument(cmd, &args->store);
  cmd->add_flag("--fix", args->fix,
                "Rebuild the indexes that differ, raise the counters that are behind, remove "
                "temporary files of writers that died, and check again");
  commands.On(cmd, [&ctx, args] { return CheckCommand(ctx, args->store, args->fix); });
}

}  // namespace tool

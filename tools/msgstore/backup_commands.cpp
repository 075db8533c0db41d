// export and import (see backup.h for the format). An import reads and
// checks the whole file first (backup_read.cpp), then hands everything to
// the library's restore, which writes nothing when a message would replace a
// stored one (unless --replace), puts each message back under its
// identifier, storage and place in its index, the accounts in their
// database's order, and raises the counters to what was exported.
#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "backup.h"
#include "commands.h"
#include "msgstore/maintenance.h"
#include "msgstore/platform.h"
#include "output.h"
#include "records.h"
#include "text.h"

namespace tool {
namespace {

using OrderedJson = nlohmann::ordered_json;

// What a command line's STORE words select.
struct Selection {
  std::vector<const StoreDescription*> stores;
  bool accounts = false;
};

Selection Select(const std::vector<std::string>& words) {
  Selection sel;
  if (words.empty()) return {Stores(), true};
  for (const std::string& word : words) {
    if (word == kAccountsPart) {
      sel.accounts = true;
      continue;
    }
    const StoreDescription* s = msgstore::StoreNamed(word);
    if (s == nullptr)
      throw UsageError("unknown store '" + word + "' (stores: " + StoreNames() + ", " +
                       kAccountsPart + ")");
    if (std::find(sel.stores.begin(), sel.stores.end(), s) == sel.stores.end())
      sel.stores.push_back(s);
  }
  return sel;
}

// ---------------------------------------------------------------------------
// export

// The handset's SMS counters, with the store that keeps them in step.
OrderedJson HandsetCounters(const StoreDescription& s) {
  OrderedJson values = OrderedJson::object();
  for (const msgstore::DefaultPlatform::CounterName& c : msgstore::DefaultPlatform::Counters())
    values[c.name] = msgstore::DefaultPlatform::GetCounter(c.name);
  return {{"type", kHandsetCountersType}, {"store", s.name}, {"values", values}};
}

// The records of the store's phone indexes, by (index folder, account).
using Indexes = std::map<std::pair<DWORD, DWORD>, std::vector<Location>>;

Indexes ReadIndexes(Context& ctx, const StoreDescription& s) {
  Indexes all;
  for (const FolderDescription& f : s) {
    if (f.indexFolder != f.number) continue;
    for (const Location& r : ctx.store(s).IndexRecords(f.number).records)
      all[{f.number, r.account}].push_back(r);
  }
  return all;
}

OrderedJson IndexPosition(const StoreDescription& s, const Location& at, const Indexes& indexes) {
  if (at.card) return nullptr;
  auto it = indexes.find({s.Folder(at.folder)->indexFolder, at.account});
  if (it == indexes.end()) return nullptr;
  for (size_t i = 0; i < it->second.size(); ++i)
    if (it->second[i].id == at.id && it->second[i].folder == at.folder) return i;
  return nullptr;
}

// The lines of an export as they are written, and what the closing line
// counts of them.
struct Written {
  size_t lines = 0;
  std::map<std::string, size_t> messages;  // by store name
  size_t accounts = 0;
  void Line(const OrderedJson& j) {
    PrintJsonLine(j);
    ++lines;
  }
};

// Writes the account lines; false when the database holds records that the
// store's lookups do not reach, which are then missing from the export.
bool ExportAccounts(Context& ctx, Written* out) {
  msgstore::CheckOptions database;
  database.stores.clear();
  database.temps = false;
  const msgstore::AccountReport report = msgstore::Check(*ctx.device, database).accounts;
  const msgstore::AccountListResult saved = ctx.accounts().Saved();
  const bool present = report.present && saved;
  OrderedJson j = {{"type", "accounts"}, {"database", present}};
  j["database_size"] = present ? OrderedJson(report.bytes) : OrderedJson(nullptr);
  j["counter"] = report.counter != 0 ? OrderedJson(report.counter) : OrderedJson(nullptr);
  const DWORD incoming = ctx.accounts().IncomingServer();
  j["incoming_server"] = incoming != 0 ? OrderedJson(incoming) : OrderedJson(nullptr);
  j["incoming_server_name"] =
      incoming != 0 ? OrderedJson(ctx.accounts().IncomingServerName()) : OrderedJson(nullptr);
  out->Line(j);
  const std::vector<msgstore::Account> none;
  const std::vector<msgstore::Account>& accounts = present ? saved.accounts : none;
  for (size_t i = 0; i < accounts.size(); ++i) {
    const msgstore::Account& a = accounts[i];
    OrderedJson line = {{"type", "account"}, {"position", i},
                        {"id", a.id},        {"folder", a.folder},
                        {"data", a.data},    {"wdata1", a.data1},
                        {"wdata2", a.data2}, {"text", Utf16ToUtf8(a.text)}};
    if (Utf8ToUtf16(Utf16ToUtf8(a.text)) != a.text) {
      const std::vector<BYTE> bytes = Utf16LeBytes(a.text);
      line["text_utf16_base64"] = Base64Encode(bytes.data(), bytes.size());
    }
    out->Line(line);
    ++out->accounts;
  }
  if (!report.readable) Warn(report.problem + ": accounts it cannot reach are left out");
  return report.readable;
}

int Export(Context& ctx, const Selection& sel) {
  OrderedJson header = {{"format", kFormat}, {"version", kVersion}};
  OrderedJson names = OrderedJson::array();
  for (const StoreDescription* s : sel.stores) names.push_back(s->name);
  header["stores"] = names;
  header["accounts"] = sel.accounts;
  header["card_inserted"] = ctx.device->CardInserted();
  OrderedJson trees = OrderedJson::object();
  for (bool card : {false, true}) {
    OrderedJson made = OrderedJson::array();
    for (const StoreDescription* s : sel.stores)
      if (ctx.store(*s).TreeMade(card)) made.push_back(s->name);
    trees[StorageKey(card)] = made;
  }
  header["trees"] = trees;
  Written out;
  out.Line(header);

  std::vector<std::vector<Location>> messages;
  size_t total = 0;
  for (const StoreDescription* s : sel.stores) {
    messages.push_back(ctx.store(*s).List().messages);
    total += messages.back().size();
  }
  Progress progress("export", total);
  size_t damaged = 0, done = 0;
  for (size_t i = 0; i < sel.stores.size(); ++i) {
    const StoreDescription& s = *sel.stores[i];
    const msgstore::CounterReport counter = msgstore::CheckCounter(*ctx.device, s.kind);
    out.Line({{"type", "counter"},
              {"store", s.name},
              {"file", CounterFile(s)},
              {"value", counter.sound ? OrderedJson(counter.value) : OrderedJson(nullptr)}});
    if (KeepsHandsetCounters(s)) out.Line(HandsetCounters(s));
    out.messages[s.name] = 0;
    // Before any message is read, so that nothing the reads do can move a
    // record.
    const Indexes indexes = ReadIndexes(ctx, s);
    for (const Location& at : messages[i]) {
      const msgstore::ReadResult read = ctx.store(s).Read(at, true);
      if (!read) {
        ++damaged;
        Warn(read.error + ": left out");
      } else {
        OrderedJson j = {{"type", "message"}, {"store", s.name}};
        AddRecordJson(s, at, read.record, true, &j);
        AddExactJson(s, read.record, &j);
        j["index_position"] = IndexPosition(s, at, indexes);
        out.Line(j);
        ++out.messages[s.name];
      }
      progress.Step(++done);
    }
  }
  const bool accountsWhole = !sel.accounts || ExportAccounts(ctx, &out);
  // An export that left something out has no closing line: an import
  // refuses it as incomplete.
  if (damaged == 0 && accountsWhole) {
    OrderedJson counts = OrderedJson::object();
    for (const StoreDescription* s : sel.stores) counts[s->name] = out.messages[s->name];
    PrintJsonLine({{"type", kClosingType},
                   {"lines", out.lines},
                   {"messages", counts},
                   {"accounts", sel.accounts ? OrderedJson(out.accounts) : OrderedJson(nullptr)}});
  }
  if (damaged != 0)
    throw Failure(std::to_string(damaged) + " of " + std::to_string(total) +
                  " messages could not be read and are missing from the export");
  if (!accountsWhole) throw Failure("the export is missing accounts of a damaged account database");
  return 0;
}

// ---------------------------------------------------------------------------
// import

struct ImportArgs {
  std::string file;
  bool replace = false, yes = false, dryRun = false;
};

int Import(Context& ctx, const ImportArgs& args) {
  const std::string& file = args.file;
  const bool replace = args.replace;
  const Backup backup = ReadBackup(file);
  // A dry run writes nothing, not even the device's directories.
  OpenDevice(&ctx, !args.dryRun,
             "the import makes it and writes everything the file holds; nothing imported: "
             "--dry-run");
  const Backup::Header& h = backup.header;
  msgstore::Restorer restore(*ctx.device);
  for (const Backup::Message& m : backup.messages)
    restore.Add(m.store->kind, m.at, m.record, m.indexPosition, "line " + std::to_string(m.line));
  for (const auto& [store, counter] : backup.counters)
    if (counter.value) restore.SetCounter(store->kind, *counter.value);
  for (const auto& [store, card] : h.trees) restore.MakeTree(store->kind, card);
  for (const auto& [name, value] : backup.handsetCounters) restore.SetHandsetCounter(name, value);
  const bool withAccounts = h.accounts && backup.database.has_value();
  if (withAccounts) {
    for (const Backup::Account& a : backup.accounts) restore.AddAccount(a.account, a.position);
    const Backup::Database& d = *backup.database;
    restore.SetAccountDatabase(d.existed, d.size.value_or(0), d.counter.value_or(0));
    if (d.incomingServer) restore.SetIncomingServer(*d.incomingServer, d.incomingServerName);
  }
  msgstore::Restorer::Report report;
  if (args.dryRun || (replace && !args.yes)) {
    Require(restore.Preview(replace, &report));
    if (!args.dryRun)
      Confirm("replace " + std::to_string(report.replacedMessages) + " stored messages and " +
                  std::to_string(report.replacedAccounts) + " stored accounts with those of " +
                  (file == "-" ? std::string("standard input") : file),
              args.yes, "imported");
  }
  if (!args.dryRun) {
    Progress progress("import", backup.messages.size());
    Require(restore.Commit(replace, &report, [&](size_t done, size_t) { progress.Step(done); }));
    progress.Done();
  }
  for (const msgstore::Restorer::Report::Skipped& skipped : report.skipped) {
    const StoreDescription& s = msgstore::Describe(skipped.store);
    Warn(skipped.source + ": " + s.name + " message " + std::to_string(skipped.at.id) + " of the " +
         FolderName(s, skipped.at.folder) +
         " folder cannot be restored: the store writes no message there");
  }

  auto written = [&](const StoreDescription* s) {
    return report.written[static_cast<int>(s->kind)];
  };
  size_t total = 0;
  for (const StoreDescription* s : h.stores) total += written(s);
  const size_t replaced = report.replacedMessages, accountsReplaced = report.replacedAccounts;
  if (ctx.json) {
    OrderedJson j = {{"file", file}, {"dry_run", args.dryRun}};
    OrderedJson counts = OrderedJson::object();
    for (const StoreDescription* s : h.stores) counts[s->name] = written(s);
    j["messages"] = counts;
    j["accounts"] = report.accounts;
    j["replaced_messages"] = replaced;
    j["replaced_accounts"] = accountsReplaced;
    j["skipped"] = report.skipped.size();
    j["handset_counters"] = report.handsetCounters;
    j["incoming_server_account"] =
        report.incomingServer != 0 ? OrderedJson(report.incomingServer) : OrderedJson();
    PrintJson(j);
  } else {
    std::string per;
    for (const StoreDescription* s : h.stores)
      per += (per.empty() ? "" : ", ") + std::string(s->name) + " " + std::to_string(written(s));
    std::cout << (args.dryRun ? "would import " : "imported ") << total
              << (total == 1 ? " message" : " messages") << (per.empty() ? "" : " (" + per + ")");
    if (withAccounts)
      std::cout << " and " << report.accounts << (report.accounts == 1 ? " account" : " accounts");
    std::cout << '\n';
    if (replaced + accountsReplaced != 0)
      std::cout << (args.dryRun ? "would replace " : "replaced ") << replaced
                << (replaced == 1 ? " stored message" : " stored messages") << " and "
                << accountsReplaced
                << (accountsReplaced == 1 ? " stored account" : " stored accounts") << '\n';
    // An import sets them as exported without a word; a dry run says so.
    if (args.dryRun && report.handsetCounters != 0)
      std::cout << "would set " << report.handsetCounters
                << (report.handsetCounters == 1 ? " handset counter" : " handset counters") << '\n';
    if (args.dryRun && report.incomingServer != 0)
      std::cout << "would name account " << report.incomingServer
                << " the incoming-server account\n";
    if (args.dryRun) std::cout << "nothing imported: --dry-run\n";
  }
  if (!report.skipped.empty() && !args.dryRun)
    throw Failure(std::to_string(report.skipped.size()) + " of " +
                  std::to_string(backup.messages.size()) + " messages could not be restored");
  return 0;
}

}  // namespace

void AddBackupCommands(CLI::App& app, Context& ctx, Commands& commands) {
  const std::string names = StoreNames() + ", " + kAccountsPart;
  auto parts = std::make_shared<std::vector<std::string>>();
  CLI::App* cmd = app.add_subcommand(
      "export",
      "Every message of the stores on both storages and every e-mail account, one JSON object a "
      "line after a line naming the format; content in base64");
  cmd->add_option("STORE", *parts, "Only these parts: " + names + " (default: all)")->type_name("");
  commands.On(cmd, [&ctx, parts] { return Export(ctx, Select(*parts)); });

  auto import = std::make_shared<ImportArgs>();
  cmd = app.add_subcommand(
      "import",
      "Restore an export onto the device: the messages under their identifiers, the indexes in "
      "their order, the accounts and the counters; the whole file is checked first");
  cmd->add_option("FILE", import->file, "The export ('-' for standard input)")
      ->required()
      ->type_name("FILE");
  cmd->add_flag("--replace", import->replace,
                "Replace stored messages and accounts that have an imported one's identifier "
                "(without it, the import then changes nothing); asks first on a terminal");
  cmd->add_flag("--yes", import->yes, "Replace without asking (needed when not on a terminal)");
  cmd->add_flag("--dry-run", import->dryRun,
                "Check the file and say what would be imported and replaced, import nothing");
  commands.On(cmd, [&ctx, import] { return Import(ctx, *import); });
  commands.MakesRoot(cmd);
}

}  // namespace tool

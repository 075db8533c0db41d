// export and import (see backup.h for the format). An import reads and
// checks the whole file first (backup_read.cpp), then hands everything to
// the library's restore, which puts back each message, account and counter.
#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "backup.h"
#include "commands.h"
#include "msgstore/maintenance.h"
#include "msgstore/platform.h"
#include "output.h"
#include "records.h"

namespace tool {
namespace {

using OrderedJson = nlohmann::ordered_json;

// What a message line adds so that an import gives the record back exactly:
// a read flag other than 0 and 1 ("read_value"), and a text that UTF-8
// cannot carry as its UTF-16LE bytes (AddExactText).
void AddExactText(const std::string& key, const std::u16string& units, OrderedJson* j) {
  if (Utf8ToUtf16(Utf16ToUtf8(units)) == units) return;
  const std::vector<BYTE> bytes = Utf16LeBytes(units);
  (*j)[Utf16Key(key)] = Base64Encode(bytes.data(), bytes.size());
}

void AddExactJson(const StoreDescription& s, const Record& r, OrderedJson* j) {
  for (const RecordField* f : FieldsOf(s)) {
    if (f->type == RecordField::kBool && f->Value<BOOL>(r) != 0 && f->Value<BOOL>(r) != 1)
      (*j)[std::string(f->key) + "_value"] = f->Value<BOOL>(r);
    if (f->type == RecordField::kText) AddExactText(f->key, f->Value<std::u16string>(r), j);
  }
}

// What a command line's STORE words select.
struct Selection {
  std::vector<const StoreDescription*> stores;
  bool accounts = false;
};

Selection Select(const std::vector<std::string>& words) {
  if (words.empty()) return {Stores(), true};
  Selection sel;
  for (const std::string& word : words) {
    const StoreDescription* s = msgstore::StoreNamed(word);
    if (word == kAccountsPart)
      sel.accounts = true;
    else if (s == nullptr)
      throw UsageError("unknown store '" + word + "' (stores: " + StoreNames() + ", " +
                       kAccountsPart + ")");
    else if (std::find(sel.stores.begin(), sel.stores.end(), s) == sel.stores.end())
      sel.stores.push_back(s);
  }
  return sel;
}

OrderedJson NullUnless(bool given, OrderedJson value) {
  return given ? value : OrderedJson(nullptr);
}

using Line = std::function<void(const OrderedJson&)>;

// Writes the account lines; the number of accounts, none when the database
// holds records that the store's lookups do not reach, which are then
// missing from the export.
std::optional<size_t> ExportAccounts(Context& ctx, const Line& line) {
  const msgstore::AccountDatabase db = ctx.accounts().Database();
  const bool present = db.present && db;
  const DWORD counter = db.counter.value_or(0);  // 0 written as unset
  const DWORD incoming = ctx.accounts().IncomingServer();
  line({{"type", "accounts"},
        {"database", present},
        {"database_size", NullUnless(present, db.bytes)},
        {"counter", NullUnless(counter != 0, counter)},
        {"incoming_server", NullUnless(incoming != 0, incoming)},
        {"incoming_server_name", NullUnless(incoming != 0, ctx.accounts().IncomingServerName())}});
  for (size_t i = 0; i < db.accounts.size(); ++i) {
    const msgstore::Account& a = db.accounts[i];
    OrderedJson j = {{"type", "account"}, {"position", i},
                     {"id", a.id},        {"folder", a.folder},
                     {"data", a.data},    {"wdata1", a.data1},
                     {"wdata2", a.data2}, {"text", Utf16ToUtf8(a.text)}};
    AddExactText("text", a.text, &j);
    line(j);
  }
  if (db.whole) return db.accounts.size();
  Warn(db.problem + ": accounts it cannot reach are left out");
  return std::nullopt;
}

int Export(Context& ctx, const Selection& sel) {
  OrderedJson header = {
      {"format", kFormat},
      {"version", kVersion},
      {"stores", OrderedJson::array()},
      {"accounts", sel.accounts},
      {"card_inserted", ctx.device->CardInserted()},
      {"trees",
       {{StorageKey(false), OrderedJson::array()}, {StorageKey(true), OrderedJson::array()}}}};
  for (const StoreDescription* s : sel.stores) header["stores"].push_back(s->name);
  for (bool card : {false, true})
    for (const StoreDescription* s : sel.stores)
      if (ctx.store(*s).TreeMade(card)) header["trees"][StorageKey(card)].push_back(s->name);
  size_t lines = 0;  // what the closing line counts
  const Line line = [&lines](const OrderedJson& j) {
    PrintJsonLine(j);
    ++lines;
  };
  line(header);

  std::vector<std::vector<Location>> messages;
  size_t total = 0;
  for (const StoreDescription* s : sel.stores) {
    messages.push_back(ctx.store(*s).List().messages);
    total += messages.back().size();
  }
  Progress progress("export", total);
  size_t damaged = 0, done = 0;
  OrderedJson counts = OrderedJson::object();
  for (size_t i = 0; i < sel.stores.size(); ++i) {
    const StoreDescription& s = *sel.stores[i];
    const msgstore::CounterReport counter = msgstore::CheckCounter(*ctx.device, s.kind);
    line({{"type", "counter"},
          {"store", s.name},
          {"file", s.CounterFileName()},
          {"value", NullUnless(counter.sound, counter.value)}});
    if (KeepsHandsetCounters(s)) {
      OrderedJson values = OrderedJson::object();
      for (const msgstore::DefaultPlatform::CounterName& c : msgstore::DefaultPlatform::Counters())
        values[c.name] = msgstore::DefaultPlatform::GetCounter(c.name);
      line({{"type", kHandsetCountersType}, {"store", s.name}, {"values", values}});
    }
    // Before any message is read, so that nothing the reads do can move a
    // record.
    std::map<std::tuple<DWORD, DWORD, DWORD>, size_t> places;  // by folder, identifier, account
    for (const msgstore::IndexPlace& p : ctx.store(s).IndexPlaces())
      places.emplace(std::make_tuple(p.at.folder, p.at.id, p.at.account), p.position);
    size_t written = 0;
    for (const Location& at : messages[i]) {
      const msgstore::ReadResult read = ctx.store(s).Read(at, true);
      if (!read) {
        ++damaged;
        Warn(read.error + ": left out");
      } else {
        OrderedJson j =
            RecordJson(s, at, read.record, true, {{"type", "message"}, {"store", s.name}});
        AddExactJson(s, read.record, &j);
        const auto place = places.find({at.folder, at.id, at.account});
        j["index_position"] =
            !at.card && place != places.end() ? OrderedJson(place->second) : OrderedJson(nullptr);
        line(j);
        ++written;
      }
      progress.Step(++done);
    }
    counts[s.name] = written;
  }
  const std::optional<size_t> accounts = sel.accounts ? ExportAccounts(ctx, line) : 0;
  // An export that left something out has no closing line: an import
  // refuses it as incomplete.
  if (damaged == 0 && accounts)
    PrintJsonLine({{"type", kClosingType},
                   {"lines", lines},
                   {"messages", counts},
                   {"accounts", NullUnless(sel.accounts, *accounts)}});
  if (damaged != 0)
    throw Failure(std::to_string(damaged) + " of " + std::to_string(total) +
                  " messages could not be read and are missing from the export");
  if (!accounts) throw Failure("the export is missing accounts of a damaged account database");
  return 0;
}

struct ImportArgs {
  std::string file;
  bool replace = false, yes = false, dryRun = false;
};

int Import(Context& ctx, const ImportArgs& args) {
  const Backup backup = ReadBackup(args.file);
  // A dry run writes nothing, not even the device's directories.
  OpenDevice(&ctx, !args.dryRun,
             "the import makes it and writes everything the file holds; nothing imported: "
             "--dry-run");
  msgstore::Restorer restore(*ctx.device);
  for (const Backup::Message& m : backup.messages)
    restore.Add(m.store->kind, m.at, m.record, m.indexPosition, "line " + std::to_string(m.line));
  for (const auto& [store, counter] : backup.counters)
    if (counter.value) restore.SetCounter(store->kind, *counter.value);
  for (const auto& [store, card] : backup.trees) restore.MakeTree(store->kind, card);
  for (const auto& [name, value] : backup.handsetCounters) restore.SetHandsetCounter(name, value);
  if (backup.database) {  // only in an export that holds the accounts
    for (const auto& [position, account] : backup.accounts) restore.AddAccount(account, position);
    const Backup::Database& d = *backup.database;
    restore.SetAccountDatabase(d.existed, d.size.value_or(0), d.counter.value_or(0));
    if (d.incomingServer) restore.SetIncomingServer(*d.incomingServer, d.incomingServerName);
  }
  msgstore::Restorer::Report report;
  if (args.dryRun || (args.replace && !args.yes)) {
    Require(restore.Preview(args.replace, &report));
    if (!args.dryRun)
      Confirm("replace " + std::to_string(report.replacedMessages) + " stored messages and " +
                  std::to_string(report.replacedAccounts) + " stored accounts with those of " +
                  (args.file == "-" ? std::string("standard input") : args.file),
              args.yes, "imported");
  }
  if (!args.dryRun) {
    Progress progress("import", backup.messages.size());
    Require(
        restore.Commit(args.replace, &report, [&](size_t done, size_t) { progress.Step(done); }));
    progress.Done();
  }
  for (const msgstore::Restorer::Report::Skipped& skipped : report.skipped) {
    const StoreDescription& s = msgstore::Describe(skipped.store);
    Warn(skipped.source + ": " + s.name + " message " + std::to_string(skipped.at.id) + " of the " +
         FolderName(s, skipped.at.folder) +
         " folder cannot be restored: the store writes no message there");
  }

  OrderedJson counts = OrderedJson::object();
  size_t total = 0;
  std::string per;  // "sms 4, mms 3"
  for (const StoreDescription* s : backup.stores) {
    const size_t written = report.written[static_cast<int>(s->kind)];
    counts[s->name] = written;
    total += written;
    per += (per.empty() ? "" : ", ") + std::string(s->name) + " " + std::to_string(written);
  }
  if (ctx.json) {
    PrintJson({{"file", args.file},
               {"dry_run", args.dryRun},
               {"messages", counts},
               {"accounts", report.accounts},
               {"replaced_messages", report.replacedMessages},
               {"replaced_accounts", report.replacedAccounts},
               {"skipped", report.skipped.size()},
               {"handset_counters", report.handsetCounters},
               {"incoming_server_account",
                NullUnless(report.incomingServer != 0, report.incomingServer)}});
  } else {
    std::cout << (args.dryRun ? "would import " : "imported ") << Counted(total, "message")
              << (per.empty() ? "" : " (" + per + ")")
              << (backup.database ? " and " + Counted(report.accounts, "account") : "") << '\n';
    if (report.replacedMessages + report.replacedAccounts != 0)
      std::cout << (args.dryRun ? "would replace " : "replaced ")
                << Counted(report.replacedMessages, "stored message") << " and "
                << Counted(report.replacedAccounts, "stored account") << '\n';
    // An import sets them as exported without a word; a dry run says so.
    if (args.dryRun && report.handsetCounters != 0)
      std::cout << "would set " << Counted(report.handsetCounters, "handset counter") << '\n';
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

// The message commands of every store (ls, show, add, mark, mv, rm, empty), count and settle.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <tuple>
#include <utility>

#include "commands.h"
#include "msgstore/maintenance.h"
#include "output.h"
#include "records.h"

namespace tool {
namespace {

using msgstore::Refusal;
using msgstore::WriteResult;
using Json = nlohmann::ordered_json;

// The options of every store command, one set: a run parses one command's.
struct Args {
  std::string folder, account, id, status, readReport, text, body, time;
  std::vector<std::string> ids;               // mark, mv, rm
  std::map<std::string, std::string> fields;  // add's record fields by key ("to", the store's own)
  bool index = false, idsOnly = false, unread = false, raw = false, read = false;
  bool autoStorage = false, yes = false, dryRun = false;
};

// The --account of a per-account folder (0: not given): a number as it is,
// for a removed account's messages stay; a text names an account.
DWORD ParseAccount(Context& ctx, const StoreDescription& s, const std::string& text) {
  if (text.empty()) return 0;
  uint64_t id = 0;
  if (!ParseUnsigned(text, 0xFFFFFFFFu, &id)) return ResolveAccount(ctx, text);
  if (id < s.firstAccountFolder)
    throw UsageError("--account '" + text + "' is not an account identifier (" +
                     std::to_string(s.firstAccountFolder) +
                     " to 4294967295) nor an account's name");
  return static_cast<DWORD>(id);
}

// The folder of ls and empty on the storage of --card: --account only for the
// per-account folder; a folder path when what ("listed", "emptied") is given.
void RequireFolder(Context& ctx, const StoreDescription& s, DWORD folder, DWORD account,
                   const char* what) {
  if (account != 0 && !s.Folder(folder)->perAccount)
    throw Failure("--account applies to the " + FolderName(s, s.AccountFolder()->number) +
                  " only: folder " + FolderName(s, folder) + " is not divided by account");
  if (ctx.card) RequireCard(ctx);
  if (what != nullptr && !s.Folder(folder)->hasFolderPath)
    throw Failure("folder " + FolderName(s, folder) + " cannot be " + what +
                  ": the store keeps its messages by file name only (show, mark, mv and rm find "
                  "them by identifier)");
}

DWORD ParseMessageId(const std::string& text) {
  uint64_t id = 0;
  if (!ParseUnsigned(text, 0xFFFFFFFFu, &id) || id == 0)
    throw UsageError("'" + text + "' is not a message identifier (1 to 4294967295)");
  return static_cast<DWORD>(id);
}

// The identifiers of a command line, "-" standing for those on standard
// input; every word is checked before anything is done.
std::vector<DWORD> ParseMessageIds(const std::vector<std::string>& words) {
  std::vector<DWORD> ids;
  bool fromInput = false;
  for (const std::string& word : words) {
    if (word != "-") {
      ids.push_back(ParseMessageId(word));
      continue;
    }
    if (std::exchange(fromInput, true)) throw UsageError("'-' (standard input) can be given once");
    const size_t before = ids.size();
    for (std::string read; std::cin >> read;) ids.push_back(ParseMessageId(read));
    if (std::cin.bad()) throw Failure("cannot read the identifiers from standard input");
    if (ids.size() == before) throw UsageError("no message identifier on standard input");
  }
  return ids;
}

// The message on the storage of --card.
Location Locate(Context& ctx, const StoreDescription& s, DWORD id) {
  if (ctx.card) RequireCard(ctx);
  const msgstore::Store& store = ctx.store(s);
  if (std::optional<Location> at = store.Find(id, ctx.card)) return *at;
  std::string message = "no message " + std::to_string(id) + " in " + StorageName(ctx.card);
  if (!ctx.card && ctx.device->CardInserted() && store.Find(id, true))
    message += " (it is on the memory card: add --card)";
  throw Failure(message);
}

// A message as ls lists it: its index time for the order (0 when it cannot
// be read), what --json prints of it and its row of the table, every column.
struct ListRow {
  Location at{};
  bool readable = false;
  uint64_t ticks = 0;
  Json j;
  std::vector<std::string> cells;
};

std::string NumberCell(DWORD n) { return n == 0 ? "-" : std::to_string(n); }

// The row of a message, its one-line summary only when summary (ls --ids
// prints none); of one that cannot be read, the row of what stands for it:
// its file (damaged or not), a file the store does not name (stray), or none.
ListRow ReadRow(Context& ctx, const StoreDescription& s, const Location& at, bool summary,
                const std::string& stray = "") {
  msgstore::ReadResult read;
  if (stray.empty()) read = ctx.store(s).Read(at, false);
  const bool file = !stray.empty() || read.status != msgstore::Status::kNotFound;
  ListRow row{at, stray.empty() && read, 0, Json(), {}};
  row.cells = {NumberCell(at.id), NumberCell(at.account), FolderName(s, at.folder)};
  if (row.readable) {
    std::string text = summary ? Summary(read.record) : "";
    if (summary && text.empty()) {
      // The record was read without content; the text shows only with it.
      const msgstore::ReadResult full = ctx.store(s).Read(at, true);
      if (full) text = Summary(full.record);
    }
    row.ticks = Ticks(read.record.indexTime);
    row.j = RecordJson(s, at, read.record, false);
    TicksAsText(s, &row.j);
    row.j["summary"] = text;
    row.cells.insert(row.cells.end(),
                     {FormatTime(read.record.indexTime, false),
                      read.record.read != 0 ? "yes" : "no", std::to_string(read.record.status),
                      CellText(Utf16ToUtf8(read.record.to), 24), CellText(text, 48)});
  } else {
    if (file)
      Warn(stray.empty() ? read.error
                         : "the " + Where(s, at.card, at.folder) + " holds file " + stray +
                               " (not named by a message identifier)");
    row.j = NullRecordJson(s, at);
    if (row.j.contains("account") && at.account != 0) row.j["account"] = at.account;
    row.j["summary"] = nullptr;
    row.cells.insert(row.cells.end(),
                     {"-", "-", "-", "-",
                      !stray.empty() ? "file " + stray + " (not named by a message identifier)"
                      : !file        ? "(index record without a file)"
                      : read.damaged ? "(damaged: cannot be read)"
                                     : "(cannot be opened)"});
  }
  row.j.update({{"damaged", read.damaged}, {"file", file}, {"file_name", OrNull(stray)}});
  return row;
}

int ListMessages(Context& ctx, const StoreDescription& s, const Args& args) {
  if (args.idsOnly && ctx.json)
    throw UsageError("--ids and --json cannot be given together: --ids prints identifiers only");
  const DWORD account = ParseAccount(ctx, s, args.account);
  const bool every = args.folder.empty();
  if (every && args.index)
    throw UsageError("--index needs a FOLDER: each index lists the records of its own folders");
  const std::vector<DWORD> folders = !every ? std::vector<DWORD>{ParseFolder(s, args.folder)}
                                     : account != 0 ? std::vector<DWORD>{s.AccountFolder()->number}
                                                    : msgstore::ListedFolders(s, ctx.card);
  const DWORD folder = folders.front();
  // Every folder of the list has a folder path: one given is checked.
  RequireFolder(ctx, s, folder, account, args.index ? nullptr : "listed");
  std::vector<ListRow> rows;
  auto add = [&](ListRow row) {
    if (!args.unread || (row.readable && !row.j["read"].get<bool>()))
      rows.push_back(std::move(row));
  };
  if (!args.index) {
    for (DWORD number : folders) {
      const msgstore::ListResult listed = Required(ctx.store(s).List(ctx.card, number));
      for (const msgstore::StrayFile& stray : listed.strays)
        add(ReadRow(ctx, s, stray.at, false, stray.name));
      for (const Location& at : listed.messages)
        if (account == 0 || at.account == account) add(ReadRow(ctx, s, at, !args.idsOnly));
    }
    std::stable_sort(rows.begin(), rows.end(), [](const ListRow& a, const ListRow& b) {
      return std::tie(a.readable, a.ticks, a.at.id) > std::tie(b.readable, b.ticks, b.at.id);
    });
  } else {
    if (ctx.card) throw Failure("the memory card has no index files: list it without --index");
    const msgstore::IndexResult index = Required(ctx.store(s).IndexRecords(folder, account));
    for (const Location& at : index.records) add(ReadRow(ctx, s, at, !args.idsOnly));
  }

  if (args.idsOnly) {
    for (const ListRow& row : rows)
      if (row.at.id != 0) std::cout << row.at.id << '\n';
    return 0;
  }
  Json out = Json::array();
  for (const ListRow& row : rows) out.push_back(row.j);
  if (PrintedJson(ctx.json, out)) return 0;
  if (rows.empty()) {
    std::cout << "no " << (args.unread ? "unread " : "") << "messages in "
              << (every && folders.size() > 1
                      ? "the " + std::string(s.name) + " folders of " + StorageName(ctx.card)
                      : Where(s, ctx.card, folder))
              << (args.index ? " index" : "") << '\n';
    return 0;
  }
  // The columns shown of every row's: ACCOUNT for messages kept by account,
  // FOLDER for several folders or an index.
  const bool byAccount = every ? s.HasAccounts() : s.Folder(folder)->perAccount;
  auto shown = [&](auto cells) {
    if (!args.index && folders.size() == 1) cells.erase(cells.begin() + 2);
    if (!byAccount) cells.erase(cells.begin() + 1);
    return cells;
  };
  Table table(shown(std::vector<std::string>{"ID", "ACCOUNT", "FOLDER", "TIME", "READ", "STATUS",
                                             "TO", "SUBJECT / TEXT"}),
              shown(std::vector<bool>{true, true, false, false, false, true, false, false}));
  for (const ListRow& row : rows) table.AddRow(shown(row.cells));
  table.Print(std::cout);
  return 0;
}

constexpr size_t kShownBytes = 512;

int ShowMessage(Context& ctx, const StoreDescription& s, const Args& args) {
  const Location at = Locate(ctx, s, ParseMessageId(args.id));
  const Record m = Required(ctx.store(s).Read(at, true)).record;
  if (args.raw) {
    if (!m.content.empty()) std::fwrite(m.content.data(), 1, m.content.size(), stdout);
    std::fflush(stdout);
    return 0;
  }
  if (ctx.json) {
    Json j = RecordJson(s, at, m, true);
    TicksAsText(s, &j);
    for (const RecordField* f : FieldsOf(s))
      if (f->type == RecordField::kBytes) j.emplace(std::string(f->key) + "_text", nullptr);
    PrintJson(j);
    return 0;
  }
  Table table({"", ""});
  table.AddRow({"id", std::to_string(at.id)});
  table.AddRow({"storage", StorageName(at.card)});
  table.AddRow({"folder", FolderName(s, at.folder)});
  for (const auto& row : FieldRows(s, m)) table.AddRow({row.first, row.second});
  table.AddRow({"record", "id " + std::to_string(m.id) + ", folder " + std::to_string(m.folder)});
  std::string text;
  const bool isText = ContentAsText(m.content.data(), m.content.size(), &text);
  table.AddRow({"content", m.content.empty() ? std::string("none")
                                             : std::to_string(m.content.size()) + " bytes, " +
                                                   (isText ? "UTF-16 text:" : "binary:")});
  table.Print(std::cout);
  // The first kShownBytes (whole UTF-16 code points), then how many more.
  size_t shown = std::min(m.content.size(), kShownBytes);
  if (isText && shown < m.content.size()) {
    const char16_t last = static_cast<char16_t>(m.content[shown - 2] | m.content[shown - 1] << 8);
    if (last >= 0xD800 && last <= 0xDBFF) shown -= 2;
    ContentAsText(m.content.data(), shown, &text);
  }
  if (!m.content.empty()) std::cout << (isText ? text + '\n' : HexDump(m.content.data(), shown));
  if (shown < m.content.size())
    std::cout << "... " << m.content.size() - shown << " more bytes ('msgstore "
              << (ctx.card ? "--card " : "") << "show " << s.name << " " << at.id
              << " --raw' writes the whole content)\n";
  return 0;
}

// What add and mv did: the line and its note for people; for --json the
// same values, the note last.
Json Report(const Context& ctx, const std::string& line, const std::string& note, Json j) {
  if (!ctx.json) std::cout << line << '\n' << (note.empty() ? "" : "note: " + note + '\n');
  j["note"] = OrNull(note);
  return j;
}

// "the phone inbox is full (100 messages)"
std::string Full(const StoreDescription& s, bool card, DWORD folder, const char* is = "is") {
  return "the " + Where(s, card, folder) + " " + is + " full (" + std::to_string(s.folderLimit) +
         " messages)";
}

// The note of a write that went elsewhere than asked or made room.
std::string WriteNote(const StoreDescription& s, bool card, DWORD folder, const WriteResult& w) {
  if (w.otherStorage && w.switchedFor == Refusal::kNoSpace)
    return "there is not enough free space on the " + std::string(StorageName(card)) +
           ": the store put the message on the " + StorageName(!card);
  if (w.otherStorage)
    return Full(s, card, folder) + ": the store put the message on the " + StorageName(!card) +
           (w.evicted ? ", which was full too, and removed its oldest message " +
                            std::to_string(w.evicted->id)
                      : "");
  if (w.evicted)
    return Full(s, card, folder, "was") + ": the store removed its oldest message " +
           std::to_string(w.evicted->id);
  return "";
}

std::vector<BYTE> ReadBodyFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    throw UsageError("--body '" + path + "' is not a file that can be read");
  std::ifstream in(path, std::ios::binary);
  std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) throw UsageError("--body '" + path + "' cannot be read");
  if (bytes.size() >= 0xFFFFFFFFu) throw UsageError("--body '" + path + "' is too large");
  return bytes;
}

int AddMessage(Context& ctx, const StoreDescription& s, const Args& args) {
  Record m;
  FILETIME time = Now();
  if (!args.time.empty() && !ParseTime(args.time, &time))
    throw UsageError("--time '" + args.time +
                     "' is not an ISO 8601 time (like 2026-12-05T15:04:05Z)");
  for (const RecordField* f : FieldsOf(s)) {
    const auto given = args.fields.find(f->key);
    if (given == args.fields.end() || given->second.empty()) continue;
    uint64_t number = 0;
    if (std::string(f->key) == "account" && !ParseUnsigned(given->second, UINT32_MAX, &number))
      m.email.accountId = ResolveAccount(ctx, given->second);
    else
      SetFromOption(*f, given->second, &m);
  }
  if (!args.body.empty() && !args.text.empty())
    throw UsageError("--text and --body both give the content: give one of them");
  m.content = args.body.empty() ? Utf16LeBytes(Utf8ToUtf16(args.text)) : ReadBodyFile(args.body);
  const DWORD folder = ParseFolder(s, args.folder);
  // An inbox message without --account goes to the incoming-server account's
  // inbox, the one the store's plain inbox operations mean.
  const bool defaultAccount = s.Folder(folder)->perAccount && m.email.accountId == 0;
  if (defaultAccount) m.email.accountId = ctx.accounts().IncomingServer();
  if (s.Folder(folder)->perAccount && m.email.accountId == 0)
    throw UsageError("an " + FolderName(s, folder) +
                     " message needs --account ID or NAME: no incoming-server account is named "
                     "(see 'msgstore account use')");
  if (ctx.card) RequireCard(ctx);

  m.read = args.read ? 1 : 0;
  m.folder = folder;
  m.indexTime = m.time = time;
  const WriteResult w = ctx.store(s).Add(
      m, args.autoStorage ? (ctx.card ? msgstore::Storage::kAutoFromCard : msgstore::Storage::kAuto)
                          : (ctx.card ? msgstore::Storage::kCard : msgstore::Storage::kPhone));
  if (w.refusal == Refusal::kBothFull || w.refusal == Refusal::kFolderFull)
    throw Failure(Full(s, ctx.card, folder) +
                  (w.refusal == Refusal::kBothFull
                       ? " and so is the " + Where(s, !ctx.card, folder) + ": message refused"
                       : ": message refused (--auto lets the store put it on the other storage)"));
  if (w.refusal == Refusal::kNoSpace)
    throw Failure("there is not enough free space for the message (" +
                  std::to_string(m.content.size()) + " bytes) on the " + StorageName(ctx.card) +
                  " nor on the " + StorageName(!ctx.card) + ": message refused");
  Require(w, m.email.accountId);
  const Location& at = *w.stored;
  std::string note = WriteNote(s, ctx.card, folder, w);
  if (defaultAccount)
    note = "without --account the message went to the incoming-server account " +
           std::to_string(m.email.accountId) + (note.empty() ? "" : "; " + note);
  const Json j = Report(
      ctx, "message " + std::to_string(at.id) + " stored in " + Where(s, at.card, folder), note,
      {{"id", at.id},
       {"storage", StorageKey(at.card)},
       {"folder", FolderName(s, folder)},
       {"chosen_by_store", w.otherStorage},
       {"evicted", w.evicted ? Json(w.evicted->id) : Json()}});
  if (ctx.json) PrintJson(j);
  return 0;
}

// Runs one per identifier, a failure reported and the next run; --json prints
// those done as one array. 1 when any failed, said in a line ("... not moved").
int ForEachId(Context& ctx, const std::vector<DWORD>& ids, const std::string& undone,
              const std::function<Json(DWORD)>& one) {
  Json done = Json::array();
  size_t failed = 0;
  for (DWORD id : ids) {
    try {
      done.push_back(one(id));
    } catch (const Failure& e) {
      Error(e.what());
      ++failed;
    }
  }
  if (ctx.json) PrintJson(done);
  if (failed != 0 && ids.size() > 1)
    Error(std::to_string(failed) + " of " + std::to_string(ids.size()) + " messages " + undone);
  return failed == 0 ? 0 : 1;
}

bool KeepsReadReport(const StoreDescription& s) {
  const RecordField* f = msgstore::RecordFieldNamed("read_report");
  return f != nullptr && f->KeptBy(s.kind);
}

int MarkMessages(Context& ctx, const StoreDescription& s, const Args& args) {
  const bool setStatus = !args.status.empty(), setReport = !args.readReport.empty();
  const WORD status =
      setStatus ? static_cast<WORD>(ParseNumber("--status", args.status, 0xFFFF)) : 0;
  const int32_t report = setReport ? static_cast<int32_t>(ParseNumber(
                                         "--read-report", args.readReport, INT32_MAX, INT32_MIN))
                                   : 0;
  if (!args.read && !args.unread && !setStatus && !setReport)
    throw UsageError(std::string("nothing to change: give --read, --unread") +
                     (KeepsReadReport(s) ? ", --status N or --read-report N" : " or --status N"));
  return ForEachId(ctx, ParseMessageIds(args.ids), "not marked", [&](DWORD id) {
    const Location at = Locate(ctx, s, id);
    msgstore::Store& store = ctx.store(s);
    Require(store.Read(at, false));
    if (args.read || args.unread) Require(store.SetRead(at, args.read));
    if (setStatus) Require(store.SetStatus(at, status));
    if (setReport) Require(store.SetReadReport(at, report));
    Json fields = RecordJson(s, at, Required(store.Read(at, false)).record, false);
    TicksAsText(s, &fields);
    if (!ctx.json)
      std::cout << What(s, at) << ": " << (fields["read"].get<bool>() ? "read" : "unread")
                << ", status " << fields["status"]
                << (KeepsReadReport(s) ? ", read report " + fields["read_report"].dump() : "")
                << '\n';
    return fields;
  });
}

Json MoveMessage(Context& ctx, const StoreDescription& s, DWORD id, DWORD target) {
  const Location at = Locate(ctx, s, id);
  Require(ctx.store(s).Read(at, false));
  const WriteResult w = ctx.store(s).Move(at, target);
  const std::string what = What(s, at);
  // The SIM folders are on phone memory only.
  const std::string full =
      "the " + Where(s, !s.Folder(target)->sim && at.card, target) + " is full";
  if (w.refusal == Refusal::kFolderFull || w.refusal == Refusal::kBothFull)
    throw Failure(full + (w.refusal == Refusal::kBothFull ? " on both storages" : "") + ": " +
                  what + " not moved");
  if (w.refusal == Refusal::kNoSpace)
    throw Failure("there is not enough free space for " + what + ": not moved");
  Require(w);
  const Location& to = *w.stored;
  return Report(
      ctx, what + " moved to " + Where(s, to.card, target) + " as message " + std::to_string(to.id),
      w.otherStorage ? full + ": the store put the message on the " + StorageName(to.card) : "",
      {{"id", id},
       {"from_storage", StorageKey(at.card)},
       {"from_folder", FolderName(s, at.folder)},
       {"new_id", to.id},
       {"storage", StorageKey(to.card)},
       {"folder", FolderName(s, target)}});
}

int MoveMessages(Context& ctx, const StoreDescription& s, Args args) {
  // The parser gives every word to the identifiers: the last is the folder.
  if (args.folder.empty() && args.ids.size() > 1)
    args.folder = args.ids.back(), args.ids.pop_back();
  if (args.folder.empty()) throw UsageError("missing FOLDER after the identifiers");
  const DWORD target = ParseFolder(s, args.folder);
  return ForEachId(ctx, ParseMessageIds(args.ids), "not moved",
                   [&](DWORD id) { return MoveMessage(ctx, s, id, target); });
}

int RemoveMessages(Context& ctx, const StoreDescription& s, const Args& args) {
  return ForEachId(ctx, ParseMessageIds(args.ids), "not deleted", [&](DWORD id) {
    const Location at = Locate(ctx, s, id);
    Require(ctx.store(s).Delete(at));
    if (!ctx.json) std::cout << "deleted " << What(s, at) << '\n';
    return Json{{"id", at.id},
                {"storage", StorageKey(at.card)},
                {"folder", FolderName(s, at.folder)},
                {"deleted", true}};
  });
}

int EmptyFolder(Context& ctx, const StoreDescription& s, const Args& args) {
  const DWORD account = ParseAccount(ctx, s, args.account);
  const DWORD folder = ParseFolder(s, args.folder);
  RequireFolder(ctx, s, folder, account, "emptied");
  const std::string where =
      Where(s, ctx.card, folder) + (account != 0 ? " of account " + std::to_string(account) : "");
  size_t deleted = 0;
  if (args.dryRun || !args.yes)
    for (const Location& at : Required(ctx.store(s).List(ctx.card, folder)).messages)
      deleted += account == 0 || at.account == account;
  if (!args.dryRun) {
    Confirm("delete the " + Counted(deleted, "message") + " of the " + where, args.yes, "deleted");
    deleted =
        Required(msgstore::EmptyFolderAndIndex(*ctx.device, s.kind, ctx.card, folder, account))
            .deleted;
  }
  if (ctx.json)
    PrintJson({{"storage", StorageKey(ctx.card)},
               {"folder", FolderName(s, folder)},
               {"account", account != 0 ? Json(account) : Json()},
               {"deleted", deleted},
               {"dry_run", args.dryRun}});
  else if (args.dryRun)
    std::cout << "would delete " << Counted(deleted, "message") << " of the " << where
              << " (nothing deleted: --dry-run)\n";
  else
    std::cout << "emptied the " << where << ": " << Counted(deleted, "message") << " deleted\n";
  return 0;
}

Json Count(Context& ctx, const StoreDescription& s, bool named) {
  if (!ctx.store(s).TreeMade(false))
    throw Failure("the message tree of the phone memory has not been made (run 'msgstore init')");
  const msgstore::StoreCounts counts = Required(msgstore::CountStore(*ctx.device, s.kind));
  Json j = {{"card_inserted", ctx.device->CardInserted()}};
  Table table({"FOLDER", "PHONE", "CARD", "TOTAL"}, {false, true, true, true});
  // A row of the table and its JSON: phone, the card when counted, total.
  auto row = [&](const std::string& name, const msgstore::Tally& n) {
    table.AddRow({name, std::to_string(n.phone), n.card ? std::to_string(*n.card) : "-",
                  std::to_string(n.total())});
    return Json{
        {"phone", n.phone}, {"card", n.card ? Json(*n.card) : Json()}, {"total", n.total()}};
  };
  for (const msgstore::StoreCounts::Folder& f : counts.folders)
    j["folders"][f.folder->name] = row(f.folder->name, f.messages);
  if (counts.simCopies) row("sim folders", {*counts.simCopies, std::nullopt});
  j["sim_total"] = counts.simCopies ? Json(*counts.simCopies) : Json();
  j["accounts"] = Json::object();
  for (const msgstore::StoreCounts::Account& a : counts.accounts) {
    const std::string id = std::to_string(a.id), name = s.AccountFolder()->name;
    const std::string text = a.text ? Utf16ToUtf8(*a.text) : "";
    Json& account = j["accounts"][id];
    account["text"] = a.text ? Json(text) : Json();
    account[name] = row(
        name + " " + id + (a.text ? " (" + CellText(text, 24) + ")" : " (no account)"), a.messages);
    account["unread"] = row("unread " + id, a.unread);
  }
  j["incoming_server_account"] = counts.incomingServer == 0 ? Json() : Json(counts.incomingServer);
  row("unread in inbox", counts.inboxUnread);
  j["unread_inbox"] = counts.inboxUnread.total();
  if (ctx.json) return j;
  if (named) std::cout << s.title << ":\n";
  table.Print(std::cout);
  if (counts.noInboxAccount)
    std::cout << "note: no incoming-server account is named: the store counts no unread inbox "
                 "message and never finds the inbox full ('msgstore account use ID' names one)\n";
  return j;
}

// One store, or with no name every store (the account database with the
// store that keeps messages by account), each after the other.
int CountCommand(Context& ctx, const std::string& storeName) {
  Json all = Json::object();
  if (!storeName.empty())
    all = Count(ctx, ParseStore(storeName), false);
  else
    for (const StoreDescription* s : Stores()) {
      if (!all.empty() && !ctx.json) std::cout << '\n';
      all[s->name] = Count(ctx, *s, true);
    }
  if (ctx.json) PrintJson(all);
  return 0;
}

int Settle(Context& ctx) {
  const StoreDescription& s = ctx.device->mms().description();
  if (!ctx.store(s).TreeMade(false))
    throw Failure("the message tree of the phone memory has not been made (run 'msgstore init')");
  const msgstore::SettleReport settled = Required(msgstore::SettleDownloads(*ctx.device));
  auto places = [&](const std::vector<Location>& all) {
    Json list = Json::array();
    for (const Location& at : all)
      list.push_back(Json{
          {"storage", StorageKey(at.card)}, {"folder", FolderName(s, at.folder)}, {"id", at.id}});
    return list;
  };
  if (PrintedJson(ctx.json, {{"moved_from", places(settled.movedFrom)},
                             {"moved_to", places(settled.movedTo)},
                             {"deleted", places(settled.deleted)},
                             {"status_settled", places(settled.statusSet)},
                             {"unread_inbox", settled.unread}}))
    return 0;
  const bool paired = settled.movedFrom.size() == settled.movedTo.size();
  for (size_t i = 0; i < settled.movedFrom.size(); ++i)
    std::cout << "moved " << What(s, settled.movedFrom[i])
              << (paired ? ": now " + What(s, settled.movedTo[i]) : "") << '\n';
  for (size_t i = 0; !paired && i < settled.movedTo.size(); ++i)
    std::cout << "now " << What(s, settled.movedTo[i]) << '\n';
  for (const Location& at : settled.deleted) std::cout << "deleted " << What(s, at) << '\n';
  for (const Location& at : settled.statusSet)
    std::cout << "settled the status of " << What(s, at) << '\n';
  if (settled.movedFrom.empty() && settled.movedTo.empty() && settled.deleted.empty() &&
      settled.statusSet.empty())
    std::cout << "nothing to settle\n";
  std::cout << "unread in the inboxes: " << settled.unread << '\n';
  return 0;
}

const char* const kIdsHelp =
    "Message identifiers; '-' reads them from standard input (as 'ls --ids' prints them)";

// One store's commands under "msgstore ls", "msgstore show", ..., on one set of options.
void AddStoreCommands(CLI::App& app, const StoreDescription& s, Context& ctx, Commands& commands) {
  const std::string folderHelp = FolderNames(s) + ", or a number";
  auto a = std::make_shared<Args>();
  auto command = [&](const char* name, auto run) {
    CLI::App* parent = app.get_subcommand(name);
    CLI::App* cmd =
        parent->add_subcommand(s.name, parent->get_description() + " (" + s.title + ")");
    commands.On(cmd, [&ctx, &s, a, run] { return run(ctx, s, *a); });
    return cmd;
  };
  const char* const accountHelp = "Only the inbox messages of this account (identifier or name)";

  CLI::App* cmd = command("ls", ListMessages);
  cmd->add_option("FOLDER", a->folder, folderHelp + " (default: every folder)");
  cmd->add_flag("--index", a->index,
                "List the phone index records instead of the directory, in index order");
  cmd->add_flag("--ids", a->idsOnly, "Print the identifiers only, one a line (for rm, mark, mv -)");
  cmd->add_flag("--unread", a->unread, "Only the unread messages");
  if (s.HasAccounts()) cmd->add_option("--account", a->account, accountHelp);

  cmd = command("show", ShowMessage);
  cmd->add_option("ID", a->id, "Message identifier")->required();
  cmd->add_flag("--raw", a->raw,
                "Write the content bytes to standard output (without it, show prints the first " +
                    std::to_string(kShownBytes) + ")");

  cmd = command("add", AddMessage);
  cmd->add_option("FOLDER", a->folder, folderHelp)->required();
  cmd->add_option("--to", a->fields["to"], "Recipients");
  cmd->add_option("--subject", a->fields["subject"], "Subject");
  cmd->add_option("--text", a->text, "Message text (stored as UTF-16 content)");
  cmd->add_option("--body", a->body, "A file whose bytes are the content, as they are")
      ->type_name("FILE");
  cmd->add_option("--time", a->time, "Message time, ISO 8601 (default: now)");
  cmd->add_option("--status", a->fields["status"], "Status value, 0 to 65535 (default 0)");
  cmd->add_option("--msgid", a->fields["msg_id"], "Text message ID");
  cmd->add_option("--text1", a->fields["text1"], "The record's text1 (a downloaded MMS has one)");
  for (const RecordField* f : FieldsOf(s))
    if (OwnField(*f)) cmd->add_option(OptionOf(*f), a->fields[f->key], OptionHelp(*f));
  cmd->add_flag("--read", a->read, "Store the message as read");
  cmd->add_flag("--auto", a->autoStorage,
                "Let the store put the message on the other storage when the folder is full");

  cmd = command("mark", MarkMessages);
  cmd->add_option("ID", a->ids, kIdsHelp)->required();
  CLI::Option* read = cmd->add_flag("--read", a->read, "Mark as read");
  read->excludes(cmd->add_flag("--unread", a->unread, "Mark as unread"));
  cmd->add_option("--status", a->status, "Set the status value, 0 to 65535");
  if (KeepsReadReport(s))
    cmd->add_option("--read-report", a->readReport,
                    "Set the read-report status, -2147483648 to 2147483647");

  cmd = command("mv", MoveMessages);
  cmd->add_option("ID", a->ids, kIdsHelp)->required();
  cmd->add_option("FOLDER", a->folder, folderHelp);

  command("rm", RemoveMessages)->add_option("ID", a->ids, kIdsHelp)->required();

  cmd = command("empty", EmptyFolder);
  cmd->add_option("FOLDER", a->folder, folderHelp)->required();
  if (s.HasAccounts()) cmd->add_option("--account", a->account, accountHelp);
  cmd->add_flag("--yes", a->yes, "Delete without asking (needed when not on a terminal)");
  cmd->add_flag("--dry-run", a->dryRun, "Say how many messages would be deleted, delete none");
}

}  // namespace

void AddStoreArgument(CLI::App* cmd, std::string* store) {
  cmd->add_option("STORE", *store, "The store: " + StoreNames() + " (default: all)")->type_name("");
}

void AddMessageCommands(CLI::App& app, Context& ctx, Commands& commands) {
  const std::pair<const char*, const char*> parents[] = {
      {"ls", "List the messages of a folder (or of every folder), newest first"},
      {"show", "Show every field of one message"},
      {"add", "Store a new message"},
      {"mark", "Change the read flag or the status of messages"},
      {"mv", "Move messages to another folder (each gets a new identifier)"},
      {"rm", "Delete messages"},
      {"empty", "Delete every message of a folder"}};
  for (const auto& [name, what] : parents) app.add_subcommand(name, what)->require_subcommand(1);
  for (const StoreDescription* s : Stores()) AddStoreCommands(app, *s, ctx, commands);

  auto store = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand(
      "count",
      "Messages per folder on both storages, the SIM copies and the unread messages (of every "
      "store without one); reads only");
  AddStoreArgument(cmd, store.get());
  commands.On(cmd, [&ctx, store] { return CountCommand(ctx, *store); });

  cmd = app.add_subcommand(
      "settle",
      "Settle the MMS automatic download folder as the store's unread count does (count does "
      "not): downloaded messages with a text1 move to the inbox, the others are deleted; says "
      "what moved and what was deleted");
  commands.On(cmd, [&ctx] { return Settle(ctx); });
}

}  // namespace tool

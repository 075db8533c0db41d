// The message commands of every store: ls, show, add, mark, mv, rm, empty
// and count. Everything goes through the store's operations, named
// by the store's description.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "output.h"
#include "text.h"

namespace tool {
namespace {

// ---------------------------------------------------------------------------
// ls

struct ListArgs {
  std::string folder;
  bool index = false;
  std::string account;
};

// The --account of a store with accounts: 0 when not given.
DWORD ParseAccount(const std::string& text) {
  if (text.empty()) return 0;
  uint64_t id = 0;
  if (!ParseUnsigned(text, 0xFFFFFFFFu, &id) || id < FirstAccountId())
    throw UsageError("--account '" + text + "' is not an account identifier (" +
                     std::to_string(FirstAccountId()) + " to 4294967295)");
  return static_cast<DWORD>(id);
}

struct ListRow {
  Location at{};
  bool readable = false;
  bool hasFile = true;
  uint64_t ticks = 0;
  nlohmann::ordered_json fields;
  std::string summary;
  bool damaged = false;  // read fails although the file opens
  std::string fileName;  // set for a file the store does not name
};

ListRow ReadRow(const Store& s, const Location& at) {
  ListRow row;
  row.at = at;
  Message record(s);
  if (!ReadRecord(s, at, &record)) {
    row.damaged = Openable(s, at);
    Warn("message " + std::to_string(at.oid) + " in " + s.Where(at.card, at.folder) +
         (row.damaged ? " cannot be read (damaged file)" : " cannot be opened"));
    return row;
  }
  row.readable = true;
  row.ticks = Ticks(record->ftIndexTime);
  row.fields = MessageJson(s, at, record, false);
  row.summary = Summary(*record);
  if (row.summary.empty()) {
    // The record was read without content; the text shows only with it.
    Message full(s);
    if (s.ops.read(at, true, &full)) row.summary = Summary(*full);
  }
  return row;
}

// The records of one index, in index order.
void AddIndexRows(const Store& s, const Index& index, std::vector<ListRow>* rows) {
  CMsgList records;
  s.ops.indexList(index.account != 0 ? index.account : index.folder, records);
  std::map<DWORD, std::vector<DWORD>> files;
  for (DWORD member : index.members)
    for (const Location& at : FolderMessages(s, false, member))
      if (at.account == index.account) files[member].push_back(at.oid);
  for (long i = 0; i < records.GetSize(); ++i) {
    // An account's records carry only part of the account where the folder goes.
    Location at{false, index.account != 0 ? index.folder : records[i].byFolder, records[i].dwOid,
                index.account};
    const std::vector<DWORD>& ids = files[at.folder];
    if (std::find(ids.begin(), ids.end(), at.oid) != ids.end()) {
      rows->push_back(ReadRow(s, at));
    } else {
      ListRow row;
      row.at = at;
      row.hasFile = false;
      rows->push_back(row);
    }
  }
}

// The records of the folder's phone indexes, in index order: an account
// folder's account by account.
std::vector<ListRow> IndexRows(const Store& s, DWORD folder, DWORD account) {
  std::vector<ListRow> rows;
  if (s.ByAccount(folder)) {
    for (const Index& index : Indexes(s))
      if (index.folder == folder && index.account != 0 &&
          (account == 0 || index.account == account))
        AddIndexRows(s, index, &rows);
    return rows;
  }
  const Index* index = s.IndexOf(folder);
  if (index == nullptr || index->folder != folder)
    throw Failure("folder " + s.FolderName(folder) + " has no index of its own" +
                  (index == nullptr ? std::string()
                                    : " (its messages are in the index of " +
                                          s.FolderName(index->folder) + ")"));
  AddIndexRows(s, *index, &rows);
  return rows;
}

// Failure unless the folder is one whose messages are named by account.
void RequireAccountFolder(const Store& s, DWORD folder, DWORD account) {
  if (account != 0 && !s.ByAccount(folder))
    throw Failure("--account applies to the " + s.FolderName(s.Inbox()) + " only: folder " +
                  s.FolderName(folder) + " is not divided by account");
}

int ListMessages(const Context& ctx, const Store& s, const ListArgs& args) {
  DWORD account = ParseAccount(args.account);
  DWORD folder = s.ParseFolder(args.folder);
  RequireAccountFolder(s, folder, account);
  const bool byAccount = s.ByAccount(folder);
  if (ctx.card) RequireCard();
  RequireFolder(s, ctx.card, folder);
  RequireListable(s, folder, "listed");
  RequireIntactFolder(s, ctx.card, folder);
  std::vector<ListRow> rows;
  if (!args.index) {
    for (const FolderEntry& entry : FolderEntries(s, ctx.card, folder)) {
      if (account != 0 && entry.account != account) continue;
      if (entry.oid != 0) {
        rows.push_back(ReadRow(s, {ctx.card, folder, entry.oid, entry.account}));
        continue;
      }
      ListRow row;
      row.at = {ctx.card, folder, 0};
      row.fileName = entry.name;
      Warn("the " + s.Where(ctx.card, folder) + " holds " + OddName(entry.name));
      rows.push_back(row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const ListRow& a, const ListRow& b) {
      if (a.readable != b.readable) return a.readable;
      if (a.ticks != b.ticks) return a.ticks > b.ticks;
      return a.at.oid > b.at.oid;
    });
  } else {
    if (ctx.card) throw Failure("the memory card has no index files: list it without --index");
    rows = IndexRows(s, folder, account);
  }

  if (ctx.json) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const ListRow& row : rows) {
      nlohmann::ordered_json j;
      if (row.readable) {
        j = row.fields;
        j["summary"] = row.summary;
      } else {
        j["storage"] = StorageKey(row.at.card);
        j["folder"] = s.FolderName(row.at.folder);
        j["id"] = row.at.oid;
        if (byAccount) j["account"] = row.at.account;
      }
      if (!row.fileName.empty()) j["file_name"] = row.fileName;
      j["damaged"] = row.damaged;
      if (args.index) j["file"] = row.hasFile;
      out.push_back(j);
    }
    PrintJson(out);
    return 0;
  }
  if (rows.empty()) {
    std::cout << "no messages in " << s.Where(ctx.card, folder) << (args.index ? " index" : "")
              << '\n';
    return 0;
  }
  std::vector<std::string> headers = {"ID", "TIME", "READ", "STATUS", "TO", "SUBJECT / TEXT"};
  std::vector<bool> numeric = {true, false, false, true, false, false};
  if (args.index) {
    headers.insert(headers.begin() + 1, "FOLDER");
    numeric.insert(numeric.begin() + 1, false);
  }
  if (byAccount) {
    headers.insert(headers.begin() + 1, "ACCOUNT");
    numeric.insert(numeric.begin() + 1, true);
  }
  Table table(headers, numeric);
  for (const ListRow& row : rows) {
    std::vector<std::string> cells;
    cells.push_back(row.at.oid == 0 ? "-" : std::to_string(row.at.oid));
    if (byAccount) cells.push_back(row.at.account == 0 ? "-" : std::to_string(row.at.account));
    if (args.index) cells.push_back(s.FolderName(row.at.folder));
    if (row.readable) {
      cells.push_back(FormatTime(FromTicks(row.ticks), false));
      cells.push_back(row.fields["read"].get<bool>() ? "yes" : "no");
      cells.push_back(std::to_string(row.fields["status"].get<int>()));
      cells.push_back(CellText(row.fields["to"].get<std::string>(), 24));
      cells.push_back(CellText(row.summary, 48));
    } else {
      cells.insert(cells.end(), {"-", "-", "-", "-"});
      cells.push_back(!row.fileName.empty() ? OddName(row.fileName)
                      : row.hasFile
                          ? (row.damaged ? "(damaged: cannot be read)" : "(cannot be opened)")
                          : "(index record without a file)");
    }
    table.AddRow(cells);
  }
  table.Print(std::cout);
  return 0;
}

// ---------------------------------------------------------------------------
// show

struct ShowArgs {
  std::string id;
  bool raw = false;
};

std::string Cell(const WCHAR* text) { return CellText(WideToUtf8(text), 4096); }

int ShowMessage(const Context& ctx, const Store& s, const ShowArgs& args) {
  DWORD oid = ParseMessageId(args.id);
  Location at = Locate(s, ctx.card, oid);
  Message m(s);
  ReadWhole(s, at, true, &m);
  if (args.raw) {
    if (m->cbData != 0 && m->pData != nullptr) std::fwrite(m->pData, 1, m->cbData, stdout);
    std::fflush(stdout);
    return 0;
  }
  if (ctx.json) {
    PrintJson(MessageJson(s, at, m, true));
    return 0;
  }
  Table table({"", ""});
  table.AddRow({"id", std::to_string(oid)});
  table.AddRow({"storage", StorageName(at.card)});
  table.AddRow({"folder", s.FolderName(at.folder)});
  table.AddRow({"read", m->bRead ? "yes" : "no"});
  table.AddRow({"status", std::to_string(m->wStatus)});
  table.AddRow({"index time", FormatTime(m->ftIndexTime)});
  table.AddRow({"time", FormatTime(m->ftTime)});
  table.AddRow({"to", Cell(m->pszTo)});
  table.AddRow({"subject", Cell(m->pszSubject)});
  table.AddRow({"message id", Cell(m->pszMsgID)});
  table.AddRow({"text1", Cell(m->pszText1)});
  table.AddRow({"text2", Cell(m->pszText2)});
  table.AddRow({"text3", Cell(m->pszText3)});
  table.AddRow({"text4", Cell(m->pszText4)});
  table.AddRow({"user1", std::to_string(m->dwUser1)});
  table.AddRow({"user2", std::to_string(m->dwUser2)});
  table.AddRow({"user3", std::to_string(m->dwUser3)});
  table.AddRow({"wuser1", std::to_string(m->wUser1)});
  table.AddRow({"wuser2", std::to_string(m->wUser2)});
  for (const auto& row : ExtraRows(s, m)) table.AddRow({row.first, row.second});
  table.AddRow(
      {"record", "id " + std::to_string(m->dwOid) + ", folder " + std::to_string(m->dwFolder)});
  std::string text;
  bool isText = ContentAsText(m->pData, m->cbData, &text);
  table.AddRow({"content", m->cbData == 0 ? std::string("none")
                                          : std::to_string(m->cbData) + " bytes, " +
                                                (isText ? "UTF-16 text:" : "binary:")});
  table.Print(std::cout);
  if (isText)
    std::cout << text << '\n';
  else if (m->cbData != 0 && m->pData != nullptr)
    std::cout << HexDump(m->pData, m->cbData);
  return 0;
}

// ---------------------------------------------------------------------------
// add

struct AddArgs {
  std::string folder;
  std::string to;
  std::string subject;
  std::string text;
  std::string body;
  std::string time;
  std::string status;
  std::string msgId;
  bool read = false;
  bool autoStorage = false;
  std::map<std::string, std::string> extras;  // by ExtraField::key
};

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

// A signed 32-bit value of an option.
int32_t ParseInt32(const std::string& option, const std::string& text) {
  bool negative = !text.empty() && text[0] == '-';
  uint64_t magnitude = 0;
  if (!ParseUnsigned(text.substr(negative ? 1 : 0), negative ? 0x80000000u : 0x7FFFFFFFu,
                     &magnitude))
    throw UsageError(option + " '" + text + "' is not a number from -2147483648 to 2147483647");
  return static_cast<int32_t>(negative ? -static_cast<int64_t>(magnitude)
                                       : static_cast<int64_t>(magnitude));
}

// "--mms-wvalue1"
std::string OptionOf(const ExtraField& f) {
  std::string option = std::string("--") + f.key;
  std::replace(option.begin(), option.end(), '_', '-');
  return option;
}

// Checks the store's own fields given to add and puts them into m.
void SetExtras(const Store& s, const AddArgs& args, Message* m) {
  for (const ExtraField& f : s.extras) {
    const std::string& value = args.extras.at(f.key);
    if (value.empty()) continue;
    BYTE* at = m->part() + f.offset;
    if (f.kind == ExtraField::kText) {
      WCHAR* text = OwnedText(Utf8ToUtf16(value));
      std::memcpy(at, &text, sizeof text);
      continue;
    }
    if (f.kind == ExtraField::kInt) {
      int32_t i = ParseInt32(OptionOf(f), value);
      std::memcpy(at, &i, sizeof i);
      continue;
    }
    uint64_t max = f.kind == ExtraField::kWord ? 0xFFFF : 0xFFFFFFFFu;
    uint64_t number = 0;
    if (!ParseUnsigned(value, max, &number))
      throw UsageError(OptionOf(f) + " '" + value + "' is not a number from 0 to " +
                       std::to_string(max));
    if (f.kind == ExtraField::kWord) {
      WORD w = static_cast<WORD>(number);
      std::memcpy(at, &w, sizeof w);
    } else {
      DWORD d = static_cast<DWORD>(number);
      std::memcpy(at, &d, sizeof d);
    }
  }
}

// The store, asked to choose, puts a message for a full folder on the other
// storage (the phone's only when the card can take it), even when that
// storage is absent, lacks the folder or its tree is not made, and then
// fails; say so first.
void CheckAutoTarget(const Store& s, bool card, DWORD folder, DWORD count,
                     const std::string& what) {
  bool cardBusy = (msgstore::GetPlatform().xGetSDCardState() & s.d.cardUnusable) != 0;
  if (count < s.d.folderLimit || !s.Switches(folder) || (!card && cardBusy)) return;
  std::string full =
      "the " + s.Where(card, folder) + " is full (" + std::to_string(count) + " messages) and ";
  if (!card && !CardInserted()) throw Failure(full + "no memory card is inserted: " + what);
  if (!FolderOnStorage(s, !card, folder))
    throw Failure(full + "the " + StorageName(!card) + " has no " + s.FolderName(folder) +
                  " folder: " + what);
  RequireTree(s, !card, folder);
}

int AddMessage(const Context& ctx, const Store& s, const AddArgs& args) {
  Message m(s);
  tagMSGPROPS& props = *m.get();
  FILETIME time = Now();
  if (!args.time.empty() && !ParseTime(args.time, &time))
    throw UsageError("--time '" + args.time +
                     "' is not an ISO 8601 time (like 2026-12-05T15:04:05Z)");
  uint64_t status = 0;
  if (!args.status.empty() && !ParseUnsigned(args.status, 0xFFFF, &status))
    throw UsageError("--status '" + args.status + "' is not a number from 0 to 65535");
  SetExtras(s, args, &m);
  if (!args.body.empty() && !args.text.empty())
    throw UsageError("--text and --body both give the content: give one of them");
  std::vector<BYTE> content =
      args.body.empty() ? Utf16LeBytes(Utf8ToUtf16(args.text)) : ReadBodyFile(args.body);
  DWORD folder = s.ParseFolder(args.folder);
  bool card = ctx.card;
  if (card) RequireCard();
  RequireFolder(s, card, folder);
  RequireCardTakes(s, card);
  RequireTree(s, card, folder);
  RequireIdCounter(s);

  props.bRead = args.read ? 1 : 0;
  props.dwFolder = folder;
  props.wStatus = static_cast<WORD>(status);
  props.ftIndexTime = time;
  props.ftTime = time;
  props.pszTo = OwnedText(Utf8ToUtf16(args.to));
  props.pszSubject = OwnedText(Utf8ToUtf16(args.subject));
  props.pszMsgID = OwnedText(Utf8ToUtf16(args.msgId));
  props.cbData = static_cast<DWORD>(content.size());
  props.pData = OwnedBytes(content);

  // How full the folder is before the write tells what the store did.
  DWORD count = 0;
  DWORD oldest = s.ops.oldest(card, folder, &count);
  bool full = count >= s.d.folderLimit && s.Folder(folder)->limited;
  DWORD otherCount = 0;
  DWORD otherOldest = 0;
  if (args.autoStorage && full) {
    CheckAutoTarget(s, card, folder, count, "message not stored");
    if (CardInserted()) otherOldest = s.ops.oldest(!card, folder, &otherCount);
  }

  int storage = args.autoStorage ? STORAGE_AUTO : (card ? 1 : 0);
  DWORD oid = s.ops.write(card, &m, &storage);
  if (oid == 0) {
    if (storage == kRefusedFull && args.autoStorage)
      throw Failure("the " + s.Where(card, folder) + " is full (" + std::to_string(count) +
                    " messages) and so is the " + s.Where(!card, folder) + ": message refused");
    if ((storage == 2 && s.refusal == Refusal::kFullInbox) || storage == kRefusedFull)
      throw Failure("the " + s.Where(card, folder) + " is full (" + std::to_string(count) +
                    " messages): message refused (--auto lets the store put it on the other "
                    "storage)");
    if (storage == 2)
      throw Failure("there is not enough free space for the message (" +
                    std::to_string(content.size()) + " bytes) on the " + StorageName(card) +
                    " nor on the " + StorageName(!card) + ": message refused");
    throw Failure("the store could not write the message to the " + s.Where(card, folder));
  }
  // The store reports 0 or 1 only when it chose the storage itself.
  bool used = storage == 0 || storage == 1 ? storage == 1 : card;
  std::string note;
  DWORD evicted = 0;
  if (used != card && !full) {
    note = "there is not enough free space on the " + std::string(StorageName(card)) +
           ": the store put the message on the " + StorageName(used);
  } else if (used != card) {
    note = "the " + s.Where(card, folder) + " is full (" + std::to_string(count) +
           " messages): the store put the message on the " + StorageName(used);
    if (otherCount >= s.d.folderLimit) {
      evicted = otherOldest;
      note += ", which was full too, and removed its oldest message " + std::to_string(evicted);
    }
  } else if (full) {
    evicted = oldest;
    note = "the " + s.Where(card, folder) + " was full (" + std::to_string(count) +
           " messages): the store removed its oldest message " + std::to_string(oldest);
  }
  if (ctx.json) {
    nlohmann::ordered_json j = {{"id", oid},
                                {"storage", StorageKey(used)},
                                {"folder", s.FolderName(folder)},
                                {"chosen_by_store", used != card}};
    j["evicted"] = evicted == 0 ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(evicted);
    j["note"] = note;
    PrintJson(j);
  } else {
    std::cout << "message " << oid << " stored in " << s.Where(used, folder) << '\n';
    if (!note.empty()) std::cout << "note: " << note << '\n';
  }
  return 0;
}

// ---------------------------------------------------------------------------
// mark, mv, rm, empty

struct MarkArgs {
  std::string id;
  bool read = false;
  bool unread = false;
  std::string status;
  std::string readReport;
};

int MarkMessage(const Context& ctx, const Store& s, const MarkArgs& args) {
  DWORD oid = ParseMessageId(args.id);
  uint64_t status = 0;
  bool setStatus = !args.status.empty();
  if (setStatus && !ParseUnsigned(args.status, 0xFFFF, &status))
    throw UsageError("--status '" + args.status + "' is not a number from 0 to 65535");
  bool setReport = !args.readReport.empty();
  int32_t report = setReport ? ParseInt32("--read-report", args.readReport) : 0;
  if (!args.read && !args.unread && !setStatus && !setReport)
    throw UsageError(
        std::string("nothing to change: give --read, --unread") +
        (s.ops.setReadReport != nullptr ? ", --status N or --read-report N" : " or --status N"));
  Location at = Locate(s, ctx.card, oid);
  {
    Message before(s);
    ReadWhole(s, at, false, &before);
  }
  std::string where = "message " + std::to_string(oid) + " in " + s.Where(at.card, at.folder);
  if ((args.read || args.unread) && !s.ops.setRead(at, args.read))
    throw Failure("could not change the read flag of " + where);
  if (setStatus && !s.ops.setStatus(at, static_cast<WORD>(status)))
    throw Failure("could not change the status of " + where);
  if (setReport && !s.ops.setReadReport(at, report))
    throw Failure("could not change the read-report status of " + where);
  Message after(s);
  ReadWhole(s, at, false, &after);
  nlohmann::ordered_json fields = MessageJson(s, at, after, false);
  if (ctx.json) {
    PrintJson(fields);
  } else {
    std::cout << where << ": " << (after->bRead ? "read" : "unread") << ", status "
              << after->wStatus;
    if (s.ops.setReadReport != nullptr) std::cout << ", read report " << fields["read_report"];
    std::cout << '\n';
  }
  return 0;
}

struct MoveArgs {
  std::string id;
  std::string folder;
};

int MoveMessage(const Context& ctx, const Store& s, const MoveArgs& args) {
  DWORD oid = ParseMessageId(args.id);
  DWORD target = s.ParseFolder(args.folder);
  Location at = Locate(s, ctx.card, oid);
  {
    Message before(s);
    ReadWhole(s, at, false, &before);
  }
  bool targetCard = s.Folder(target)->sim ? false : at.card;
  RequireFolder(s, targetCard, target);
  RequireCardTakes(s, targetCard);
  RequireTree(s, targetCard, target);
  RequireIdCounter(s);
  DWORD count = 0;
  s.ops.oldest(targetCard, target, &count);
  CheckAutoTarget(s, targetCard, target, count, "message not moved");

  int storage = STORAGE_AUTO;
  DWORD newOid = 0;
  bool moved = s.ops.move(at, target, &storage, &newOid);
  std::string what = "message " + std::to_string(oid) + " in " + s.Where(at.card, at.folder);
  if (newOid == 0) {
    if ((storage == 2 && s.refusal == Refusal::kFullInbox) || storage == kRefusedFull)
      throw Failure("the " + s.Where(targetCard, target) + " is full" +
                    (storage == kRefusedFull ? " on both storages" : "") + ": " + what +
                    " not moved");
    if (storage == 2) throw Failure("there is not enough free space for " + what + ": not moved");
    throw Failure("could not move " + what + " to " + s.FolderName(target));
  }
  bool used = storage == 0 || storage == 1 ? storage == 1 : targetCard;
  if (!moved)
    throw Failure(what + " was copied to " + s.Where(used, target) + " as message " +
                  std::to_string(newOid) + ", but its old file could not be deleted");
  std::string note;
  if (used != targetCard)
    note = "the " + s.Where(targetCard, target) + " is full: the store put the message on the " +
           StorageName(used);
  if (ctx.json) {
    PrintJson({{"id", oid},
               {"from_storage", StorageKey(at.card)},
               {"from_folder", s.FolderName(at.folder)},
               {"new_id", newOid},
               {"storage", StorageKey(used)},
               {"folder", s.FolderName(target)},
               {"note", note}});
  } else {
    std::cout << what << " moved to " << s.Where(used, target) << " as message " << newOid << '\n';
    if (!note.empty()) std::cout << "note: " << note << '\n';
  }
  return 0;
}

struct IdArgs {
  std::string id;
};

int RemoveMessage(const Context& ctx, const Store& s, const IdArgs& args) {
  DWORD oid = ParseMessageId(args.id);
  Location at = Locate(s, ctx.card, oid);
  std::string what = "message " + std::to_string(oid) + " in " + s.Where(at.card, at.folder);
  if (!s.ops.remove(at)) throw Failure("could not delete " + what);
  if (ctx.json)
    PrintJson({{"id", oid},
               {"storage", StorageKey(at.card)},
               {"folder", s.FolderName(at.folder)},
               {"deleted", true}});
  else
    std::cout << "deleted " << what << '\n';
  return 0;
}

struct FolderArgs {
  std::string folder;
  std::string account;
};

int EmptyFolder(const Context& ctx, const Store& s, const FolderArgs& args) {
  DWORD account = ParseAccount(args.account);
  DWORD folder = s.ParseFolder(args.folder);
  RequireAccountFolder(s, folder, account);
  if (ctx.card) RequireCard();
  RequireFolder(s, ctx.card, folder);
  RequireListable(s, folder, "emptied");
  RequireIntactFolder(s, ctx.card, folder);
  std::string where = "the " + s.Where(ctx.card, folder) +
                      (account != 0 ? " of account " + std::to_string(account) : "");
  // What the store's emptying deletes: every message file, or the account's.
  auto files = [&] {
    DWORD n = 0;
    for (const FolderEntry& entry : FolderEntries(s, ctx.card, folder)) {
      if (account != 0 && entry.account != account) continue;
      if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        throw Failure(where + " cannot be emptied: " + entry.name +
                      " is not a file (nothing deleted)");
      ++n;
    }
    return n;
  };
  DWORD found = files();
  DWORD before = account != 0 ? found : s.ops.count(ctx.card, folder);
  bool emptied =
      account != 0 ? s.ops.emptyAccount(ctx.card, folder, account) : s.ops.empty(ctx.card, folder);
  if (!emptied) throw Failure("could not empty " + where);
  DWORD left = account != 0 ? files() : s.ops.count(ctx.card, folder);
  if (left != 0)
    throw Failure(where + " still holds " + std::to_string(left) +
                  (left == 1 ? " message file" : " message files") + " that could not be deleted");
  const Index* index = ctx.card ? nullptr : s.IndexOf(folder);
  bool indexed = !ctx.card && (index != nullptr || s.ByAccount(folder));
  if (ctx.json) {
    nlohmann::ordered_json j = {{"storage", StorageKey(ctx.card)},
                                {"folder", s.FolderName(folder)}};
    if (account != 0) j["account"] = account;
    j["deleted"] = before;
    PrintJson(j);
  } else {
    std::cout << "emptied " << where << ": " << before << (before == 1 ? " message" : " messages")
              << " deleted\n";
    if (indexed && before != 0)
      std::cout << "note: the index keeps its records until '"
                << s.CommandLine("refresh", index != nullptr && index->rebuiltAlways ? "" : "--all")
                << "' (or until the messages are looked up)\n";
  }
  return 0;
}

// ---------------------------------------------------------------------------
// count

int Count(const Context& ctx, const Store& s) {
  RequireTree(s, false, s.Inbox());
  bool card = CardInserted() && TreeMade(s, true);
  // First, for a store whose count changes what it counts.
  CountSummary summary = s.countSummary(s, card);
  nlohmann::ordered_json folders = nlohmann::ordered_json::object();
  Table table({"FOLDER", "PHONE", "CARD", "TOTAL"}, {false, true, true, true});
  for (const FolderDescription* f : s.Folders()) {
    if (!f->hasFolderPath) continue;
    bool onCard = card && f->onCard();
    DWORD phone = s.ops.count(false, f->number);
    DWORD onCardCount = onCard ? s.ops.count(true, f->number) : 0;
    folders[f->name] = {{"phone", phone}};
    if (onCard) folders[f->name]["card"] = onCardCount;
    folders[f->name]["total"] = phone + onCardCount;
    table.AddRow({f->name, std::to_string(phone), onCard ? std::to_string(onCardCount) : "-",
                  std::to_string(phone + onCardCount)});
  }
  if (ctx.json) {
    nlohmann::ordered_json j = {{"card_inserted", CardInserted()}, {"folders", folders}};
    j.update(summary.json);
    PrintJson(j);
    return 0;
  }
  for (const auto& row : summary.rows) table.AddRow(row);
  table.Print(std::cout);
  if (!summary.note.empty()) std::cout << "note: " << summary.note << '\n';
  return 0;
}

// ---------------------------------------------------------------------------
// The commands of one store under "msgstore ls", "msgstore show", ...

struct Parents {
  CLI::App* ls;
  CLI::App* show;
  CLI::App* add;
  CLI::App* mark;
  CLI::App* mv;
  CLI::App* rm;
  CLI::App* empty;
};

CLI::App* Parent(CLI::App& app, const std::string& name, const std::string& what) {
  CLI::App* parent = app.add_subcommand(name, what);
  parent->require_subcommand(1);
  return parent;
}

CLI::App* StoreCommand(CLI::App* parent, const Store& s) {
  return parent->add_subcommand(s.d.name, parent->get_description() + " (" + s.d.title + ")");
}

void AddStoreCommands(const Parents& p, const Store& s, Context& ctx, Commands& commands) {
  const std::string folderHelp = s.FolderNames() + ", or a number";

  auto ls = std::make_shared<ListArgs>();
  CLI::App* cmd = StoreCommand(p.ls, s);
  cmd->add_option("FOLDER", ls->folder, folderHelp)->required();
  cmd->add_flag("--index", ls->index,
                "List the phone index records instead of the directory, in index order");
  if (s.HasAccounts())
    cmd->add_option("--account", ls->account, "Only the inbox messages of this account");
  commands.On(cmd, [&ctx, &s, ls] { return ListMessages(ctx, s, *ls); });

  auto show = std::make_shared<ShowArgs>();
  cmd = StoreCommand(p.show, s);
  cmd->add_option("ID", show->id, "Message identifier")->required();
  cmd->add_flag("--raw", show->raw, "Write the content bytes to standard output");
  commands.On(cmd, [&ctx, &s, show] { return ShowMessage(ctx, s, *show); });

  auto add = std::make_shared<AddArgs>();
  cmd = StoreCommand(p.add, s);
  cmd->add_option("FOLDER", add->folder, folderHelp)->required();
  cmd->add_option("--to", add->to, "Recipients");
  cmd->add_option("--subject", add->subject, "Subject");
  cmd->add_option("--text", add->text, "Message text (stored as UTF-16 content)");
  cmd->add_option("--body", add->body, "A file whose bytes are the content, as they are")
      ->type_name("FILE");
  cmd->add_option("--time", add->time, "Message time, ISO 8601 (default: now)");
  cmd->add_option("--status", add->status, "Status value, 0 to 65535 (default 0)");
  cmd->add_option("--msgid", add->msgId, "Text message ID");
  for (const ExtraField& f : s.extras) {
    cmd->add_option(
        OptionOf(f), add->extras[f.key],
        (f.help != nullptr ? std::string(f.help) + " (" + f.field + ")" : std::string(f.field)) +
            (f.kind == ExtraField::kText   ? ""
             : f.kind == ExtraField::kWord ? ", 0 to 65535 (default 0)"
             : f.kind == ExtraField::kInt  ? ", -2147483648 to 2147483647 (default 0)"
                                           : ", 0 to 4294967295 (default 0)"));
  }
  cmd->add_flag("--read", add->read, "Store the message as read");
  cmd->add_flag("--auto", add->autoStorage,
                "Let the store put the message on the other storage when the folder is full");
  commands.On(cmd, [&ctx, &s, add] { return AddMessage(ctx, s, *add); });

  auto mark = std::make_shared<MarkArgs>();
  cmd = StoreCommand(p.mark, s);
  cmd->add_option("ID", mark->id, "Message identifier")->required();
  CLI::Option* read = cmd->add_flag("--read", mark->read, "Mark as read");
  CLI::Option* unread = cmd->add_flag("--unread", mark->unread, "Mark as unread");
  read->excludes(unread);
  cmd->add_option("--status", mark->status, "Set the status value, 0 to 65535");
  if (s.ops.setReadReport != nullptr)
    cmd->add_option("--read-report", mark->readReport,
                    "Set the read-report status, -2147483648 to 2147483647");
  commands.On(cmd, [&ctx, &s, mark] { return MarkMessage(ctx, s, *mark); });

  auto mv = std::make_shared<MoveArgs>();
  cmd = StoreCommand(p.mv, s);
  cmd->add_option("ID", mv->id, "Message identifier")->required();
  cmd->add_option("FOLDER", mv->folder, folderHelp)->required();
  commands.On(cmd, [&ctx, &s, mv] { return MoveMessage(ctx, s, *mv); });

  auto rm = std::make_shared<IdArgs>();
  cmd = StoreCommand(p.rm, s);
  cmd->add_option("ID", rm->id, "Message identifier")->required();
  commands.On(cmd, [&ctx, &s, rm] { return RemoveMessage(ctx, s, *rm); });

  auto empty = std::make_shared<FolderArgs>();
  cmd = StoreCommand(p.empty, s);
  cmd->add_option("FOLDER", empty->folder, folderHelp)->required();
  if (s.HasAccounts())
    cmd->add_option("--account", empty->account, "Only the inbox messages of this account");
  commands.On(cmd, [&ctx, &s, empty] { return EmptyFolder(ctx, s, *empty); });
}

}  // namespace

void AddStoreArgument(CLI::App* cmd, std::string* store) {
  std::string names;
  for (const Store* s : Stores())
    names +=
        (names.empty() ? "" : ", ") + std::string(s->d.name) + (s->IsDefault() ? " (default)" : "");
  cmd->add_option("STORE", *store, "The store: " + names)->type_name("");
}

void AddMessageCommands(CLI::App& app, Context& ctx, Commands& commands) {
  Parents p;
  p.ls = Parent(app, "ls", "List the messages of a folder, newest first");
  p.show = Parent(app, "show", "Show every field of one message");
  p.add = Parent(app, "add", "Store a new message");
  p.mark = Parent(app, "mark", "Change the read flag or the status of a message");
  p.mv = Parent(app, "mv", "Move a message to another folder (it gets a new identifier)");
  p.rm = Parent(app, "rm", "Delete a message");
  p.empty = Parent(app, "empty", "Delete every message of a folder");
  for (const Store* s : Stores()) AddStoreCommands(p, *s, ctx, commands);

  auto store = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand(
      "count",
      "Messages per folder on both storages, inbox, SIM and unread counts (mms: the store's "
      "unread count settles the download folder first, moving its messages to the inbox or "
      "deleting those without text1)");
  AddStoreArgument(cmd, store.get());
  commands.On(cmd, [&ctx, store] { return Count(ctx, ParseStore(*store)); });
}

}  // namespace tool

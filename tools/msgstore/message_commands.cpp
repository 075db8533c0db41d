// The EMS message commands: ls, show, add, mark, mv, rm, empty, count and
// export. Everything goes through the store's operations.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "output.h"
#include "text.h"

namespace tool {
namespace {

bool IsSimFolder(DWORD folder) {
  return folder == EMS_FOLDER_SIM_INBOX || folder == EMS_FOLDER_SIM_SENT ||
         folder == EMS_FOLDER_SIM_UNSENT;
}

// The SIM folder whose messages an index lists beside its own, or 0.
DWORD SimCounterpart(DWORD folder) {
  switch (folder) {
    case EMS_FOLDER_INBOX:
      return EMS_FOLDER_SIM_INBOX;
    case EMS_FOLDER_SENT:
      return EMS_FOLDER_SIM_SENT;
    case EMS_FOLDER_UNSENT:
      return EMS_FOLDER_SIM_UNSENT;
    default:
      return 0;
  }
}

CLI::App* SmsCommand(CLI::App& app, const std::string& name, const std::string& what) {
  CLI::App* parent = app.add_subcommand(name, what);
  parent->require_subcommand(1);
  return parent->add_subcommand("sms", what + " (SMS/EMS store)");
}

// ---------------------------------------------------------------------------
// ls

struct ListArgs {
  std::string folder;
  bool index = false;
};

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

ListRow ReadRow(const Location& at) {
  ListRow row;
  row.at = at;
  Message record;
  if (!ReadRecord(at, &record)) {
    row.damaged = Openable(at);
    Warn("message " + std::to_string(at.oid) + " in " + Where(at.card, at.folder) +
         (row.damaged ? " cannot be read (damaged file)" : " cannot be opened"));
    return row;
  }
  row.readable = true;
  row.ticks = Ticks(record->ftIndexTime);
  row.fields = MessageJson(at, *record, false);
  row.summary = Summary(*record);
  if (row.summary.empty()) {
    // The record was read without content; the text shows only with it.
    Message full;
    if (EMSMsgStore_ReadFolderMessage(at.card, at.folder, -1, at.oid, true, full.get()) != 0)
      row.summary = Summary(*full);
  }
  return row;
}

int ListSms(const Context& ctx, const ListArgs& args) {
  DWORD folder = ParseFolder(args.folder);
  if (ctx.card) RequireCard();
  RequireFolder(ctx.card, folder);
  RequireIntactFolder(ctx.card, folder);
  std::vector<ListRow> rows;
  if (!args.index) {
    for (const FolderEntry& entry : FolderEntries(ctx.card, folder)) {
      if (entry.oid != 0) {
        rows.push_back(ReadRow({ctx.card, folder, entry.oid}));
        continue;
      }
      ListRow row;
      row.at = {ctx.card, folder, 0};
      row.fileName = entry.name;
      Warn("the " + Where(ctx.card, folder) + " holds " + OddName(entry));
      rows.push_back(row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const ListRow& a, const ListRow& b) {
      if (a.readable != b.readable) return a.readable;
      if (a.ticks != b.ticks) return a.ticks > b.ticks;
      return a.at.oid > b.at.oid;
    });
  } else {
    if (ctx.card) throw Failure("the memory card has no index files: list it without --index");
    if (IsSimFolder(folder) || folder == EMS_FOLDER_NONE)
      throw Failure("folder " + FolderName(folder) + " has no index of its own" +
                    (folder == EMS_FOLDER_NONE
                         ? std::string()
                         : " (its messages are in the index of " +
                               FolderName(folder == EMS_FOLDER_SIM_INBOX  ? EMS_FOLDER_INBOX
                                          : folder == EMS_FOLDER_SIM_SENT ? EMS_FOLDER_SENT
                                                                          : EMS_FOLDER_UNSENT) +
                               ")"));
    CMsgList records;
    EMSMsgStore_GetQuickMsgList(records, folder);
    std::vector<DWORD> own = ListFolder(false, folder);
    std::vector<DWORD> sim =
        SimCounterpart(folder) ? ListFolder(false, SimCounterpart(folder)) : std::vector<DWORD>();
    for (long i = 0; i < records.GetSize(); ++i) {
      DWORD recordFolder = records[i].byFolder;
      DWORD oid = records[i].dwOid;
      const std::vector<DWORD>* files = recordFolder == folder                   ? &own
                                        : recordFolder == SimCounterpart(folder) ? &sim
                                                                                 : nullptr;
      Location at{false, recordFolder, oid};
      if (files != nullptr && std::binary_search(files->begin(), files->end(), oid)) {
        rows.push_back(ReadRow(at));
      } else {
        ListRow row;
        row.at = at;
        row.hasFile = false;
        rows.push_back(row);
      }
    }
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
        j["folder"] = FolderName(row.at.folder);
        j["id"] = row.at.oid;
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
    std::cout << "no messages in " << Where(ctx.card, folder) << (args.index ? " index" : "")
              << '\n';
    return 0;
  }
  std::vector<std::string> headers = {"ID", "TIME", "READ", "STATUS", "TO", "SUBJECT / TEXT"};
  std::vector<bool> numeric = {true, false, false, true, false, false};
  if (args.index) {
    headers.insert(headers.begin() + 1, "FOLDER");
    numeric.insert(numeric.begin() + 1, false);
  }
  Table table(headers, numeric);
  for (const ListRow& row : rows) {
    std::vector<std::string> cells;
    cells.push_back(row.at.oid == 0 ? "-" : std::to_string(row.at.oid));
    if (args.index) cells.push_back(FolderName(row.at.folder));
    if (row.readable) {
      cells.push_back(FormatTime(FromTicks(row.ticks), false));
      cells.push_back(row.fields["read"].get<bool>() ? "yes" : "no");
      cells.push_back(std::to_string(row.fields["status"].get<int>()));
      cells.push_back(CellText(row.fields["to"].get<std::string>(), 24));
      cells.push_back(CellText(row.summary, 48));
    } else {
      cells.insert(cells.end(), {"-", "-", "-", "-"});
      cells.push_back(!row.fileName.empty() ? OddName({row.fileName, 0, 0, 0})
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

int ShowSms(const Context& ctx, const ShowArgs& args) {
  DWORD oid = ParseMessageId(args.id);
  Location at = Locate(ctx.card, oid);
  Message m;
  ReadWhole(at, true, &m);
  if (args.raw) {
    if (m->cbData != 0 && m->pData != nullptr) std::fwrite(m->pData, 1, m->cbData, stdout);
    std::fflush(stdout);
    return 0;
  }
  if (ctx.json) {
    PrintJson(MessageJson(at, *m, true));
    return 0;
  }
  Table table({"", ""});
  table.AddRow({"id", std::to_string(oid)});
  table.AddRow({"storage", StorageName(at.card)});
  table.AddRow({"folder", FolderName(at.folder)});
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
  std::string time;
  std::string status;
  std::string msgId;
  bool read = false;
  bool autoStorage = false;
};

// The store, asked to choose, puts a message for a full folder on the other
// storage (the phone's only when the card can take it), even when that
// storage is absent or its tree is not made, and then fails; say so first.
void CheckAutoTarget(bool card, DWORD folder, DWORD count, const std::string& what) {
  bool cardBusy = (msgstore::GetPlatform().xGetSDCardState() & 6) != 0;
  if (count < EMS_MAX_FOLDER_MESSAGES || IsSimFolder(folder) || (!card && cardBusy)) return;
  if (!card && !CardInserted())
    throw Failure("the " + Where(false, folder) + " is full (" + std::to_string(count) +
                  " messages) and no memory card is inserted: " + what);
  RequireTree(!card, folder);
}

int AddSms(const Context& ctx, const AddArgs& args) {
  FILETIME time = Now();
  if (!args.time.empty() && !ParseTime(args.time, &time))
    throw UsageError("--time '" + args.time +
                     "' is not an ISO 8601 time (like 2026-12-05T15:04:05Z)");
  uint64_t status = 0;
  if (!args.status.empty() && !ParseUnsigned(args.status, 0xFFFF, &status))
    throw UsageError("--status '" + args.status + "' is not a number from 0 to 65535");
  DWORD folder = ParseFolder(args.folder);
  bool card = ctx.card;
  if (card) RequireCard();
  RequireFolder(card, folder);
  RequireCardTakes(card);
  RequireTree(card, folder);
  RequireIdCounter();

  std::u16string to = Utf8ToUtf16(args.to);
  std::u16string subject = Utf8ToUtf16(args.subject);
  std::u16string msgId = Utf8ToUtf16(args.msgId);
  std::vector<BYTE> content = Utf16LeBytes(Utf8ToUtf16(args.text));
  tagMSGPROPS props = {};
  props.bRead = args.read ? 1 : 0;
  props.dwFolder = folder;
  props.wStatus = static_cast<WORD>(status);
  props.ftIndexTime = time;
  props.ftTime = time;
  props.pszTo = to.empty() ? nullptr : &to[0];
  props.pszSubject = subject.empty() ? nullptr : &subject[0];
  props.pszMsgID = msgId.empty() ? nullptr : &msgId[0];
  props.cbData = static_cast<DWORD>(content.size());
  props.pData = content.empty() ? nullptr : content.data();

  // How full the folder is before the write tells what the store did.
  DWORD count = 0;
  DWORD oldest = EMSMsgStore_GetLastRecord(card, folder, &count);
  bool full = count >= EMS_MAX_FOLDER_MESSAGES && !IsSimFolder(folder);
  DWORD otherCount = 0;
  DWORD otherOldest = 0;
  if (args.autoStorage && full) {
    CheckAutoTarget(card, folder, count, "message not stored");
    if (CardInserted()) otherOldest = EMSMsgStore_GetLastRecord(!card, folder, &otherCount);
  }

  int storage = args.autoStorage ? STORAGE_AUTO : (card ? 1 : 0);
  DWORD oid = EMSMsgStore_WriteMessage(card, &props, 0, &storage);
  if (oid == 0) {
    if (storage == STORAGE_INBOX_FULL)
      throw Failure("the " + Where(card, folder) + " is full (" + std::to_string(count) +
                    " messages): message refused (--auto lets the store put it on the other "
                    "storage)");
    throw Failure("the store could not write the message to the " + Where(card, folder));
  }
  bool used = card;
  if (args.autoStorage && (storage == 0 || storage == 1)) used = storage == 1;
  std::string note;
  DWORD evicted = 0;
  if (used != card) {
    note = "the " + Where(card, folder) + " is full (" + std::to_string(count) +
           " messages): the store put the message on the " + StorageName(used);
    if (otherCount >= EMS_MAX_FOLDER_MESSAGES) {
      evicted = otherOldest;
      note += ", which was full too, and removed its oldest message " + std::to_string(evicted);
    }
  } else if (full) {
    evicted = oldest;
    note = "the " + Where(card, folder) + " was full (" + std::to_string(count) +
           " messages): the store removed its oldest message " + std::to_string(oldest);
  }
  if (ctx.json) {
    nlohmann::ordered_json j = {{"id", oid},
                                {"storage", StorageKey(used)},
                                {"folder", FolderName(folder)},
                                {"chosen_by_store", used != card}};
    j["evicted"] = evicted == 0 ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(evicted);
    j["note"] = note;
    PrintJson(j);
  } else {
    std::cout << "message " << oid << " stored in " << Where(used, folder) << '\n';
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
};

int MarkSms(const Context& ctx, const MarkArgs& args) {
  DWORD oid = ParseMessageId(args.id);
  uint64_t status = 0;
  bool setStatus = !args.status.empty();
  if (setStatus && !ParseUnsigned(args.status, 0xFFFF, &status))
    throw UsageError("--status '" + args.status + "' is not a number from 0 to 65535");
  if (!args.read && !args.unread && !setStatus)
    throw UsageError("nothing to change: give --read, --unread or --status N");
  Location at = Locate(ctx.card, oid);
  {
    Message before;
    ReadWhole(at, false, &before);
  }
  std::string where = "message " + std::to_string(oid) + " in " + Where(at.card, at.folder);
  if ((args.read || args.unread) &&
      EMSMsgStore_SetRead(at.card, at.folder, oid, args.read ? 1 : 0) == 0)
    throw Failure("could not change the read flag of " + where);
  if (setStatus && EMSMsgStore_SetStatus(at.card, at.folder, oid, static_cast<WORD>(status)) == 0)
    throw Failure("could not change the status of " + where);
  Message after;
  ReadWhole(at, false, &after);
  if (ctx.json) {
    PrintJson(MessageJson(at, *after, false));
  } else {
    std::cout << where << ": " << (after->bRead ? "read" : "unread") << ", status "
              << after->wStatus << '\n';
  }
  return 0;
}

struct MoveArgs {
  std::string id;
  std::string folder;
};

int MoveSms(const Context& ctx, const MoveArgs& args) {
  DWORD oid = ParseMessageId(args.id);
  DWORD target = ParseFolder(args.folder);
  Location at = Locate(ctx.card, oid);
  {
    Message before;
    ReadWhole(at, false, &before);
  }
  bool targetCard = IsSimFolder(target) ? false : at.card;
  RequireFolder(targetCard, target);
  RequireCardTakes(targetCard);
  RequireTree(targetCard, target);
  RequireIdCounter();
  DWORD count = 0;
  EMSMsgStore_GetLastRecord(targetCard, target, &count);
  CheckAutoTarget(targetCard, target, count, "message not moved");

  int storage = STORAGE_AUTO;
  DWORD newOid = 0;
  int moved = EMSMsgStore_SetFolder(at.card, at.folder, oid, target, &storage, &newOid);
  std::string what = "message " + std::to_string(oid) + " in " + Where(at.card, at.folder);
  if (newOid == 0) {
    if (storage == STORAGE_INBOX_FULL)
      throw Failure("the " + Where(targetCard, target) + " is full: " + what + " not moved");
    throw Failure("could not move " + what + " to " + FolderName(target));
  }
  bool used = targetCard;
  if (storage == 0 || storage == 1) used = storage == 1;
  if (moved == 0)
    throw Failure(what + " was copied to " + Where(used, target) + " as message " +
                  std::to_string(newOid) + ", but its old file could not be deleted");
  std::string note;
  if (used != targetCard)
    note = "the " + Where(targetCard, target) + " is full: the store put the message on the " +
           StorageName(used);
  if (ctx.json) {
    PrintJson({{"id", oid},
               {"from_storage", StorageKey(at.card)},
               {"from_folder", FolderName(at.folder)},
               {"new_id", newOid},
               {"storage", StorageKey(used)},
               {"folder", FolderName(target)},
               {"note", note}});
  } else {
    std::cout << what << " moved to " << Where(used, target) << " as message " << newOid << '\n';
    if (!note.empty()) std::cout << "note: " << note << '\n';
  }
  return 0;
}

struct IdArgs {
  std::string id;
};

int RemoveSms(const Context& ctx, const IdArgs& args) {
  DWORD oid = ParseMessageId(args.id);
  Location at = Locate(ctx.card, oid);
  std::string what = "message " + std::to_string(oid) + " in " + Where(at.card, at.folder);
  if (EMSMsgStore_DeleteMessage(at.card, at.folder, oid) == 0)
    throw Failure("could not delete " + what);
  if (ctx.json)
    PrintJson({{"id", oid},
               {"storage", StorageKey(at.card)},
               {"folder", FolderName(at.folder)},
               {"deleted", true}});
  else
    std::cout << "deleted " << what << '\n';
  return 0;
}

struct FolderArgs {
  std::string folder;
};

int EmptySms(const Context& ctx, const FolderArgs& args) {
  DWORD folder = ParseFolder(args.folder);
  if (ctx.card) RequireCard();
  RequireFolder(ctx.card, folder);
  RequireIntactFolder(ctx.card, folder);
  for (const FolderEntry& entry : FolderEntries(ctx.card, folder))
    if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      throw Failure("the " + Where(ctx.card, folder) + " cannot be emptied: " + entry.name +
                    " is not a file (nothing deleted)");
  DWORD before = EMSMsgStore_GetFolderMessageCount(ctx.card, folder);
  if (EMSMsgStore_EmptyFolder(ctx.card, folder) == 0)
    throw Failure("could not empty the " + Where(ctx.card, folder));
  DWORD left = EMSMsgStore_GetFolderMessageCount(ctx.card, folder);
  if (left != 0)
    throw Failure("the " + Where(ctx.card, folder) + " still holds " + std::to_string(left) +
                  (left == 1 ? " message file" : " message files") + " that could not be deleted");
  bool indexed = !ctx.card && folder != EMS_FOLDER_NONE && before != 0;
  if (ctx.json) {
    PrintJson(
        {{"storage", StorageKey(ctx.card)}, {"folder", FolderName(folder)}, {"deleted", before}});
  } else {
    std::cout << "emptied the " << Where(ctx.card, folder) << ": " << before
              << (before == 1 ? " message" : " messages") << " deleted\n";
    if (indexed)
      std::cout << "note: the index keeps its records until 'msgstore refresh' (or until the "
                   "messages are looked up)\n";
  }
  return 0;
}

// ---------------------------------------------------------------------------
// count

// Unread messages of the phone inbox; the store itself counts only the card's.
DWORD PhoneInboxUnread() {
  DWORD unread = 0;
  for (DWORD oid : ListFolder(false, EMS_FOLDER_INBOX)) {
    Message record;
    if (ReadRecord({false, EMS_FOLDER_INBOX, oid}, &record) && record->bRead == 0) ++unread;
  }
  return unread;
}

int Count(const Context& ctx) {
  // The store's unread count makes the trees of both storages; it is asked
  // only when they are made.
  RequireTree(false, EMS_FOLDER_INBOX);
  bool card = CardInserted() && TreeMade(true);
  nlohmann::ordered_json folders = nlohmann::ordered_json::object();
  Table table({"FOLDER", "PHONE", "CARD", "TOTAL"}, {false, true, true, true});
  auto text = [](bool known, DWORD n) { return known ? std::to_string(n) : std::string("-"); };
  for (const auto& f : EmsFolders()) {
    DWORD phone, onCardCount = 0, total;
    // NONE on the card is the phone's directory; the card has no NONE of its own.
    bool onCard = card && FolderOnStorage(true, f.id) && f.id != EMS_FOLDER_NONE;
    if (f.id == EMS_FOLDER_INBOX) {
      phone = GetEMSPhoneInboxMsgCount();
      onCardCount = card ? GetEMSSDInboxMsgCount() : 0;
      total = GetEMSInboxMsgCount();
    } else {
      phone = EMSMsgStore_GetFolderMessageCount(false, f.id);
      if (onCard) onCardCount = EMSMsgStore_GetFolderMessageCount(true, f.id);
      total = phone + onCardCount;
    }
    folders[f.name] = {{"phone", phone}};
    if (onCard) folders[f.name]["card"] = onCardCount;
    folders[f.name]["total"] = total;
    table.AddRow({f.name, std::to_string(phone), text(onCard, onCardCount), std::to_string(total)});
  }
  unsigned sim = GetEMSSimMsgCount();
  DWORD phoneUnread = PhoneInboxUnread();
  DWORD cardUnread = card ? GetEMSInboxUnreadMsgsCount() : 0;
  if (ctx.json) {
    PrintJson({{"card_inserted", CardInserted()},
               {"folders", folders},
               {"sim_total", sim},
               {"unread_inbox", {{"phone", phoneUnread}, {"card", cardUnread}}}});
    return 0;
  }
  table.AddRow({"sim folders", std::to_string(sim), "-", std::to_string(sim)});
  table.AddRow({"unread in inbox", std::to_string(phoneUnread), text(card, cardUnread),
                std::to_string(phoneUnread + cardUnread)});
  table.Print(std::cout);
  return 0;
}

// ---------------------------------------------------------------------------
// export

int Export(const Context&) {
  std::vector<Location> all = AllMessages();
  Progress progress("export", all.size());
  size_t damaged = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    Message m;
    if (EMSMsgStore_ReadFolderMessage(all[i].card, all[i].folder, -1, all[i].oid, true, m.get()) ==
        0) {
      ++damaged;
      Warn("message " + std::to_string(all[i].oid) + " in " + Where(all[i].card, all[i].folder) +
           " " + ReadProblem(all[i]) + ": left out");
    } else {
      PrintJsonLine(MessageJson(all[i], *m, true));
    }
    progress.Step(i + 1);
  }
  if (damaged != 0)
    throw Failure(std::to_string(damaged) + " of " + std::to_string(all.size()) +
                  " messages could not be read and are missing from the export");
  return 0;
}

}  // namespace

void AddEmsCommands(CLI::App& app, Context& ctx, Commands& commands) {
  const std::string folderHelp =
      "inbox, draft, sent, unsent, report, spam, sim-inbox, sim-sent, sim-unsent, none, or a "
      "number";

  auto ls = std::make_shared<ListArgs>();
  CLI::App* cmd = SmsCommand(app, "ls", "List the messages of a folder, newest first");
  cmd->add_option("FOLDER", ls->folder, folderHelp)->required();
  cmd->add_flag("--index", ls->index,
                "List the phone index records instead of the directory, in index order");
  commands.On(cmd, [&ctx, ls] { return ListSms(ctx, *ls); });

  auto show = std::make_shared<ShowArgs>();
  cmd = SmsCommand(app, "show", "Show every field of one message");
  cmd->add_option("ID", show->id, "Message identifier")->required();
  cmd->add_flag("--raw", show->raw, "Write the content bytes to standard output");
  commands.On(cmd, [&ctx, show] { return ShowSms(ctx, *show); });

  auto add = std::make_shared<AddArgs>();
  cmd = SmsCommand(app, "add", "Store a new message");
  cmd->add_option("FOLDER", add->folder, folderHelp)->required();
  cmd->add_option("--to", add->to, "Recipients");
  cmd->add_option("--subject", add->subject, "Subject");
  cmd->add_option("--text", add->text, "Message text (stored as UTF-16 content)");
  cmd->add_option("--time", add->time, "Message time, ISO 8601 (default: now)");
  cmd->add_option("--status", add->status, "Status value, 0 to 65535 (default 0)");
  cmd->add_option("--msgid", add->msgId, "Text message ID");
  cmd->add_flag("--read", add->read, "Store the message as read");
  cmd->add_flag("--auto", add->autoStorage,
                "Let the store put the message on the other storage when the folder is full");
  commands.On(cmd, [&ctx, add] { return AddSms(ctx, *add); });

  auto mark = std::make_shared<MarkArgs>();
  cmd = SmsCommand(app, "mark", "Change the read flag or the status of a message");
  cmd->add_option("ID", mark->id, "Message identifier")->required();
  CLI::Option* read = cmd->add_flag("--read", mark->read, "Mark as read");
  CLI::Option* unread = cmd->add_flag("--unread", mark->unread, "Mark as unread");
  read->excludes(unread);
  cmd->add_option("--status", mark->status, "Set the status value, 0 to 65535");
  commands.On(cmd, [&ctx, mark] { return MarkSms(ctx, *mark); });

  auto mv = std::make_shared<MoveArgs>();
  cmd = SmsCommand(app, "mv", "Move a message to another folder (it gets a new identifier)");
  cmd->add_option("ID", mv->id, "Message identifier")->required();
  cmd->add_option("FOLDER", mv->folder, folderHelp)->required();
  commands.On(cmd, [&ctx, mv] { return MoveSms(ctx, *mv); });

  auto rm = std::make_shared<IdArgs>();
  cmd = SmsCommand(app, "rm", "Delete a message");
  cmd->add_option("ID", rm->id, "Message identifier")->required();
  commands.On(cmd, [&ctx, rm] { return RemoveSms(ctx, *rm); });

  auto empty = std::make_shared<FolderArgs>();
  cmd = SmsCommand(app, "empty", "Delete every message of a folder");
  cmd->add_option("FOLDER", empty->folder, folderHelp)->required();
  commands.On(cmd, [&ctx, empty] { return EmptySms(ctx, *empty); });

  cmd = app.add_subcommand("count",
                           "Messages per folder on both storages, inbox, SIM and unread counts");
  commands.On(cmd, [&ctx] { return Count(ctx); });

  cmd = app.add_subcommand(
      "export", "Every message of the store as one JSON object a line, content in base64");
  commands.On(cmd, [&ctx] { return Export(ctx); });
}

}  // namespace tool

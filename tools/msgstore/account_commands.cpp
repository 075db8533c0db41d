// msgstore account: the e-mail account store's records (ls, show, add, rm,
// empty) and the incoming-server account (use). The store keeps its records
// in memory and saves them whole with EmailMsgStore_Close; a change is made
// only to a database that the store reads back whole, so that saving loses
// nothing.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "accounts.h"
#include "commands.h"
#include "output.h"
#include "text.h"

namespace tool {
namespace {

const msgstore::AccountStoreDescription& kStore = msgstore::AccountStore();
constexpr DWORD kFoldersProbed = 1024;
constexpr DWORD kIdsProbed = 65536;
// The longest name of the incoming-server account that the store reads whole.
const size_t kMaxName = kStore.nameBytes / 2 - 1;

// A record read from the store, whose text the caller frees.
struct Props {
  tagEMAILACCOUNTPROPS p = {};
  Props() = default;
  Props(const Props&) = delete;
  Props& operator=(const Props&) = delete;
  ~Props() { std::free(p.pszText); }
};

Account ToAccount(const tagEMAILACCOUNTPROPS& p) {
  return {p.dwAccountId, p.dwFolder,
          p.dwData,      p.wData1,
          p.wData2,      p.pszText != nullptr ? std::u16string(p.pszText) : std::u16string()};
}

bool ReadById(HANDLE store, DWORD id, Account* out) {
  Props props;
  if (EmailMsgStore_ReadFolderAccount(store, id, &props.p) == 0) return false;
  *out = ToAccount(props.p);
  return true;
}

bool ReadAt(HANDLE store, DWORD folder, DWORD index, Account* out) {
  Props props;
  if (EmailMsgStore_ReadFolderAccount(store, folder, index, &props.p) == 0) return false;
  *out = ToAccount(props.p);
  return true;
}

// The registry key's DWORD value, or 0.
DWORD RegistryNumber(const std::u16string& key, const WCHAR* value) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, 0, &handle) != ERROR_SUCCESS) return 0;
  DWORD type = 0, size = sizeof(DWORD), number = 0;
  if (RegQueryValueExW(handle, value, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size) !=
      ERROR_SUCCESS)
    number = 0;
  RegCloseKey(handle);
  return number;
}

// The name the preferences give the incoming-server account, read as the
// store reads it; false when the preferences key is missing.
bool IncomingServerName(std::u16string* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStore.incomingKey, 0, 0, &key) != ERROR_SUCCESS)
    return false;
  std::vector<WCHAR> buffer(kMaxName + 2);
  DWORD type = 0, size = 2 * (kMaxName + 1);
  RegQueryValueExW(key, kStore.incomingValue, nullptr, &type,
                   reinterpret_cast<BYTE*>(buffer.data()), &size);
  RegCloseKey(key);
  *name = buffer.data();
  return true;
}

struct Database {
  HANDLE store = nullptr;
  bool present = false;
  DWORD size = 0;
  std::vector<Account> accounts;  // what the store's lookups reach
  DWORD Expected() const { return DatabaseBytes(accounts); }
  bool Sound() const { return !present || size == 0 || size == Expected(); }
  std::string Damage() const {
    return "the account database " + DatabaseName() + " is damaged (" + std::to_string(size) +
           " bytes, of which the account store reads " + std::to_string(Expected()) + ")";
  }
};

// Every record of the array that the store's lookups reach. The array keeps
// a folder's records together and a read by folder and index runs on past
// the folder's end, so reading from a folder's first record on gives every
// record after it: the longest such run, from the earliest folder found,
// is the array from there on.
std::vector<Account> Reach(HANDLE store) {
  std::set<DWORD> folders;
  for (DWORD f = 0; f < kFoldersProbed; ++f)
    if (EmailMsgStore_GetAccountMessageCount(store, f) != 0) folders.insert(f);
  std::vector<DWORD> ids = AccountsOnDevice();
  DWORD last = RegistryNumber(kStore.registryKey, kStore.counterValue);
  for (DWORD id = last; id >= kStore.firstId && last - id < kIdsProbed; --id) ids.push_back(id);
  ids.push_back(IncomingServerAccount());
  Account a;
  for (DWORD id : ids)
    if (ReadById(store, id, &a)) folders.insert(a.folder);
  std::vector<Account> longest;
  std::set<DWORD> seen;
  for (DWORD folder : folders) {
    if (seen.count(folder) != 0) continue;
    std::vector<Account> run;
    for (DWORD i = 0; ReadAt(store, folder, i, &a); ++i) {
      run.push_back(a);
      seen.insert(a.folder);
    }
    if (run.size() > longest.size()) longest = run;
  }
  return longest;
}

// Loads the database into the store's array.
Database Load() {
  Database db;
  WIN32_FIND_DATAW data = {};
  db.present = FindPath(kStore.database, &data);
  if (db.present && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    throw Failure("the account database " + DatabaseName() + " cannot be opened (not a file)");
  db.size = data.nFileSizeLow;
  if (EmailAccMsgStore_Open(&db.store) == 0 && db.present)
    throw Failure("the account database " + DatabaseName() + " cannot be read");
  if (db.present) db.accounts = Reach(db.store);
  return db;
}

// Loads the database for a change: it must be whole, and phone memory's
// messaging directory must hold it.
Database LoadForChange() {
  DWORD attributes = GetFileAttributesW(DatabaseDir().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    throw Failure("the message tree of the phone memory has not been made (run 'msgstore init')");
  Database db = Load();
  if (!db.Sound()) throw Failure(db.Damage() + ": nothing changed");
  return db;
}

void Save(const Database& db) {
  if (EmailAccMsgStore_Create() == 0 || EmailMsgStore_Close(db.store) == 0)
    throw Failure("could not save the account database " + DatabaseName());
}

DWORD ParseNumber(const std::string& what, const std::string& text, uint64_t max) {
  uint64_t value = 0;
  if (!ParseUnsigned(text, max, &value))
    throw UsageError(what + " '" + text + "' is not a number from 0 to " + std::to_string(max));
  return static_cast<DWORD>(value);
}

DWORD ParseAccountId(const std::string& text) {
  uint64_t id = 0;
  if (!ParseUnsigned(text, 0xFFFFFFFFu, &id) || id == 0)
    throw UsageError("'" + text + "' is not an account identifier (1 to 4294967295)");
  return static_cast<DWORD>(id);
}

const Account& Find(const Database& db, DWORD id, Account* storage) {
  if (!ReadById(db.store, id, storage))
    throw Failure("no account " + std::to_string(id) + " (see 'msgstore account ls')");
  return *storage;
}

nlohmann::ordered_json AccountJson(const Account& a, DWORD incoming) {
  return {{"id", a.id},
          {"folder", a.folder},
          {"data", a.data},
          {"wdata1", a.wdata1},
          {"wdata2", a.wdata2},
          {"text", Utf16ToUtf8(a.text)},
          {"incoming_server", a.id == incoming}};
}

// The account's inbox messages on each storage; the card's when its tree is
// made.
struct Inbox {
  DWORD phone = 0, card = 0, unreadPhone = 0, unreadCard = 0;
  bool onCard = false;
};

Inbox InboxOf(DWORD id) {
  Inbox inbox;
  EmailMsgStore_GetFolderMessageCountInbox(false, id, &inbox.phone);
  inbox.unreadPhone = EmailMsgStore_GetUnreadMsgCount(false, id);
  inbox.onCard = CardInserted() && TreeMade(Email(), true);
  if (inbox.onCard) {
    EmailMsgStore_GetFolderMessageCountInbox(true, id, &inbox.card);
    inbox.unreadCard = EmailMsgStore_GetUnreadMsgCount(true, id);
  }
  return inbox;
}

// ---------------------------------------------------------------------------

int ListAccounts(const Context& ctx, const std::string& folderText) {
  bool oneFolder = !folderText.empty();
  DWORD folder = oneFolder ? ParseNumber("folder", folderText, 0xFFFFFFFFu) : 0;
  Database db = Load();
  if (!db.Sound()) Warn(db.Damage());
  std::vector<Account> shown;
  if (oneFolder) {
    Account a;
    DWORD n = EmailMsgStore_GetAccountMessageCount(db.store, folder);
    for (DWORD i = 0; i < n && ReadAt(db.store, folder, i, &a); ++i) shown.push_back(a);
  } else {
    shown = db.accounts;
  }
  DWORD incoming = shown.empty() ? 0 : IncomingServerAccount();
  if (ctx.json) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const Account& a : shown) out.push_back(AccountJson(a, incoming));
    PrintJson(out);
    return 0;
  }
  if (shown.empty()) {
    std::cout << "no accounts" << (oneFolder ? " in folder " + std::to_string(folder) : "") << '\n';
    return 0;
  }
  Table table({"ID", "FOLDER", "DATA", "WDATA1", "WDATA2", "INCOMING", "TEXT"},
              {true, true, true, true, true, false, false});
  for (const Account& a : shown)
    table.AddRow({std::to_string(a.id), std::to_string(a.folder), std::to_string(a.data),
                  std::to_string(a.wdata1), std::to_string(a.wdata2),
                  a.id == incoming ? "yes" : "no", CellText(Utf16ToUtf8(a.text), 48)});
  table.Print(std::cout);
  return 0;
}

int ShowAccount(const Context& ctx, const std::string& idText) {
  DWORD id = ParseAccountId(idText);
  Database db = Load();
  Account storage;
  const Account& a = Find(db, id, &storage);
  DWORD incoming = IncomingServerAccount();
  Inbox inbox = InboxOf(id);
  if (ctx.json) {
    nlohmann::ordered_json j = AccountJson(a, incoming);
    j["inbox"] = {{"phone", inbox.phone}};
    j["unread"] = {{"phone", inbox.unreadPhone}};
    if (inbox.onCard) j["inbox"]["card"] = inbox.card, j["unread"]["card"] = inbox.unreadCard;
    PrintJson(j);
    return 0;
  }
  auto both = [&](DWORD phone, DWORD card) {
    return std::to_string(phone) + " in phone memory" +
           (inbox.onCard ? ", " + std::to_string(card) + " on the memory card" : "");
  };
  Table table({"", ""});
  table.AddRow({"id", std::to_string(a.id)});
  table.AddRow({"folder", std::to_string(a.folder)});
  table.AddRow({"data", std::to_string(a.data)});
  table.AddRow({"wdata1", std::to_string(a.wdata1)});
  table.AddRow({"wdata2", std::to_string(a.wdata2)});
  table.AddRow({"text", CellText(Utf16ToUtf8(a.text), 4096)});
  table.AddRow({"incoming server", a.id == incoming ? "yes" : "no"});
  table.AddRow({"inbox", both(inbox.phone, inbox.card)});
  table.AddRow({"unread", both(inbox.unreadPhone, inbox.unreadCard)});
  table.Print(std::cout);
  return 0;
}

struct AddArgs {
  std::string folder;
  std::string text;
  std::string data;
  std::string wdata1;
  std::string wdata2;
};

int AddAccount(const Context& ctx, const AddArgs& args) {
  std::u16string text = Utf8ToUtf16(args.text);
  if (text.size() > kStore.textUnits)
    throw UsageError("--text is " + std::to_string(text.size()) +
                     " UTF-16 code units long; an account keeps at most " +
                     std::to_string(kStore.textUnits));
  tagEMAILACCOUNTPROPS props = {};
  props.dwFolder = ParseNumber("--folder", args.folder, 0xFFFFFFFFu);
  props.dwData = args.data.empty() ? 0 : ParseNumber("--data", args.data, 0xFFFFFFFFu);
  props.wData1 =
      static_cast<WORD>(args.wdata1.empty() ? 0 : ParseNumber("--wdata1", args.wdata1, 0xFFFF));
  props.wData2 =
      static_cast<WORD>(args.wdata2.empty() ? 0 : ParseNumber("--wdata2", args.wdata2, 0xFFFF));
  props.pszText = text.empty() ? nullptr : &text[0];
  Database db = LoadForChange();
  // The store hands out the counter's next identifier even when an account
  // has it already.
  DWORD last = RegistryNumber(kStore.registryKey, kStore.counterValue);
  DWORD next = (last == 0 ? kStore.firstId - 1 : last) + 1;
  Account taken;
  if (ReadById(db.store, next, &taken))
    throw Failure("the registry's account counter " + Utf16ToUtf8(kStore.counterValue) + " (" +
                  std::to_string(last) + ") is behind the accounts: the next identifier, " +
                  std::to_string(next) + ", is taken: nothing changed");
  DWORD id = EmailMsgStore_WriteAccountData(db.store, &props, 0);
  if (id == 0) throw Failure("the registry gave no account identifier: nothing changed");
  Save(db);
  Account a;
  Find(db, id, &a);
  if (ctx.json)
    PrintJson(AccountJson(a, IncomingServerAccount()));
  else
    std::cout << "account " << id << " added to folder " << a.folder << '\n';
  return 0;
}

int RemoveAccount(const Context& ctx, const std::string& idText) {
  DWORD id = ParseAccountId(idText);
  Database db = LoadForChange();
  Account a;
  Find(db, id, &a);
  if (EmailMsgStore_DeleteAccount(db.store, id) == 0)
    throw Failure("could not remove account " + std::to_string(id));
  Save(db);
  Inbox inbox = InboxOf(id);
  DWORD kept = inbox.phone + inbox.card;
  bool incoming = IncomingServerAccount() == id;
  if (ctx.json) {
    PrintJson({{"id", id}, {"removed", true}, {"inbox_kept", kept}, {"incoming_server", incoming}});
    return 0;
  }
  std::cout << "removed account " << id << " of folder " << a.folder << '\n';
  if (kept != 0)
    std::cout << "note: its inbox keeps " << kept << (kept == 1 ? " message" : " messages")
              << " ('msgstore empty email inbox --account " << id << "' deletes them)\n";
  if (incoming) std::cout << "note: the registry still names it the incoming-server account\n";
  return 0;
}

int EmptyAccounts(const Context& ctx, const std::string& folderText) {
  DWORD folder = ParseNumber("folder", folderText, 0xFFFFFFFFu);
  Database db = LoadForChange();
  DWORD removed = EmailMsgStore_GetAccountMessageCount(db.store, folder);
  EmailMsgStore_EmptyFolderAccount(db.store, folder);
  Save(db);
  if (ctx.json)
    PrintJson({{"folder", folder}, {"removed", removed}});
  else
    std::cout << "removed " << removed << (removed == 1 ? " account" : " accounts") << " of folder "
              << folder << '\n';
  return 0;
}

// The registry values that the e-mail application writes when it chooses
// the incoming-server account, and from which the store reads it.
void SetRegistry(const std::u16string& name, DWORD id) {
  WCHAR noClass[] = u"";
  auto set = [&](const std::u16string& key, const WCHAR* value, DWORD type, const BYTE* data,
                 DWORD size) {
    HKEY handle = nullptr;
    DWORD disposition = 0;
    bool ok = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, noClass, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &handle, &disposition) == ERROR_SUCCESS &&
              RegSetValueExW(handle, value, 0, type, data, size) == ERROR_SUCCESS;
    if (handle != nullptr) {
      RegFlushKey(handle);
      RegCloseKey(handle);
    }
    if (!ok) throw Failure("could not write the registry value " + Utf16ToUtf8(value));
  };
  BYTE number[4] = {static_cast<BYTE>(id), static_cast<BYTE>(id >> 8), static_cast<BYTE>(id >> 16),
                    static_cast<BYTE>(id >> 24)};
  set(std::u16string(kStore.registryKey) + u"\\" + name, kStore.idValue, REG_DWORD, number, 4);
  set(kStore.incomingKey, kStore.incomingValue, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
      static_cast<DWORD>(2 * (name.size() + 1)));
}

int UseAccount(const Context& ctx, const std::string& idText, const std::string& nameText) {
  DWORD id = ParseAccountId(idText);
  std::string name = nameText;
  if (name.empty()) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "Account%08X", static_cast<unsigned>(id));
    name = buffer;
  }
  bool ok = name.size() <= kMaxName;
  for (char c : name)
    ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-');
  if (!ok)
    throw UsageError("account name '" + name + "' must be 1 to " + std::to_string(kMaxName) +
                     " letters, digits, '_' or '-'");
  Database db = Load();
  Account a;
  Find(db, id, &a);
  SetRegistry(Utf8ToUtf16(name), id);
  if (IncomingServerAccount() != id)
    throw Failure("the store does not find account " + std::to_string(id) +
                  " through the registry values just written");
  if (ctx.json)
    PrintJson({{"id", id}, {"name", name}, {"incoming_server", true}});
  else
    std::cout << "account " << id << " is the incoming-server account (registry name " << name
              << ")\n";
  return 0;
}

}  // namespace

DWORD DatabaseBytes(const std::vector<Account>& accounts) {
  DWORD bytes = 4;
  for (const Account& a : accounts) bytes += 16 + 2 * static_cast<DWORD>(a.text.size() + 1);
  return bytes;
}

std::vector<Account> LoadAccounts() {
  HANDLE store = nullptr;
  if (EmailAccMsgStore_Open(&store) == 0) return {};
  return Reach(store);
}

bool AccountExists(DWORD id) {
  HANDLE store = nullptr;
  Account a;
  return EmailAccMsgStore_Open(&store) != 0 && ReadById(store, id, &a);
}

DWORD IncomingServerAccount() {
  std::u16string name;
  if (!IncomingServerName(&name)) return 0;
  return RegistryNumber(std::u16string(kStore.registryKey) + u"\\" + name, kStore.idValue);
}

std::string DatabaseName() {
  const std::string path = Utf16ToUtf8(kStore.database);
  return path.substr(path.rfind('\\') + 1);
}

std::u16string DatabaseDir() {
  const std::u16string path = kStore.database;
  return path.substr(0, path.rfind(u'\\'));
}

std::vector<DWORD> AccountsOnDevice() {
  const Store& s = Email();
  std::set<DWORD> ids;
  for (bool card : {false, true}) {
    if (card && !CardInserted()) continue;
    for (const FolderEntry& entry : FolderEntries(s, card, s.Inbox()))
      if (entry.account != 0) ids.insert(entry.account);
  }
  WIN32_FIND_DATAW data = {};
  std::u16string inbox = FolderPath(s, false, s.Inbox());
  Handle<FindClose> find(FindFirstFileW((inbox + u"\\*_" + s.d.indexName).c_str(), &data));
  for (bool more = find.valid(); more; more = FindNextFileW(find.get(), &data) != 0) {
    std::string name = WideToUtf8(data.cFileName);
    uint64_t id = 0;
    if (ParseUnsigned(name.substr(0, name.find('_')), 0xFFFFFFFFu, &id) &&
        id >= s.d.firstAccountFolder)
      ids.insert(static_cast<DWORD>(id));
  }
  return std::vector<DWORD>(ids.begin(), ids.end());
}

void AddAccountCommands(CLI::App& app, Context& ctx, Commands& commands) {
  CLI::App* account = app.add_subcommand(
      "account", "E-mail accounts: the account store's records and the incoming-server account");
  account->require_subcommand(1);

  auto folder = std::make_shared<std::string>();
  CLI::App* cmd = account->add_subcommand("ls", "List the accounts (of one folder)");
  cmd->add_option("FOLDER", *folder, "Only the accounts of this folder number");
  commands.On(cmd, [&ctx, folder] { return ListAccounts(ctx, *folder); });

  auto id = std::make_shared<std::string>();
  cmd = account->add_subcommand("show", "Show one account and its inbox");
  cmd->add_option("ID", *id, "Account identifier")->required();
  commands.On(cmd, [&ctx, id] { return ShowAccount(ctx, *id); });

  auto add = std::make_shared<AddArgs>();
  cmd = account->add_subcommand("add",
                                "Add an account; its identifier comes from the registry counter");
  cmd->add_option("--folder", add->folder, "Folder number that groups the account")->required();
  cmd->add_option("--text", add->text, "The account's text, at most 255 UTF-16 code units")
      ->required();
  cmd->add_option("--data", add->data, "dwData, 0 to 4294967295 (default 0)");
  cmd->add_option("--wdata1", add->wdata1, "wData1, 0 to 65535 (default 0)");
  cmd->add_option("--wdata2", add->wdata2, "wData2, 0 to 65535 (default 0)");
  commands.On(cmd, [&ctx, add] { return AddAccount(ctx, *add); });

  id = std::make_shared<std::string>();
  cmd = account->add_subcommand("rm", "Remove an account (its inbox messages stay)");
  cmd->add_option("ID", *id, "Account identifier")->required();
  commands.On(cmd, [&ctx, id] { return RemoveAccount(ctx, *id); });

  folder = std::make_shared<std::string>();
  cmd = account->add_subcommand("empty", "Remove every account of a folder");
  cmd->add_option("FOLDER", *folder, "Folder number")->required();
  commands.On(cmd, [&ctx, folder] { return EmptyAccounts(ctx, *folder); });

  id = std::make_shared<std::string>();
  auto name = std::make_shared<std::string>();
  cmd = account->add_subcommand(
      "use",
      "Make an account the incoming-server account, whose inbox the store's plain inbox "
      "operations mean (writes the registry values the e-mail application writes)");
  cmd->add_option("ID", *id, "Account identifier")->required();
  cmd->add_option("--name", *name,
                  "The account's registry name, 1 to 15 letters, digits, '_' or '-' (default "
                  "Account and the identifier in 8 hex digits)");
  commands.On(cmd, [&ctx, id, name] { return UseAccount(ctx, *id, *name); });
}

}  // namespace tool

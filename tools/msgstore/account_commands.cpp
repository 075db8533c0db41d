// msgstore account: the e-mail account store's records (ls, show, add, rm,
// empty) and the incoming-server account (use), over the account store's
// API, which changes only a database it reads back whole.
#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "msgstore/maintenance.h"
#include "output.h"
#include "text.h"

namespace tool {
namespace {

using msgstore::Account;

DWORD ParseNumber(const std::string& what, const std::string& text, uint64_t max) {
  uint64_t value = 0;
  if (!ParseUnsigned(text, max, &value))
    throw UsageError(what + " '" + text + "' is not a number from 0 to " + std::to_string(max));
  return static_cast<DWORD>(value);
}

// "805306371, 805306372"
std::string Join(const std::vector<DWORD>& ids) {
  std::string out;
  for (DWORD id : ids) out += (out.empty() ? "" : ", ") + std::to_string(id);
  return out;
}

Account Find(Context& ctx, DWORD id) {
  msgstore::AccountResult found = ctx.accounts().Get(id);
  Require(found, id);
  return found.account;
}

nlohmann::ordered_json AccountJson(const Account& a, DWORD incoming) {
  return {{"id", a.id},
          {"folder", a.folder},
          {"data", a.data},
          {"wdata1", a.data1},
          {"wdata2", a.data2},
          {"text", Utf16ToUtf8(a.text)},
          {"incoming_server", a.id == incoming}};
}

// The account's messages of the per-account folder on each storage; the
// card's when its tree is made.
struct Inbox {
  msgstore::CountResult phone, card;
  bool onCard = false;
};

Inbox InboxOf(Context& ctx, DWORD id) {
  const StoreDescription& s = StoreWithAccounts();
  const DWORD folder = AccountFolder(s)->number;
  msgstore::Store& store = ctx.store(s);
  Inbox inbox;
  inbox.phone = store.Count(false, folder, id);
  inbox.onCard = store.TreeMade(true);
  if (inbox.onCard) inbox.card = store.Count(true, folder, id);
  return inbox;
}

int ListAccounts(Context& ctx, const std::string& folderText) {
  const bool oneFolder = !folderText.empty();
  const DWORD folder = oneFolder ? ParseNumber("folder", folderText, 0xFFFFFFFFu) : 0;
  msgstore::CheckOptions database;
  database.stores.clear();
  database.temps = false;
  const msgstore::AccountReport checked = msgstore::Check(*ctx.device, database).accounts;
  if (!checked.readable) Warn(checked.problem);
  msgstore::AccountListResult all = ctx.accounts().List();
  Require(all);
  std::vector<Account> shown;
  for (const Account& a : all.accounts)
    if (!oneFolder || a.folder == folder) shown.push_back(a);
  const DWORD incoming = shown.empty() ? 0 : ctx.accounts().IncomingServer();
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
                  std::to_string(a.data1), std::to_string(a.data2), a.id == incoming ? "yes" : "no",
                  CellText(Utf16ToUtf8(a.text), 48)});
  table.Print(std::cout);
  return 0;
}

int ShowAccount(Context& ctx, const std::string& idText) {
  const Account a = Find(ctx, ResolveAccount(ctx, idText));
  const DWORD incoming = ctx.accounts().IncomingServer();
  const Inbox inbox = InboxOf(ctx, a.id);
  if (ctx.json) {
    nlohmann::ordered_json j = AccountJson(a, incoming);
    j["inbox"] = {{"phone", inbox.phone.messages}, {"card", nullptr}};
    j["unread"] = {{"phone", inbox.phone.unread}, {"card", nullptr}};
    if (inbox.onCard)
      j["inbox"]["card"] = inbox.card.messages, j["unread"]["card"] = inbox.card.unread;
    PrintJson(j);
    return 0;
  }
  auto both = [&](size_t phone, size_t card) {
    return std::to_string(phone) + " in phone memory" +
           (inbox.onCard ? ", " + std::to_string(card) + " on the memory card" : "");
  };
  Table table({"", ""});
  table.AddRow({"id", std::to_string(a.id)});
  table.AddRow({"folder", std::to_string(a.folder)});
  table.AddRow({"data", std::to_string(a.data)});
  table.AddRow({"wdata1", std::to_string(a.data1)});
  table.AddRow({"wdata2", std::to_string(a.data2)});
  table.AddRow({"text", CellText(Utf16ToUtf8(a.text), 4096)});
  table.AddRow({"incoming server", a.id == incoming ? "yes" : "no"});
  table.AddRow({"inbox", both(inbox.phone.messages, inbox.card.messages)});
  table.AddRow({"unread", both(inbox.phone.unread, inbox.card.unread)});
  table.Print(std::cout);
  return 0;
}

struct AddArgs {
  std::string folder = "1";
  std::string text;
  bool incoming = false;
  std::string data;
  std::string wdata1;
  std::string wdata2;
};

int AddAccount(Context& ctx, const AddArgs& args) {
  Account a;
  a.text = Utf8ToUtf16(args.text);
  const size_t kept = msgstore::AccountStore().textUnits;
  if (a.text.size() > kept)
    throw UsageError("--name is " + std::to_string(a.text.size()) +
                     " UTF-16 code units long; an account keeps at most " + std::to_string(kept));
  a.folder = ParseNumber("--folder", args.folder, 0xFFFFFFFFu);
  a.data = args.data.empty() ? 0 : ParseNumber("--data", args.data, 0xFFFFFFFFu);
  a.data1 =
      static_cast<WORD>(args.wdata1.empty() ? 0 : ParseNumber("--wdata1", args.wdata1, 0xFFFF));
  a.data2 =
      static_cast<WORD>(args.wdata2.empty() ? 0 : ParseNumber("--wdata2", args.wdata2, 0xFFFF));
  const msgstore::AccountResult added = ctx.accounts().Add(a);
  Require(added);
  if (args.incoming) Require(ctx.accounts().SetIncomingServer(added.account.id), added.account.id);
  if (ctx.json) {
    PrintJson(AccountJson(added.account, ctx.accounts().IncomingServer()));
    return 0;
  }
  std::cout << "account " << added.account.id << " added to folder " << added.account.folder
            << '\n';
  if (args.incoming)
    std::cout << "account " << added.account.id << " is the incoming-server account (registry name "
              << ctx.accounts().IncomingServerName() << ")\n";
  return 0;
}

int RemoveAccount(Context& ctx, const std::string& idText) {
  const DWORD id = ResolveAccount(ctx, idText);
  const Account a = Find(ctx, id);
  Require(ctx.accounts().Remove(id), id);
  const Inbox inbox = InboxOf(ctx, id);
  const size_t kept = inbox.phone.messages + inbox.card.messages;
  const bool incoming = ctx.accounts().IncomingServer() == id;
  if (ctx.json) {
    PrintJson({{"id", id}, {"removed", true}, {"inbox_kept", kept}, {"incoming_server", incoming}});
    return 0;
  }
  std::cout << "removed account " << id << " of folder " << a.folder << '\n';
  const StoreDescription& s = StoreWithAccounts();
  if (kept != 0)
    std::cout << "note: its inbox keeps " << kept << (kept == 1 ? " message" : " messages") << " ('"
              << "msgstore empty " << s.name << " " << AccountFolder(s)->name << " --account " << id
              << "' deletes them)\n";
  if (incoming) std::cout << "note: the registry still names it the incoming-server account\n";
  return 0;
}

struct EmptyArgs {
  std::string folder;
  bool yes = false;
  bool dryRun = false;
};

int EmptyAccounts(Context& ctx, const EmptyArgs& args) {
  const DWORD folder = ParseNumber("folder", args.folder, 0xFFFFFFFFu);
  msgstore::AccountListResult all = ctx.accounts().List();
  Require(all);
  std::vector<DWORD> ids;
  for (const Account& a : all.accounts)
    if (a.folder == folder) ids.push_back(a.id);
  std::sort(ids.begin(), ids.end());
  auto accounts = [](size_t n) { return std::to_string(n) + (n == 1 ? " account" : " accounts"); };
  if (!args.dryRun) {
    Confirm("remove the " + accounts(ids.size()) + " of folder " + std::to_string(folder), args.yes,
            "removed");
    for (DWORD id : ids) Require(ctx.accounts().Remove(id));
  }
  nlohmann::ordered_json list = ids;
  if (ctx.json)
    PrintJson(
        {{"folder", folder}, {"removed", ids.size()}, {"ids", list}, {"dry_run", args.dryRun}});
  else if (args.dryRun)
    std::cout << "would remove " << accounts(ids.size()) << " of folder " << folder
              << (ids.empty() ? "" : " (" + Join(ids) + ")") << " (nothing removed: --dry-run)\n";
  else
    std::cout << "removed " << accounts(ids.size()) << " of folder " << folder << '\n';
  return 0;
}

int UseAccount(Context& ctx, const std::string& idText, const std::string& name) {
  const DWORD id = ResolveAccount(ctx, idText);
  const msgstore::Result set = ctx.accounts().SetIncomingServer(id, name);
  if (set.refusal == msgstore::Refusal::kInvalid) throw UsageError(set.error);
  Require(set, id);
  const std::string registered = ctx.accounts().IncomingServerName();
  if (ctx.json)
    PrintJson({{"id", id}, {"name", registered}, {"incoming_server", true}});
  else
    std::cout << "account " << id << " is the incoming-server account (registry name " << registered
              << ")\n";
  return 0;
}

}  // namespace

void AddAccountCommands(CLI::App& app, Context& ctx, Commands& commands) {
  static const char* const kAccountHelp = "Account identifier, or the account's name (its text)";
  CLI::App* account = app.add_subcommand(
      "account", "E-mail accounts: the account store's records and the incoming-server account");
  account->require_subcommand(1);

  auto folder = std::make_shared<std::string>();
  CLI::App* cmd = account->add_subcommand("ls", "List the accounts (of one folder)");
  cmd->add_option("FOLDER", *folder, "Only the accounts of this folder number");
  commands.On(cmd, [&ctx, folder] { return ListAccounts(ctx, *folder); });

  auto id = std::make_shared<std::string>();
  cmd = account->add_subcommand("show", "Show one account and its inbox");
  cmd->add_option("ID", *id, kAccountHelp)->required();
  commands.On(cmd, [&ctx, id] { return ShowAccount(ctx, *id); });

  auto add = std::make_shared<AddArgs>();
  cmd = account->add_subcommand("add",
                                "Add an account; its identifier comes from the registry counter");
  cmd->add_option("--folder", add->folder, "Folder number that groups the account (default 1)");
  cmd->add_option("--name,--text", add->text,
                  "The account's text, by which commands can name it, at most " +
                      std::to_string(msgstore::AccountStore().textUnits) + " UTF-16 code units")
      ->required();
  cmd->add_option("--data", add->data, "dwData, 0 to 4294967295 (default 0)");
  cmd->add_option("--wdata1", add->wdata1, "wData1, 0 to 65535 (default 0)");
  cmd->add_option("--wdata2", add->wdata2, "wData2, 0 to 65535 (default 0)");
  cmd->add_flag("--default", add->incoming,
                "Make it the incoming-server account, as 'msgstore account use' does");
  commands.On(cmd, [&ctx, add] { return AddAccount(ctx, *add); });

  id = std::make_shared<std::string>();
  cmd = account->add_subcommand("rm", "Remove an account (its inbox messages stay)");
  cmd->add_option("ID", *id, kAccountHelp)->required();
  commands.On(cmd, [&ctx, id] { return RemoveAccount(ctx, *id); });

  auto empty = std::make_shared<EmptyArgs>();
  cmd = account->add_subcommand("empty", "Remove every account of a folder");
  cmd->add_option("FOLDER", empty->folder, "Folder number")->required();
  cmd->add_flag("--yes", empty->yes, "Remove without asking (needed when not on a terminal)");
  cmd->add_flag("--dry-run", empty->dryRun, "Say which accounts would be removed, remove none");
  commands.On(cmd, [&ctx, empty] { return EmptyAccounts(ctx, *empty); });

  id = std::make_shared<std::string>();
  auto name = std::make_shared<std::string>();
  cmd = account->add_subcommand(
      "use",
      "Make an account the incoming-server account, whose inbox the store's plain inbox "
      "operations mean (writes the registry values the e-mail application writes)");
  cmd->add_option("ID", *id, kAccountHelp)->required();
  cmd->add_option("--name", *name,
                  "The account's registry name, 1 to 15 letters, digits, '_' or '-' (default "
                  "Account and the identifier in 8 hex digits)");
  commands.On(cmd, [&ctx, id, name] { return UseAccount(ctx, *id, *name); });
}

}  // namespace tool

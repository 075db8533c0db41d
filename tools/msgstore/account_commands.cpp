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

namespace tool {
namespace {

using msgstore::Account;

// The arguments of the account commands (one command runs).
struct Args {
  std::string id, folder, name;
  std::string addFolder = "1", text, data, wdata1, wdata2;
  bool incoming = false, yes = false, dryRun = false;
};

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
  const DWORD folder = s.AccountFolder()->number;
  msgstore::Store& store = ctx.store(s);
  Inbox inbox{store.Count(false, folder, id), {}, store.TreeMade(true)};
  if (inbox.onCard) inbox.card = store.Count(true, folder, id);
  return inbox;
}

int ListAccounts(Context& ctx, const std::string& folderText) {
  const bool oneFolder = !folderText.empty();
  const DWORD folder = oneFolder ? ParseNumber("folder", folderText, 0xFFFFFFFFu) : 0;
  const msgstore::AccountReport checked = msgstore::CheckAccounts(*ctx.device);
  if (!checked.readable) Warn(checked.problem);
  const DWORD incoming = ctx.accounts().IncomingServer();
  nlohmann::ordered_json out = nlohmann::ordered_json::array();
  Table table({"ID", "FOLDER", "DATA", "WDATA1", "WDATA2", "INCOMING", "TEXT"},
              {true, true, true, true, true, false, false});
  for (const Account& a : Required(ctx.accounts().List()).accounts) {
    if (oneFolder && a.folder != folder) continue;
    out.push_back(AccountJson(a, incoming));
    table.AddRow({std::to_string(a.id), std::to_string(a.folder), std::to_string(a.data),
                  std::to_string(a.data1), std::to_string(a.data2), a.id == incoming ? "yes" : "no",
                  CellText(Utf16ToUtf8(a.text), 48)});
  }
  if (PrintedJson(ctx.json, out)) return 0;
  if (table.empty())
    std::cout << "no accounts" << (oneFolder ? " in folder " + std::to_string(folder) : "") << '\n';
  else
    table.Print(std::cout);
  return 0;
}

int ShowAccount(Context& ctx, const std::string& idText) {
  const Account a = Find(ctx, ResolveAccount(ctx, idText));
  const DWORD incoming = ctx.accounts().IncomingServer();
  const Inbox inbox = InboxOf(ctx, a.id);
  nlohmann::ordered_json j = AccountJson(a, incoming);
  j["inbox"] = {{"phone", inbox.phone.messages}, {"card", nullptr}};
  j["unread"] = {{"phone", inbox.phone.unread}, {"card", nullptr}};
  if (inbox.onCard)
    j["inbox"]["card"] = inbox.card.messages, j["unread"]["card"] = inbox.card.unread;
  if (PrintedJson(ctx.json, j)) return 0;
  auto both = [&](size_t phone, size_t card) {
    return std::to_string(phone) + " in phone memory" +
           (inbox.onCard ? ", " + std::to_string(card) + " on the memory card" : "");
  };
  PrintFields({{"id", std::to_string(a.id)},
               {"folder", std::to_string(a.folder)},
               {"data", std::to_string(a.data)},
               {"wdata1", std::to_string(a.data1)},
               {"wdata2", std::to_string(a.data2)},
               {"text", CellText(Utf16ToUtf8(a.text), 4096)},
               {"incoming server", a.id == incoming ? "yes" : "no"},
               {"inbox", both(inbox.phone.messages, inbox.card.messages)},
               {"unread", both(inbox.phone.unread, inbox.card.unread)}});
  return 0;
}

int AddAccount(Context& ctx, const Args& args) {
  Account a;
  a.text = Utf8ToUtf16(args.text);
  const size_t kept = msgstore::AccountStore().textUnits;
  if (a.text.size() > kept)
    throw UsageError("--name is " + std::to_string(a.text.size()) +
                     " UTF-16 code units long; an account keeps at most " + std::to_string(kept));
  a.folder = ParseNumber("--folder", args.addFolder, 0xFFFFFFFFu);
  a.data = args.data.empty() ? 0 : ParseNumber("--data", args.data, 0xFFFFFFFFu);
  a.data1 =
      static_cast<WORD>(args.wdata1.empty() ? 0 : ParseNumber("--wdata1", args.wdata1, 0xFFFF));
  a.data2 =
      static_cast<WORD>(args.wdata2.empty() ? 0 : ParseNumber("--wdata2", args.wdata2, 0xFFFF));
  const Account added = Required(ctx.accounts().Add(a)).account;
  if (args.incoming) Require(ctx.accounts().SetIncomingServer(added.id), added.id);
  if (PrintedJson(ctx.json, AccountJson(added, ctx.accounts().IncomingServer()))) return 0;
  std::cout << "account " << added.id << " added to folder " << added.folder << '\n';
  if (args.incoming)
    std::cout << "account " << added.id << " is the incoming-server account (registry name "
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
  if (PrintedJson(
          ctx.json,
          {{"id", id}, {"removed", true}, {"inbox_kept", kept}, {"incoming_server", incoming}}))
    return 0;
  std::cout << "removed account " << id << " of folder " << a.folder << '\n';
  const StoreDescription& s = StoreWithAccounts();
  const std::string rest =
      std::string(s.AccountFolder()->name) + " --account " + std::to_string(id);
  if (kept != 0)
    std::cout << "note: its inbox keeps " << Counted(kept, "message") << " ('"
              << CommandLine(s, "empty", rest) << "' deletes them)\n";
  if (incoming) std::cout << "note: the registry still names it the incoming-server account\n";
  return 0;
}

int EmptyAccounts(Context& ctx, const Args& args) {
  const DWORD folder = ParseNumber("folder", args.folder, 0xFFFFFFFFu);
  std::vector<DWORD> ids;
  for (const Account& a : Required(ctx.accounts().List()).accounts)
    if (a.folder == folder) ids.push_back(a.id);
  std::sort(ids.begin(), ids.end());
  const std::string accounts =
      Counted(ids.size(), "account") + " of folder " + std::to_string(folder);
  if (!args.dryRun) {
    Confirm("remove the " + accounts, args.yes, "removed");
    for (DWORD id : ids) Require(ctx.accounts().Remove(id));
  }
  nlohmann::ordered_json list = ids;
  if (PrintedJson(
          ctx.json,
          {{"folder", folder}, {"removed", ids.size()}, {"ids", list}, {"dry_run", args.dryRun}}))
    return 0;
  if (args.dryRun)
    std::cout << "would remove " << accounts << (ids.empty() ? "" : " (" + JoinList(ids) + ")")
              << " (nothing removed: --dry-run)\n";
  else
    std::cout << "removed " << accounts << '\n';
  return 0;
}

int UseAccount(Context& ctx, const Args& args) {
  const DWORD id = ResolveAccount(ctx, args.id);
  const msgstore::Result set = ctx.accounts().SetIncomingServer(id, args.name);
  if (set.refusal == msgstore::Refusal::kInvalid) throw UsageError(set.error);
  Require(set, id);
  const std::string registered = ctx.accounts().IncomingServerName();
  if (!PrintedJson(ctx.json, {{"id", id}, {"name", registered}, {"incoming_server", true}}))
    std::cout << "account " << id << " is the incoming-server account (registry name " << registered
              << ")\n";
  return 0;
}

}  // namespace

void AddAccountCommands(CLI::App& app, Context& ctx, Commands& commands) {
  static const char* const kAccountHelp = "Account identifier, or the account's name (its text)";
  auto args = std::make_shared<Args>();
  CLI::App* account = app.add_subcommand(
      "account", "E-mail accounts: the account store's records and the incoming-server account");
  account->require_subcommand(1);

  CLI::App* cmd = account->add_subcommand("ls", "List the accounts (of one folder)");
  cmd->add_option("FOLDER", args->folder, "Only the accounts of this folder number");
  commands.On(cmd, [&ctx, args] { return ListAccounts(ctx, args->folder); });

  cmd = account->add_subcommand("show", "Show one account and its inbox");
  cmd->add_option("ID", args->id, kAccountHelp)->required();
  commands.On(cmd, [&ctx, args] { return ShowAccount(ctx, args->id); });

  cmd = account->add_subcommand("add",
                                "Add an account; its identifier comes from the registry counter");
  cmd->add_option("--folder", args->addFolder, "Folder number that groups the account (default 1)");
  cmd->add_option("--name,--text", args->text,
                  "The account's text, by which commands can name it, at most " +
                      std::to_string(msgstore::AccountStore().textUnits) + " UTF-16 code units")
      ->required();
  cmd->add_option("--data", args->data, "dwData, 0 to 4294967295 (default 0)");
  cmd->add_option("--wdata1", args->wdata1, "wData1, 0 to 65535 (default 0)");
  cmd->add_option("--wdata2", args->wdata2, "wData2, 0 to 65535 (default 0)");
  cmd->add_flag("--default", args->incoming,
                "Make it the incoming-server account, as 'msgstore account use' does");
  commands.On(cmd, [&ctx, args] { return AddAccount(ctx, *args); });

  cmd = account->add_subcommand("rm", "Remove an account (its inbox messages stay)");
  cmd->add_option("ID", args->id, kAccountHelp)->required();
  commands.On(cmd, [&ctx, args] { return RemoveAccount(ctx, args->id); });

  cmd = account->add_subcommand("empty", "Remove every account of a folder");
  cmd->add_option("FOLDER", args->folder, "Folder number")->required();
  cmd->add_flag("--yes", args->yes, "Remove without asking (needed when not on a terminal)");
  cmd->add_flag("--dry-run", args->dryRun, "Say which accounts would be removed, remove none");
  commands.On(cmd, [&ctx, args] { return EmptyAccounts(ctx, *args); });

  cmd = account->add_subcommand(
      "use",
      "Make an account the incoming-server account, whose inbox the store's plain inbox "
      "operations mean (writes the registry values the e-mail application writes)");
  cmd->add_option("ID", args->id, kAccountHelp)->required();
  cmd->add_option("--name", args->name,
                  "The account's registry name, 1 to 15 letters, digits, '_' or '-' (default "
                  "Account and the identifier in 8 hex digits)");
  commands.On(cmd, [&ctx, args] { return UseAccount(ctx, *args); });
}

}  // namespace tool

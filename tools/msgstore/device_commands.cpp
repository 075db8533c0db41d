// The handset around the store: init, card, counters and lang.
#include <strings.h>

#include <cctype>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "msgstore/platform.h"
#include "output.h"

namespace tool {
namespace {

using msgstore::CardUnusable;
using msgstore::DefaultPlatform;

// The arguments of the device commands (one command runs).
struct Args {
  std::string flags, counter, value, language;
};

int Init(Context& ctx) {
  OpenDevice(&ctx, true);
  const bool card = ctx.device->CardInserted();
  if (ctx.card) RequireCard(ctx);
  const bool phone = !ctx.card;
  if (phone) Require(ctx.device->MakeTree(false));
  if (card) Require(ctx.device->MakeTree(true));
  if (PrintedJson(ctx.json, {{"root", ctx.root}, {"phone", phone}, {"card", card}})) return 0;
  std::cout << "device root " << ctx.root << '\n';
  if (phone) std::cout << "made the message tree in phone memory\n";
  std::cout
      << (card ? "made the message tree on the memory card\n"
               : "no memory card is inserted: its tree is made by 'msgstore init' once it is\n");
  return 0;
}

void PrintCardState(Context& ctx) {
  const int state = msgstore::GetPlatform().xGetSDCardState();
  const int flags = DefaultPlatform::GetCardFlags() & CardUnusable();
  const bool inserted = ctx.device->CardInserted();
  const bool takes = inserted && (state & CardUnusable()) == 0;
  if (PrintedJson(ctx.json, {{"inserted", inserted},
                             {"state", state},
                             {"flags", flags},
                             {"can_take_messages", takes}}))
    return;
  std::string meaning = inserted ? "present" : "absent";
  if (inserted) meaning += takes ? ", can take messages" : ", cannot take messages now";
  PrintFields(
      {{"card", inserted ? "inserted" : "not inserted"},
       {"state", std::to_string(state) + " (" + meaning + ")"},
       {"flags", std::to_string(flags) + (flags == 0 ? "" : " (cannot take a message now)")}});
}

// card insert and card eject; with --json they print the card's state after.
int MoveCard(Context& ctx, bool insert) {
  if (insert)
    OpenDevice(&ctx, true);
  else
    RequireCard(ctx);
  Require(insert ? ctx.device->InsertCard() : ctx.device->RemoveCard());
  if (ctx.json)
    PrintCardState(ctx);
  else
    std::cout << (insert ? "memory card inserted\n"
                         : "memory card ejected (its messages come back with 'msgstore card "
                           "insert')\n");
  return 0;
}

// 2, 4: the card flags, each a bit of CardUnusable().
std::vector<int> FlagBits() {
  std::vector<int> bits;
  for (int bit = 1; bit <= CardUnusable(); bit <<= 1)
    if ((CardUnusable() & bit) != 0) bits.push_back(bit);
  return bits;
}

int CardState(Context& ctx, const std::string& flags) {
  if (!flags.empty()) {
    uint64_t value = 0;
    if (!ParseUnsigned(flags, 0xFFFFFFFFu, &value) || (value & ~uint64_t(CardUnusable())) != 0) {
      std::vector<int> values;
      for (int v = 0; v <= CardUnusable(); ++v)
        if ((v & ~CardUnusable()) == 0) values.push_back(v);
      throw UsageError("card flags '" + flags + "' must be " + JoinList(values, ", ", " or ") +
                       " (" + JoinList(FlagBits(), ", ", " and ") +
                       ": the card cannot take a message now)");
    }
    DefaultPlatform::SetCardFlags(static_cast<int>(value));
  }
  PrintCardState(ctx);
  return 0;
}

int CountersCommand(Context& ctx, const Args& args) {
  if (!args.counter.empty()) {
    if (args.value.empty()) throw UsageError("give a value to set counter " + args.counter + " to");
    const DefaultPlatform::CounterName* found = nullptr;
    for (const auto& c : DefaultPlatform::Counters())
      if (strcasecmp(c.name, args.counter.c_str()) == 0) found = &c;
    if (found == nullptr)
      throw UsageError("unknown counter '" + args.counter +
                       "' (counters: " + DefaultPlatform::CounterNames() + ")");
    DefaultPlatform::SetCounter(found->name, ParseNumber("counter value", args.value, 0xFFFFFFFFu));
  }
  nlohmann::ordered_json j = nlohmann::ordered_json::object();
  Table table({"COUNTER", "VALUE", "MEANING"}, {false, true, false});
  for (const auto& c : DefaultPlatform::Counters()) {
    const DWORD value = DefaultPlatform::GetCounter(c.name);
    j[c.name] = value;
    table.AddRow({c.name, std::to_string(value), c.meaning});
  }
  if (!PrintedJson(ctx.json, j)) table.Print(std::cout);
  return 0;
}

int Lang(Context& ctx, const std::string& name) {
  if (!name.empty()) {
    bool ok = name.size() <= 16;
    for (char c : name)
      ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-');
    if (!ok)
      throw UsageError("language '" + name +
                       "' must be 1 to 16 letters, digits, '_' or '-' (like ENG)");
    DefaultPlatform::SetSystemLanguage(Utf8ToUtf16(name));
  }
  const std::u16string language = msgstore::GetPlatform().xGetSystemLanguage();
  const std::string module = msgstore::LanguageModuleName(language);
  if (!PrintedJson(ctx.json, {{"language", Utf16ToUtf8(language)}, {"resource_module", module}}))
    PrintFields({{"language", Utf16ToUtf8(language)}, {"resource module", module}});
  return 0;
}

}  // namespace

void AddDeviceCommands(CLI::App& app, Context& ctx, Commands& commands) {
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand(
      "init", "Make the message trees of phone memory and, when inserted, of the memory card");
  commands.On(cmd, [&ctx] { return Init(ctx); });
  commands.MakesRoot(cmd);

  CLI::App* card = app.add_subcommand("card", "Insert, eject or inspect the simulated memory card");
  card->require_subcommand(1);
  cmd = card->add_subcommand("insert", "Insert the card (the one ejected last, or an empty one)");
  commands.On(cmd, [&ctx] { return MoveCard(ctx, true); });
  commands.MakesRoot(cmd);
  cmd = card->add_subcommand("eject", "Eject the card, keeping its contents aside");
  commands.On(cmd, [&ctx] { return MoveCard(ctx, false); });
  cmd = card->add_subcommand("state", "Show the card state; with FLAGS set the card flags");
  cmd->add_option("FLAGS", args->flags,
                  "0, or " + JoinList(FlagBits(), ", ", " and/or ") +
                      " added: the card is present but cannot take a message now");
  commands.On(cmd, [&ctx, args] { return CardState(ctx, args->flags); });

  cmd = app.add_subcommand("counters",
                           "Show the SMS counters of the handset; with NAME VALUE set one");
  cmd->add_option("NAME", args->counter, "Counter to set: " + DefaultPlatform::CounterNames());
  cmd->add_option("VALUE", args->value, "Its new value");
  commands.On(cmd, [&ctx, args] { return CountersCommand(ctx, *args); });

  cmd = app.add_subcommand("lang", "Show the system language; with NAME set it");
  cmd->add_option("NAME", args->language, "Language, like ENG");
  commands.On(cmd, [&ctx, args] { return Lang(ctx, args->language); });
}

}  // namespace tool

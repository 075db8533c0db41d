// The handset around the store: init, card, counters and lang.
#include <cctype>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "msgstore/platform.h"
#include "output.h"
#include "text.h"

namespace tool {
namespace {

using msgstore::DefaultPlatform;

int Init(Context& ctx) {
  OpenDevice(&ctx, true);
  const bool card = ctx.device->CardInserted();
  if (ctx.card) RequireCard(ctx);
  const bool phone = !ctx.card;
  if (phone) Require(ctx.device->MakeTree(false));
  if (card) Require(ctx.device->MakeTree(true));
  if (ctx.json) {
    PrintJson({{"root", ctx.root}, {"phone", phone}, {"card", card}});
    return 0;
  }
  std::cout << "device root " << ctx.root << '\n';
  if (phone) std::cout << "made the message tree in phone memory\n";
  if (card)
    std::cout << "made the message tree on the memory card\n";
  else
    std::cout << "no memory card is inserted: its tree is made by 'msgstore init' once it is\n";
  return 0;
}

// ---------------------------------------------------------------------------
// card

// The card state bits that keep one store's messages or another's off the card.
int Unusable() {
  int bits = 0;
  for (const StoreDescription* s : Stores()) bits |= s->cardUnusable;
  return bits;
}

void PrintCardState(Context& ctx) {
  const int state = msgstore::GetPlatform().xGetSDCardState();
  const int flags = DefaultPlatform::GetCardFlags() & Unusable();
  const bool inserted = ctx.device->CardInserted();
  const bool takes = inserted && (state & Unusable()) == 0;
  if (ctx.json) {
    PrintJson(
        {{"inserted", inserted}, {"state", state}, {"flags", flags}, {"can_take_messages", takes}});
    return;
  }
  std::string meaning = inserted ? "present" : "absent";
  if (inserted) meaning += takes ? ", can take messages" : ", cannot take messages now";
  Table table({"", ""});
  table.AddRow({"card", inserted ? "inserted" : "not inserted"});
  table.AddRow({"state", std::to_string(state) + " (" + meaning + ")"});
  table.AddRow(
      {"flags", std::to_string(flags) + (flags == 0 ? "" : " (cannot take a message now)")});
  table.Print(std::cout);
}

int CardInsert(Context& ctx) {
  OpenDevice(&ctx, true);
  Require(ctx.device->InsertCard());
  if (ctx.json)
    PrintCardState(ctx);
  else
    std::cout << "memory card inserted\n";
  return 0;
}

int CardEject(Context& ctx) {
  RequireCard(ctx);
  Require(ctx.device->RemoveCard());
  if (ctx.json)
    PrintCardState(ctx);
  else
    std::cout << "memory card ejected (its messages come back with 'msgstore card insert')\n";
  return 0;
}

// "2, 4": the card flags, each a bit of Unusable().
std::vector<std::string> FlagBits() {
  std::vector<std::string> bits;
  for (int bit = 1; bit <= Unusable(); bit <<= 1)
    if ((Unusable() & bit) != 0) bits.push_back(std::to_string(bit));
  return bits;
}

// "2 and 4" with last " and "; "0, 2, 4 or 6" with every value.
std::string Words(const std::vector<std::string>& words, const std::string& last) {
  std::string out;
  for (size_t i = 0; i < words.size(); ++i)
    out += (i == 0 ? "" : i + 1 == words.size() ? last : ", ") + words[i];
  return out;
}

int CardState(Context& ctx, const std::string& flags) {
  if (!flags.empty()) {
    uint64_t value = 0;
    if (!ParseUnsigned(flags, 0xFFFFFFFFu, &value) || (value & ~uint64_t(Unusable())) != 0) {
      std::vector<std::string> values;
      for (int v = 0; v <= Unusable(); ++v)
        if ((v & ~Unusable()) == 0) values.push_back(std::to_string(v));
      throw UsageError("card flags '" + flags + "' must be " + Words(values, " or ") + " (" +
                       Words(FlagBits(), " and ") + ": the card cannot take a message now)");
    }
    DefaultPlatform::SetCardFlags(static_cast<int>(value));
  }
  PrintCardState(ctx);
  return 0;
}

// ---------------------------------------------------------------------------
// counters

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

struct CounterArgs {
  std::string name;
  std::string value;
};

int CountersCommand(Context& ctx, const CounterArgs& args) {
  const std::vector<DefaultPlatform::CounterName>& counters = DefaultPlatform::Counters();
  if (!args.name.empty()) {
    if (args.value.empty()) throw UsageError("give a value to set counter " + args.name + " to");
    const DefaultPlatform::CounterName* found = nullptr;
    for (const auto& c : counters)
      if (SameName(c.name, args.name)) found = &c;
    if (found == nullptr)
      throw UsageError("unknown counter '" + args.name +
                       "' (counters: " + DefaultPlatform::CounterNames() + ")");
    uint64_t value = 0;
    if (!ParseUnsigned(args.value, 0xFFFFFFFFu, &value))
      throw UsageError("counter value '" + args.value + "' is not a number from 0 to 4294967295");
    DefaultPlatform::SetCounter(found->name, static_cast<DWORD>(value));
  }
  nlohmann::ordered_json j = nlohmann::ordered_json::object();
  Table table({"COUNTER", "VALUE", "MEANING"}, {false, true, false});
  for (const auto& c : counters) {
    const DWORD value = DefaultPlatform::GetCounter(c.name);
    j[c.name] = value;
    table.AddRow({c.name, std::to_string(value), c.meaning});
  }
  if (ctx.json)
    PrintJson(j);
  else
    table.Print(std::cout);
  return 0;
}

// ---------------------------------------------------------------------------
// lang

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
  if (ctx.json) {
    PrintJson({{"language", Utf16ToUtf8(language)}, {"resource_module", module}});
  } else {
    Table table({"", ""});
    table.AddRow({"language", Utf16ToUtf8(language)});
    table.AddRow({"resource module", module});
    table.Print(std::cout);
  }
  return 0;
}

}  // namespace

void AddDeviceCommands(CLI::App& app, Context& ctx, Commands& commands) {
  CLI::App* cmd = app.add_subcommand(
      "init", "Make the message trees of phone memory and, when inserted, of the memory card");
  commands.On(cmd, [&ctx] { return Init(ctx); });
  commands.MakesRoot(cmd);

  CLI::App* card = app.add_subcommand("card", "Insert, eject or inspect the simulated memory card");
  card->require_subcommand(1);
  cmd = card->add_subcommand("insert", "Insert the card (the one ejected last, or an empty one)");
  commands.On(cmd, [&ctx] { return CardInsert(ctx); });
  commands.MakesRoot(cmd);
  cmd = card->add_subcommand("eject", "Eject the card, keeping its contents aside");
  commands.On(cmd, [&ctx] { return CardEject(ctx); });
  auto flags = std::make_shared<std::string>();
  cmd = card->add_subcommand("state", "Show the card state; with FLAGS set the card flags");
  cmd->add_option("FLAGS", *flags,
                  "0, or " + Words(FlagBits(), " and/or ") +
                      " added: the card is present but cannot take a message now");
  commands.On(cmd, [&ctx, flags] { return CardState(ctx, *flags); });

  auto counter = std::make_shared<CounterArgs>();
  cmd = app.add_subcommand("counters",
                           "Show the SMS counters of the handset; with NAME VALUE set one");
  cmd->add_option("NAME", counter->name, "Counter to set: " + DefaultPlatform::CounterNames());
  cmd->add_option("VALUE", counter->value, "Its new value");
  commands.On(cmd, [&ctx, counter] { return CountersCommand(ctx, *counter); });

  auto lang = std::make_shared<std::string>();
  cmd = app.add_subcommand("lang", "Show the system language; with NAME set it");
  cmd->add_option("NAME", *lang, "Language, like ENG");
  commands.On(cmd, [&ctx, lang] { return Lang(ctx, *lang); });
}

}  // namespace tool

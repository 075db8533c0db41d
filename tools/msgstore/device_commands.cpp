// The handset around the store: init, card, counters and lang.
#include <cctype>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "output.h"
#include "text.h"

namespace tool {
namespace {

int Init(const Context& ctx) {
  bool card = CardInserted();
  if (ctx.card) RequireCard();
  bool phone = !ctx.card;
  for (bool storage : {false, true}) {
    if (storage ? !card : !phone) continue;
    for (const Store* s : Stores()) {
      s->ops.createDir(storage);
      for (const FolderDescription* f : s->Folders())
        if (FolderOnStorage(*s, storage, f->number)) RequireTree(*s, storage, f->number);
    }
  }
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

void PrintCardState(const Context& ctx) {
  // The bits that keep one store's messages or another's off the card.
  int unusable = 0;
  for (const Store* s : Stores()) unusable |= s->d.cardUnusable;
  int state = msgstore::GetPlatform().xGetSDCardState();
  int flags = msgstore::DefaultPlatform::GetCardFlags() & unusable;
  bool inserted = (state & 1) != 0;
  bool takes = inserted && (state & unusable) == 0;
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

int CardInsert(const Context& ctx) {
  if (CardInserted()) throw Failure("the memory card is already inserted");
  if (!msgstore::DefaultPlatform::InsertCard() || !CardInserted())
    throw Failure("could not insert the memory card");
  if (ctx.json)
    PrintCardState(ctx);
  else
    std::cout << "memory card inserted\n";
  return 0;
}

int CardEject(const Context& ctx) {
  RequireCard();
  if (!msgstore::DefaultPlatform::EjectCard() || CardInserted())
    throw Failure("could not eject the memory card");
  if (ctx.json)
    PrintCardState(ctx);
  else
    std::cout << "memory card ejected (its messages come back with 'msgstore card insert')\n";
  return 0;
}

int CardState(const Context& ctx, const std::string& flags) {
  if (!flags.empty()) {
    uint64_t value = 0;
    if (!ParseUnsigned(flags, 0xFFFFFFFFu, &value) || (value & ~uint64_t{6}) != 0)
      throw UsageError("card flags '" + flags +
                       "' must be 0, 2, 4 or 6 (2 and 4: the card cannot take a message now)");
    msgstore::DefaultPlatform::SetCardFlags(static_cast<int>(value));
  }
  PrintCardState(ctx);
  return 0;
}

// ---------------------------------------------------------------------------
// counters

struct Counter {
  const char* name;
  const char* meaning;
};

const std::vector<Counter>& Counters() {
  static const std::vector<Counter> kCounters = {
      {"EmsRecv", "received messages, phone inbox"},
      {"EmsRead", "read messages, phone inbox"},
      {"Ems_SDRecv", "received messages, card inbox"},
      {"Ems_SDRead", "read messages, card inbox"},
      {"SentInSim", "sent messages on the SIM card"},
      {"UnsentInSim", "unsent messages on the SIM card"},
  };
  return kCounters;
}

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

int CountersCommand(const Context& ctx, const CounterArgs& args) {
  if (!args.name.empty()) {
    if (args.value.empty()) throw UsageError("give a value to set counter " + args.name + " to");
    const Counter* found = nullptr;
    for (const auto& c : Counters())
      if (SameName(c.name, args.name)) found = &c;
    if (found == nullptr)
      throw Failure("unknown counter '" + args.name +
                    "' (counters: EmsRecv, EmsRead, Ems_SDRecv, Ems_SDRead, SentInSim, "
                    "UnsentInSim)");
    uint64_t value = 0;
    if (!ParseUnsigned(args.value, 0xFFFFFFFFu, &value))
      throw UsageError("counter value '" + args.value + "' is not a number from 0 to 4294967295");
    msgstore::DefaultPlatform::SetCounter(found->name, static_cast<DWORD>(value));
  }
  nlohmann::ordered_json j = nlohmann::ordered_json::object();
  Table table({"COUNTER", "VALUE", "MEANING"}, {false, true, false});
  for (const auto& c : Counters()) {
    DWORD value = msgstore::DefaultPlatform::GetCounter(c.name);
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

int Lang(const Context& ctx, const std::string& name) {
  if (!name.empty()) {
    bool ok = name.size() <= 16;
    for (char c : name)
      ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-');
    if (!ok)
      throw UsageError("language '" + name +
                       "' must be 1 to 16 letters, digits, '_' or '-' (like ENG)");
    msgstore::DefaultPlatform::SetSystemLanguage(Utf8ToUtf16(name));
  }
  std::string language = Utf16ToUtf8(msgstore::GetPlatform().xGetSystemLanguage());
  std::string module = "apRes" + language + "0123.dll";
  if (ctx.json) {
    PrintJson({{"language", language}, {"resource_module", module}});
  } else {
    Table table({"", ""});
    table.AddRow({"language", language});
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

  CLI::App* card = app.add_subcommand("card", "Insert, eject or inspect the simulated memory card");
  card->require_subcommand(1);
  cmd = card->add_subcommand("insert", "Insert the card (the one ejected last, or an empty one)");
  commands.On(cmd, [&ctx] { return CardInsert(ctx); });
  cmd = card->add_subcommand("eject", "Eject the card, keeping its contents aside");
  commands.On(cmd, [&ctx] { return CardEject(ctx); });
  auto flags = std::make_shared<std::string>();
  cmd = card->add_subcommand("state", "Show the card state; with FLAGS set the card flags");
  cmd->add_option("FLAGS", *flags,
                  "0, or 2 and/or 4 added: the card is present but cannot take a message now");
  commands.On(cmd, [&ctx, flags] { return CardState(ctx, *flags); });

  auto counter = std::make_shared<CounterArgs>();
  cmd = app.add_subcommand("counters",
                           "Show the SMS counters of the handset; with NAME VALUE set one");
  cmd->add_option("NAME", counter->name, "Counter to set");
  cmd->add_option("VALUE", counter->value, "Its new value");
  commands.On(cmd, [&ctx, counter] { return CountersCommand(ctx, *counter); });

  auto lang = std::make_shared<std::string>();
  cmd = app.add_subcommand("lang", "Show the system language; with NAME set it");
  cmd->add_option("NAME", *lang, "Language, like ENG");
  commands.On(cmd, [&ctx, lang] { return Lang(ctx, *lang); });
}

}  // namespace tool

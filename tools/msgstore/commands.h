// The tool's commands and what they share: the global options, the device
// they open, and what they need of a store through the library's
// descriptions and API: store and folder names, storages, numbers and
// accounts given on the command line, and failing on a result in one line.
#ifndef MSGSTORE_TOOL_COMMANDS_H_
#define MSGSTORE_TOOL_COMMANDS_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "msgstore/device.h"
#include "msgstore/stores.h"

namespace tool {

using msgstore::FolderDescription;
using msgstore::Location;
using msgstore::Record;
using msgstore::StoreDescription;
using msgstore::Stores;  // in the order of the commands' help

struct Context {
  std::string root;
  bool card = false;
  bool json = false;
  std::unique_ptr<msgstore::Device> device;
  msgstore::Store& store(const StoreDescription& s) { return device->store(s.kind); }
  msgstore::Accounts& accounts() { return device->accounts(); }
};

// The device root: --root, else the library's default. Made when missing
// with create; otherwise a missing root, or one without a message tree, is a
// Failure and nothing is made; next (default: run init) says what to do then.
void OpenDevice(Context* ctx, bool create, const std::string& next = "");

// Failure with the result's own words when it failed; one that found no
// account of that identifier names the command that lists them.
void Require(const msgstore::Result& result, DWORD account = 0);
// The result, once Require has let it through.
template <class R>
R Required(R result) {
  Require(result);
  return result;
}

// A store by name; UsageError for anything else.
const StoreDescription& ParseStore(const std::string& name);
std::string StoreNames();  // "sms, mms, email"
// "msgstore check sms --fix".
std::string CommandLine(const StoreDescription& s, const std::string& command,
                        const std::string& rest = "");

// "inbox", or the number for an identifier that names no folder.
std::string FolderName(const StoreDescription& s, DWORD folder);
std::string FolderNames(const StoreDescription& s);  // "inbox, draft, ..., none"
// A folder by name ("inbox", "sim-inbox"; case and '_' for '-' do not
// matter) or number; UsageError for anything else.
DWORD ParseFolder(const StoreDescription& s, const std::string& text);
const char* StorageKey(bool card);   // "phone", "card"
const char* StorageName(bool card);  // "phone memory", "memory card"
std::string Where(const StoreDescription& s, bool card, DWORD folder);  // "phone inbox"
std::string What(const StoreDescription& s, const Location& at);  // "message 5 in phone inbox"
const StoreDescription& StoreWithAccounts();                      // the store that has one

// " is not a number from min to max", what a number out of its range is.
std::string NotInRange(int64_t min, uint64_t max);
// A number of an option or argument named what, min to max; UsageError otherwise.
int64_t ParseNumber(const std::string& what, const std::string& text, uint64_t max,
                    int64_t min = 0);
// An account named by its identifier or by its text (a number is an
// identifier first); Failure when no account or several have that text.
DWORD ResolveAccount(Context& ctx, const std::string& text);
void RequireCard(Context& ctx);

// What a command does once the command line has been parsed and the device
// opened; returns the exit status (0, or 1 for a check that found
// differences). Failures are thrown as Failure or UsageError.
using Action = std::function<int()>;

class Commands {
 public:
  // What a command does, and whether it makes the device root when it is
  // missing, and so opens the device itself (OpenDevice); every other one is
  // run on a device whose message tree has been made.
  struct Command {
    Action action;
    bool makesRoot = false;
  };
  void On(CLI::App* command, Action action) { commands_[command].action = std::move(action); }
  void MakesRoot(CLI::App* command) { commands_[command].makesRoot = true; }
  // The innermost selected subcommand, or null.
  const Command* Selected(CLI::App& app) const {
    CLI::App* current = &app;
    while (!current->get_subcommands().empty()) current = current->get_subcommands().front();
    auto it = commands_.find(current);
    return it == commands_.end() ? nullptr : &it->second;
  }

 private:
  std::map<CLI::App*, Command> commands_;
};

// Each Add*Commands function declares its subcommands on the application
// and registers what each one does.
// init, card, counters, lang
void AddDeviceCommands(CLI::App& app, Context& ctx, Commands& commands);
// ls, show, add, mark, mv, rm, empty for every store; count, settle
void AddMessageCommands(CLI::App& app, Context& ctx, Commands& commands);
// refresh, check
void AddIndexCommands(CLI::App& app, Context& ctx, Commands& commands);
// The optional STORE argument of count, refresh and check (every store
// when not given).
void AddStoreArgument(CLI::App* cmd, std::string* store);
// watch
void AddWatchCommand(CLI::App& app, Context& ctx, Commands& commands);
// account ls, show, add, rm, empty, use
void AddAccountCommands(CLI::App& app, Context& ctx, Commands& commands);
// export, import
void AddBackupCommands(CLI::App& app, Context& ctx, Commands& commands);

}  // namespace tool

#endif  // MSGSTORE_TOOL_COMMANDS_H_

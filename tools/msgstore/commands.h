// The tool's commands. Each Add*Commands function declares its subcommands
// on the application and registers what each one does.
#ifndef MSGSTORE_TOOL_COMMANDS_H_
#define MSGSTORE_TOOL_COMMANDS_H_

#include <functional>
#include <map>
#include <string>

#include <CLI/CLI.hpp>

#include "store.h"

namespace tool {

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

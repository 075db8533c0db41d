// msgstore: see and change a handset message store from the command line.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "output.h"

namespace {

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// CLI11 says only "A subcommand is required" for an unknown or missing
// command; name the word it did not know, or the commands it wanted.
std::string CommandError(CLI::App& app, int argc, char** argv) {
  CLI::App* current = &app;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--root") {
      ++i;
      continue;
    }
    if (!arg.empty() && arg[0] == '-') continue;
    if (current->get_require_subcommand_min() == 0) break;
    CLI::App* next = nullptr;
    for (CLI::App* sub : current->get_subcommands({}))
      if (sub->check_name(arg)) next = sub;
    if (next == nullptr)
      return "unknown command '" + arg + "'" + (path.empty() ? "" : " for '" + path + "'");
    current = next;
    path += (path.empty() ? "" : " ") + arg;
  }
  if (current->get_require_subcommand_min() == 0) return "";
  std::string names;
  for (CLI::App* sub : current->get_subcommands({}))
    names += (names.empty() ? "" : ", ") + sub->get_name();
  return (path.empty() ? std::string("no command given") : "'" + path + "' needs a command") +
         ": " + names;
}

// "msgstore ls sms", the commands given on the command line.
std::string CommandPath(CLI::App& app) {
  std::string path = "msgstore";
  for (CLI::App* current = &app; !current->get_subcommands().empty();) {
    current = current->get_subcommands().front();
    path += " " + current->get_name();
  }
  return path;
}

// Every command's help names the global options, which may come after it.
void AddGlobalFooter(CLI::App& app) {
  for (CLI::App* sub : app.get_subcommands({})) {
    sub->footer(
        "Global options (before or after the command):\n"
        "  --root DIR   Device root (default: $MSGSTORE_ROOT, else "
        "${XDG_DATA_HOME:-$HOME/.local/share}/msgstore/device)\n"
        "  --card       Use the memory card instead of phone memory\n"
        "  --json       Print JSON for scripts instead of tables");
    AddGlobalFooter(*sub);
  }
}

int Fail(const std::string& message, int status) {
  std::cout.flush();
  std::cerr << "msgstore: " << OneLine(message) << std::endl;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Output to a file or a pipe goes out in large blocks; a terminal keeps
  // its lines as they come.
  static char outputBuffer[1 << 16];
  if (isatty(STDOUT_FILENO) != 1) std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  tool::Context ctx;
  tool::Commands commands;
  CLI::App app(
      "See and change a handset message store: the message trees of phone memory and memory "
      "card under a device root.",
      "msgstore");
  app.fallthrough();
  app.require_subcommand(1);
  app.add_option("--root", ctx.root,
                 "Device root (default: $MSGSTORE_ROOT, else "
                 "${XDG_DATA_HOME:-$HOME/.local/share}/msgstore/device)");
  app.add_flag("--card", ctx.card, "Use the memory card instead of phone memory");
  app.add_flag("--json", ctx.json, "Print JSON for scripts instead of tables");
  app.footer("Run 'msgstore COMMAND --help' for the options of a command.");

  tool::AddDeviceCommands(app, ctx, commands);
  tool::AddMessageCommands(app, ctx, commands);
  tool::AddIndexCommands(app, ctx, commands);
  tool::AddAccountCommands(app, ctx, commands);
  tool::AddBackupCommands(app, ctx, commands);
  tool::AddWatchCommand(app, ctx, commands);
  AddGlobalFooter(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::string message = e.what();
    if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr &&
        message.find("subcommand") != std::string::npos) {
      std::string better = CommandError(app, argc, argv);
      if (!better.empty()) message = better;
    }
    return Fail(message + " (see '" + CommandPath(app) + " --help')", 2);
  }
  if (app.count("--root") != 0 && ctx.root.empty())
    return Fail("--root needs a directory, not an empty name (see 'msgstore --help')", 2);

  // With standard output closed, the first file the command opens would
  // take its place and receive the output.
  if (fcntl(STDOUT_FILENO, F_GETFD) == -1)
    return Fail("standard output is closed: nothing done", 1);
  const tool::Action* action = commands.Selected(app);
  if (action == nullptr) return Fail("no command given (see 'msgstore --help')", 2);
  int status = 0;
  try {
    // A command that makes the root opens the device itself, once it knows
    // that it will change it.
    if (!commands.MakesRoot(app)) tool::OpenDevice(&ctx, false);
    status = (*action)();
  } catch (const tool::UsageError& e) {
    return Fail(e.what(), 2);
  } catch (const tool::Failure& e) {
    return Fail(e.what(), 1);
  } catch (const std::exception& e) {
    return Fail(std::string("unexpected error: ") + e.what(), 1);
  }
  // What went to standard output, every command's, reached it whole (a full
  // disk, a closed pipe or file): otherwise the output is not to be trusted.
  std::cout.flush();
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || !std::cout.good())
    return Fail("could not write to standard output: what it holds is incomplete", 1);
  return status;
}

// msgstore: see and change a handset message store from the command line.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "output.h"

namespace {

const char* const kRootHelp =
    "Device root (default: $MSGSTORE_ROOT, else "
    "${XDG_DATA_HOME:-$HOME/.local/share}/msgstore/device)";
const char* const kCardHelp = "Use the memory card instead of phone memory";
const char* const kJsonHelp = "Print JSON for scripts instead of tables";

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
    if (!arg.empty() && arg[0] == '-') {
      const std::string name = arg.substr(0, arg.find('='));
      if (path.empty() && app.get_option_no_throw(name) == nullptr)
        return "unknown option '" + name + "'";
      continue;
    }
    if (current->get_require_subcommand_min() == 0) break;
    const auto named = current->get_subcommands([&](CLI::App* s) { return s->check_name(arg); });
    if (named.empty())
      return "unknown command '" + arg + "'" + (path.empty() ? "" : " for '" + path + "'");
    current = named.front();
    path += (path.empty() ? "" : " ") + arg;
  }
  if (current->get_require_subcommand_min() == 0) return "cannot read the command line";
  std::string names;
  for (CLI::App* sub : current->get_subcommands({}))
    names += (names.empty() ? "" : ", ") + sub->get_name();
  return (path.empty() ? std::string("no command given") : "'" + path + "' needs a command") +
         ": " + names;
}

// What the argument parser found wrong, in the tool's words.
std::string ParseErrorText(const CLI::ParseError& e, CLI::App& app, int argc, char** argv) {
  const std::string what = e.what();
  auto after = [&](const std::string& mark) {
    const size_t at = what.find(mark);
    return at == std::string::npos ? std::string() : what.substr(at + mark.size());
  };
  auto before = [&](const std::string& mark) { return what.substr(0, what.find(mark)); };
  if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
    // The parser names them last first.
    std::string extras;
    std::istringstream words(after(" expected: "));
    for (std::string word; words >> word;) extras = word + (extras.empty() ? "" : " ") + extras;
    const std::string first = extras.substr(0, extras.find(' '));
    if (!first.empty() && first[0] == '-' && first.size() > 1)
      return "unknown option '" + first.substr(0, first.find('=')) + "'";
    return (extras.find(' ') == std::string::npos ? "unexpected argument '"
                                                  : "unexpected arguments '") +
           extras + "'";
  }
  if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr) {
    if (what.find("subcommand") != std::string::npos) return CommandError(app, argc, argv);
    const std::string name = before(" is required");
    return name.rfind("--", 0) == 0 ? "option " + name + " is needed" : "missing " + name;
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
    const std::string name = before(":");
    // An option of one value given again: which one counts is not guessed.
    return what.find(" missing") != std::string::npos ? name + " needs a value"
                                                      : name + " can be given only once";
  }
  if (dynamic_cast<const CLI::ExcludesError*>(&e) != nullptr)
    return before(" excludes ") + " and " + after(" excludes ") + " cannot be given together";
  if (dynamic_cast<const CLI::ConversionError*>(&e) != nullptr &&
      what.find("for a flag") != std::string::npos)
    return before(":") + " takes no value";
  return "cannot read the command line: " + what;
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

// Every command's help names the global options, which may come after it,
// after the footer of its own (not the one it took from the tool's).
void AddGlobalFooter(CLI::App& app, const std::string& inherited) {
  for (CLI::App* sub : app.get_subcommands({})) {
    const std::string own = sub->get_footer() == inherited ? "" : sub->get_footer();
    sub->footer((own.empty() ? "" : own + "\n\n") +
                "Global options (before or after the command):\n  --root DIR   " + kRootHelp +
                "\n  --card       " + kCardHelp + "\n  --json       " + kJsonHelp);
    AddGlobalFooter(*sub, inherited);
  }
}

// The message on one line, after what standard output holds.
int Fail(std::string message, int status) {
  for (char& c : message)
    if (c == '\n' || c == '\r') c = ' ';
  while (!message.empty() && message.back() == ' ') message.pop_back();
  std::cout.flush();
  std::cerr << "msgstore: " << message << std::endl;
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
  app.add_option("--root", ctx.root, kRootHelp);
  app.add_flag("--card", ctx.card, kCardHelp);
  app.add_flag("--json", ctx.json, kJsonHelp);
  app.set_version_flag("--version", std::string("msgstore ") + MSGSTORE_VERSION,
                       "Print the tool's version and exit");
  app.footer("Run 'msgstore COMMAND --help' for the options of a command.");

  for (auto add : {tool::AddDeviceCommands, tool::AddMessageCommands, tool::AddIndexCommands,
                   tool::AddAccountCommands, tool::AddBackupCommands, tool::AddWatchCommand})
    add(app, ctx, commands);
  AddGlobalFooter(app, app.get_footer());

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help, --version
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return Fail(ParseErrorText(e, app, argc, argv) + " (see '" + CommandPath(app) + " --help')", 2);
  }
  if (app.count("--root") != 0 && ctx.root.empty())
    return Fail("--root needs a directory, not an empty name (see 'msgstore --help')", 2);

  // With standard output closed, the first file the command opens would
  // take its place and receive the output.
  if (fcntl(STDOUT_FILENO, F_GETFD) == -1)
    return Fail("standard output is closed: nothing done", 1);
  const tool::Commands::Command* command = commands.Selected(app);
  if (command == nullptr) return Fail("no command given (see 'msgstore --help')", 2);
  int status = 0;
  try {
    // A command that makes the root opens the device itself, once it knows
    // that it will change it.
    if (!command->makesRoot) tool::OpenDevice(&ctx, false);
    status = command->action();
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

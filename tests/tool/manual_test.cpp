// The manual page and the bash completion against the commands and options that
// "msgstore --help" and each command's help list.
#include <set>

#include "tool_runner.h"

namespace tool_test {
namespace {

using Words = std::set<std::string>;

// Splits at sep.
std::vector<std::string> Split(const std::string& text, const std::string& sep) {
  std::vector<std::string> parts;
  for (size_t start = 0, end; start <= text.size(); start = end + sep.size()) {
    end = std::min(text.find(sep, start), text.size());
    parts.push_back(text.substr(start, end - start));
  }
  return parts;
}

// The first words of the lines of a help section ("Subcommands:", "Options:", "Positionals:"),
// and for FOLDER the names its line lists.
std::vector<std::string> Section(const std::string& help, const std::string& title) {
  std::vector<std::string> words;
  const size_t at = help.find("\n" + title + "\n");
  for (const std::string& line : Lines(at == help.npos ? "" : help.substr(at + title.size() + 2))) {
    if (!Starts(line, "  ")) break;
    std::istringstream(line) >> words.emplace_back();
    size_t list = line.find_first_not_of(' ', line.find("  ", 8)), end = line.find(", or a num");
    if (words.back() == "FOLDER" && end != std::string::npos)
      words.back() += " " + line.substr(list, end - list);
  }
  return words;
}

// A command as its help describes it: "add email", its subcommands, its options but --help, and
// the names its FOLDER argument takes.
struct Command {
  std::string path;
  std::vector<std::string> children;
  Words options, folders;
};

class ManualTest : public ToolTest {
 protected:
  // Every command and subcommand that the help lists, breadth first.
  std::vector<Command> Commands() {
    std::vector<Command> all(1);
    for (size_t next = 0; next < all.size(); ++next) {
      const std::string prefix = all[next].path.empty() ? "" : all[next].path + " ";
      std::string help = Ok(prefix + "--help");
      Command c = all[next];
      for (const std::string& child : Section(help, "Subcommands:"))
        all.push_back({prefix + c.children.emplace_back(child), {}, {}, {}});
      for (const std::string& names : Section(help, "Options:"))
        for (const std::string& name : Split(names, ","))
          if (Starts(name, "--") && name != "--help") c.options.insert(name);
      for (const std::string& folder : Section(help, "Positionals:"))
        if (Starts(folder, "FOLDER "))
          for (const std::string& name : Split(folder.substr(7), ", ")) c.folders.insert(name);
      all[next] = c;
    }
    return all;
  }
  // What the completion offers for the words of a command line, the last one being completed.
  Words Complete(const std::string& line) {
    std::string words = "'msgstore'";
    std::istringstream in(line);
    size_t count = 0;
    for (std::string w; in >> w; ++count) words += " '" + w + "'";
    if (line.empty() || line.back() == ' ') words += " ''", ++count;
    // The completion reads the help of the msgstore it finds on the PATH.
    Child bash({"/bin/bash", "-c",
                "PATH='" + fs::path(MSGSTORE_TOOL_PATH).parent_path().string() +
                    "':$PATH\nsource '" + (kSources / "msgstore.bash").string() +
                    "'\nCOMP_WORDS=(" + words + ")\nCOMP_CWORD=" + std::to_string(count) +
                    "\n_msgstore\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n"});
    EXPECT_EQ(bash.Finish(), 0) << line << bash.err();
    Words offered;
    for (const std::string& word : Lines(bash.out()))
      if (!word.empty()) offered.insert(word);
    return offered;
  }
};

// Read from one run of every help page: the manual and the completion name what it lists.
TEST_F(ManualTest, TheManualAndTheCompletionNameEveryCommandOptionAndFolder) {
  std::ifstream in(kSources / "msgstore.1", std::ios::binary);
  const std::string manual(std::istreambuf_iterator<char>(in), {});
  ASSERT_FALSE(manual.empty());
  const std::vector<Command> commands = Commands();
  ASSERT_GT(commands.size(), 20u);
  for (const Command& c : commands) {
    for (const std::string& child : c.children) {
      const bool store = child == "sms" || child == "mms" || child == "email";
      // "msgstore ls STORE FOLDER": the command takes the store, which has an entry of its own.
      const std::string entry = c.path.empty() ? child
                                : store        ? c.path + " Ar store"
                                               : c.path + " " + child;
      EXPECT_PRED2(Has, manual, "\n.It Cm " + entry);
      EXPECT_TRUE(!store || c.path.empty() || Has(manual, "\n.It Cm " + child + "\n")) << child;
    }
    for (const std::string& option : c.options)
      EXPECT_PRED2(Has, manual, "Fl " + option.substr(1)) << c.path;
  }
  for (const char* section : {".Sh EXIT STATUS", ".Sh ENVIRONMENT", ".It Ev MSGSTORE_ROOT",
                              ".Sh EXAMPLES", ".Sh EXPORT FORMAT"})
    EXPECT_PRED2(Has, manual, section);
  for (const Command& c : commands) {
    const std::string prefix = c.path.empty() ? "" : c.path + " ";
    Words options = c.options;
    options.insert({"--root", "--card", "--json", "--help", "--version"});
    const bool leaf = c.children.empty();
    EXPECT_EQ(Complete(prefix + (leaf ? "--" : "")),
              leaf ? options : Words(c.children.begin(), c.children.end()))
        << c.path;
    if (leaf && !c.folders.empty()) {
      EXPECT_EQ(Complete(prefix + (Starts(c.path, "mv ") ? "1 " : "")), c.folders) << c.path;
    }
  }
  // Values of options are not taken for words of the command.
  EXPECT_EQ(Complete("--root /tmp add --text x email i"), Words{"inbox"});
  EXPECT_EQ(Complete("export "), (Words{"sms", "mms", "email", "accounts"}));
  // After several identifiers, the folder mv moves them to.
  EXPECT_EQ(Complete("mv sms 1 2 3 sp"), Words{"spam"});
}

}  // namespace
}  // namespace tool_test

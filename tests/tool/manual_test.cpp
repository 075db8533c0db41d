// The manual page and the bash completion against the commands and options that
// "msgstore --help" and each command's help list.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tool_runner.h"

namespace tool_test {
namespace {

namespace fs = std::filesystem;

const fs::path kSources = fs::path(__FILE__).parent_path() / ".." / ".." / "tools" / "msgstore";

// The first words of the lines of a help section ("Subcommands:", "Options:", "Positionals:"),
// and for FOLDER the names its line lists.
std::vector<std::string> Section(const std::string& help, const std::string& title) {
  std::vector<std::string> words;
  bool in = false;
  for (const std::string& line : Lines(help)) {
    if (line == title) {
      in = true;
    } else if (in && line.rfind("  ", 0) == 0) {
      std::istringstream(line) >> words.emplace_back();
      size_t list = line.find_first_not_of(' ', line.find("  ", 8)), end = line.find(", or a num");
      if (words.back() == "FOLDER" && end != std::string::npos)
        words.back() += " " + line.substr(list, end - list);
    } else if (in) {
      break;
    }
  }
  return words;
}

// Splits at sep.
std::vector<std::string> Split(const std::string& text, const std::string& sep) {
  std::vector<std::string> parts;
  for (size_t start = 0, end; start <= text.size(); start = end + sep.size()) {
    end = std::min(text.find(sep, start), text.size());
    parts.push_back(text.substr(start, end - start));
  }
  return parts;
}

// A command as its help describes it.
struct Command {
  std::string path;                   // "add email"
  std::vector<std::string> children;  // its subcommands
  std::set<std::string> options;      // "--to", ... (not --help)
  std::set<std::string> folders;      // the names its FOLDER argument takes
};

class ManualTest : public ToolTest {
 protected:
  // Every command and subcommand that the help lists, breadth first.
  std::vector<Command> Commands() {
    std::vector<Command> all;
    all.push_back({});
    for (size_t next = 0; next < all.size(); ++next) {
      const std::string prefix = all[next].path.empty() ? "" : all[next].path + " ";
      std::string help = Ok(prefix + "--help");
      Command c = all[next];
      for (const std::string& child : Section(help, "Subcommands:")) {
        c.children.push_back(child);
        all.push_back({prefix + child, {}, {}, {}});
      }
      for (const std::string& names : Section(help, "Options:"))
        for (const std::string& name : Split(names, ","))
          if (name.rfind("--", 0) == 0 && name != "--help") c.options.insert(name);
      for (const std::string& folder : Section(help, "Positionals:"))
        if (folder.rfind("FOLDER ", 0) == 0)
          for (const std::string& name : Split(folder.substr(7), ", ")) c.folders.insert(name);
      all[next] = c;
    }
    return all;
  }

  // What the completion offers for the words of a command line, the last one being completed.
  std::set<std::string> Complete(const std::string& line) {
    std::string words = "'msgstore'";
    std::istringstream in(line);
    size_t count = 0;
    for (std::string w; in >> w; ++count) words += " '" + w + "'";
    if (line.empty() || line.back() == ' ') words += " ''", ++count;
    const std::string script = root_ + "/complete.sh";
    std::ofstream(script) << "source '" << (kSources / "msgstore.bash").string() << "'\n"
                          << "COMP_WORDS=(" << words << ")\nCOMP_CWORD=" << count << "\n"
                          << "_msgstore\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n";
    std::string text;
    FILE* out = popen(("bash '" + script + "'").c_str(), "r");
    char buffer[4096];
    for (size_t n; out != nullptr && (n = fread(buffer, 1, sizeof buffer, out)) > 0;)
      text.append(buffer, n);
    EXPECT_TRUE(out != nullptr && pclose(out) == 0) << line;
    std::set<std::string> offered;
    for (const std::string& word : Lines(text))
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
      if (c.path.empty()) {
        EXPECT_TRUE(Has(manual, "\n.It Cm " + child)) << child;
      } else if (child == "sms" || child == "mms" || child == "email") {
        // "msgstore ls STORE FOLDER": the command takes the store, which has an entry of its own.
        EXPECT_TRUE(Has(manual, "\n.It Cm " + c.path + " Ar store")) << c.path;
        EXPECT_TRUE(Has(manual, "\n.It Cm " + child + "\n")) << child;
      } else {
        EXPECT_TRUE(Has(manual, "\n.It Cm " + c.path + " " + child)) << c.path << " " << child;
      }
    }
    for (const std::string& option : c.options)
      EXPECT_TRUE(Has(manual, "Fl " + option.substr(1))) << c.path << " " << option;
  }
  for (const char* section : {".Sh EXIT STATUS", ".Sh ENVIRONMENT", ".It Ev MSGSTORE_ROOT",
                              ".Sh EXAMPLES", ".Sh EXPORT FORMAT"})
    EXPECT_TRUE(Has(manual, section)) << section;
  for (const Command& c : commands) {
    const std::string prefix = c.path.empty() ? "" : c.path + " ";
    if (!c.children.empty()) {
      EXPECT_EQ(Complete(prefix), std::set<std::string>(c.children.begin(), c.children.end()))
          << c.path;
      continue;
    }
    std::set<std::string> options = c.options;
    options.insert({"--root", "--card", "--json", "--help"});
    EXPECT_EQ(Complete(prefix + "--"), options) << c.path;
    if (!c.folders.empty()) {
      EXPECT_EQ(Complete(prefix + (c.path.rfind("mv ", 0) == 0 ? "1 " : "")), c.folders) << c.path;
    }
  }
  // Values of options are not taken for words of the command.
  EXPECT_EQ(Complete("--root /tmp add --text x email i"), (std::set<std::string>{"inbox"}));
  EXPECT_EQ(Complete("export "), (std::set<std::string>{"sms", "mms", "email", "accounts"}));
}

}  // namespace
}  // namespace tool_test

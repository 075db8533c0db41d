// The manual page and the bash completion against the commands and options
// that "msgstore --help" and each command's help list.
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

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lines of a help section ("Subcommands:", "Options:", "Positionals:").
std::vector<std::string> Section(const std::string& help, const std::string& title) {
  std::vector<std::string> lines;
  bool in = false;
  for (const std::string& line : Lines(help)) {
    if (line == title) {
      in = true;
    } else if (in && line.rfind("  ", 0) == 0) {
      lines.push_back(line);
    } else if (in) {
      break;
    }
  }
  return lines;
}

std::string FirstWord(const std::string& line) {
  std::istringstream in(line);
  std::string word;
  in >> word;
  return word;
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
  // Every command and subcommand that the help lists, breadth first; read
  // once for all tests.
  const std::vector<Command>& Commands() {
    static std::vector<Command> all;
    if (!all.empty()) return all;
    std::vector<std::string> pending = {""};
    while (!pending.empty()) {
      Command c;
      c.path = pending.front();
      pending.erase(pending.begin());
      std::string help = Ok((c.path.empty() ? "" : c.path + " ") + "--help");
      for (const std::string& line : Section(help, "Subcommands:")) {
        c.children.push_back(FirstWord(line));
        pending.push_back((c.path.empty() ? "" : c.path + " ") + FirstWord(line));
      }
      for (const std::string& line : Section(help, "Options:")) {
        std::string names = FirstWord(line);
        for (size_t start = 0; start < names.size();) {
          size_t comma = names.find(',', start);
          std::string name =
              names.substr(start, comma == std::string::npos ? comma : comma - start);
          if (name.rfind("--", 0) == 0 && name != "--help") c.options.insert(name);
          start = comma == std::string::npos ? names.size() : comma + 1;
        }
      }
      for (const std::string& line : Section(help, "Positionals:")) {
        if (FirstWord(line) != "FOLDER" || line.find(", or a number") == std::string::npos)
          continue;
        std::string list = line.substr(line.find_first_not_of(' ', line.find("  ", 8)));
        list = list.substr(0, list.find(", or a number"));
        for (size_t start = 0; start <= list.size();) {
          size_t comma = list.find(", ", start);
          c.folders.insert(list.substr(start, comma == std::string::npos ? comma : comma - start));
          start = comma == std::string::npos ? list.size() + 1 : comma + 2;
        }
      }
      all.push_back(c);
    }
    return all;
  }

  // What the completion offers for the words of a command line, the last
  // one being completed.
  std::set<std::string> Complete(const std::string& line) {
    std::vector<std::string> words = {"msgstore"};
    std::istringstream in(line);
    for (std::string w; in >> w;) words.push_back(w);
    if (line.empty() || line.back() == ' ') words.push_back("");
    std::string array;
    for (const auto& w : words) array += " '" + w + "'";
    const std::string script = root_ + "/complete.sh";
    std::ofstream(script) << "source '" << (kSources / "msgstore.bash").string() << "'\n"
                          << "COMP_WORDS=(" << array << ")\n"
                          << "COMP_CWORD=" << words.size() - 1 << "\n"
                          << "_msgstore\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n";
    std::set<std::string> offered;
    FILE* out = popen(("bash '" + script + "'").c_str(), "r");
    if (out == nullptr) return offered;
    char buffer[4096];
    std::string text;
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
    EXPECT_EQ(pclose(out), 0) << line;
    for (const std::string& word : Lines(text))
      if (!word.empty()) offered.insert(word);
    return offered;
  }
};

TEST_F(ManualTest, TheManualDescribesEveryCommandAndOption) {
  const std::string manual = ReadFile(kSources / "msgstore.1");
  ASSERT_FALSE(manual.empty());
  const std::set<std::string> stores = {"sms", "mms", "email"};
  const std::vector<Command>& commands = Commands();
  ASSERT_GT(commands.size(), 20u);
  for (const Command& c : commands) {
    for (const std::string& child : c.children) {
      if (c.path.empty()) {
        EXPECT_NE(manual.find("\n.It Cm " + child), std::string::npos) << child;
      } else if (stores.count(child) != 0) {
        // "msgstore ls STORE FOLDER": the command takes the store, which
        // has an entry of its own.
        EXPECT_NE(manual.find("\n.It Cm " + c.path + " Ar store"), std::string::npos) << c.path;
        EXPECT_NE(manual.find("\n.It Cm " + child + "\n"), std::string::npos) << child;
      } else {
        EXPECT_NE(manual.find("\n.It Cm " + c.path + " " + child), std::string::npos)
            << c.path << " " << child;
      }
    }
    for (const std::string& option : c.options)
      EXPECT_NE(manual.find("Fl " + option.substr(1)), std::string::npos)
          << c.path << " " << option;
  }
  for (const char* section : {".Sh EXIT STATUS", ".Sh ENVIRONMENT", ".It Ev MSGSTORE_ROOT",
                              ".Sh EXAMPLES", ".Sh EXPORT FORMAT"})
    EXPECT_NE(manual.find(section), std::string::npos) << section;
}

TEST_F(ManualTest, TheCompletionOffersEveryCommandFolderAndOption) {
  const std::set<std::string> global = {"--root", "--card", "--json", "--help"};
  const std::vector<Command>& commands = Commands();
  for (const Command& c : commands) {
    const std::string prefix = c.path.empty() ? "" : c.path + " ";
    if (!c.children.empty()) {
      EXPECT_EQ(Complete(prefix), std::set<std::string>(c.children.begin(), c.children.end()))
          << c.path;
      continue;
    }
    std::set<std::string> options = c.options;
    options.insert(global.begin(), global.end());
    EXPECT_EQ(Complete(prefix + "--"), options) << c.path;
    if (!c.folders.empty()) {
      bool idFirst = c.path.rfind("mv ", 0) == 0;
      EXPECT_EQ(Complete(prefix + (idFirst ? "1 " : "")), c.folders) << c.path;
    }
  }
  // Values of options are not taken for words of the command.
  EXPECT_EQ(Complete("--root /tmp add --text x email i"), (std::set<std::string>{"inbox"}));
  EXPECT_EQ(Complete("export "), (std::set<std::string>{"sms", "mms", "email", "accounts"}));
  EXPECT_EQ(Complete("count "), (std::set<std::string>{"sms", "mms", "email"}));
}

}  // namespace
}  // namespace tool_test
